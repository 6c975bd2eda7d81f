// What the window shows about the asanas of a resource folder: their names in stored order, their
// kind and the length of their cue or photo lists. Read once at start-up, before the control opens
// the catalogue: the control opens it exclusively, and the hold is per process.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace calmora::host {

enum class AsanaKind { Unknown, Video, Photo };

struct AsanaInfo {
    std::string name;
    AsanaKind kind = AsanaKind::Unknown;
    std::vector<std::string> cues;  // video asana: each cue's Action (its sound's name when it has none)
    int photos = 0;                 // photo asana: the number of photos
};

struct CatalogueInfo {
    std::vector<AsanaInfo> asanas;  // empty when the catalogue could not be read
    std::string problem;            // why not, for the status line

    // The entry of that name (compared ignoring letter case, as the control looks names up), or null.
    const AsanaInfo* Find(std::string_view name) const;
};

// Reads <resources>/video/REZozi.mdb; never throws, everything is closed again on return.
CatalogueInfo ReadCatalogueInfo(const std::string& resources);

}  // namespace calmora::host
