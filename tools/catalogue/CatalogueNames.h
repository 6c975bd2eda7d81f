// The catalogue's fixed names, as the control reads them, shared by build, dump and check.
#pragma once

#include "common/Conversions.h"

#include <calmora/Error.h>

#include <optional>
#include <string>
#include <vector>

namespace calmora::catalogue::names {

inline const std::string AsanaTable = "Asanas";
inline const std::string CueTablePrefix = "Audio_Asana";
inline const std::string PhotoTablePrefix = "Photo_Asana";
inline const std::vector<std::string> AsanaFields{"name", "AsanaID", "Disp_Type", "VideoName"};
inline const std::vector<std::string> CueFields{"Filename", "Action", "StartPos", "EndPos", "Filelen"};
inline const std::vector<std::string> PhotoFields{"Mp2name", "ImageName"};

// The AsanaID as the control appends it to a table stem: number to text, blanks trimmed. None when
// the value is Null or not a number (the control's conversion fails there).
inline std::optional<std::string> IdText(const Variant& id) {
    try {
        const Variant s = Str(id);
        if (s.isNull()) return std::nullopt;
        return Trim(CStr(s));
    } catch (const RuntimeError&) {
        return std::nullopt;
    }
}

}  // namespace calmora::catalogue::names
