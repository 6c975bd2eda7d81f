// Making, reading back and checking asana catalogues: the library behind calmora-catalogue, also used
// by the control's tests to build catalogues in a temporary folder.
//
// Manifest (JSON), in the catalogue's own names:
//   {"asanas": [{"name", "AsanaID", "Disp_Type", "VideoName",
//                "cues": [{"Filename", "Action", "StartPos", "EndPos", "Filelen"}],
//                "photos": [{"Mp2name", "ImageName"}]}],
//    "tables": {"<name>": [{"<field>": value, ...}, ...]}}
// "asanas" fills the table Asanas; "cues" (even empty) makes "Audio_Asana" + id and "photos" makes
// "Photo_Asana" + id, id being the AsanaID as the control turns it into text. Absent fields are Null;
// other keys become further fields. "tables" adds raw tables, for content no asana entry expresses.
// Values are stored as given (text, whole or fractional number, true/false, null as Null), whatever
// the field, so that every odd catalogue can be built. Rows keep their order.
#pragma once

#include <calmora/Variant.h>

#include <string>
#include <string_view>
#include <vector>

namespace calmora::catalogue {

inline constexpr const char* DefaultPassword = "Mira6tocaPQ";

// One catalogue table: field names in order and rows of values (one per field).
struct TableData {
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::vector<Variant>> rows;
};

// The tables a manifest describes, in stored order (Asanas, each asana's cue and photo tables, then
// the raw tables). Throws std::runtime_error naming the place of the first fault.
std::vector<TableData> ReadManifest(std::string_view manifestJson);

// Writes the tables as a catalogue protected by password; replaces outPath (through a temporary file
// beside it and a rename, so a reader holding the old file keeps reading the old file).
void WriteCatalogue(const std::vector<TableData>& tables, const std::string& outPath,
                    const std::string& password = DefaultPassword);

// Writes a catalogue from a manifest (JSON text); replaces out. Throws std::runtime_error with a
// clear message on bad input.
void BuildCatalogue(std::string_view manifestJson, const std::string& outPath,
                    const std::string& password = DefaultPassword);

// The manifest of a catalogue, such that BuildCatalogue makes the same catalogue again. Throws
// calmora::RuntimeError (the engine's numbers) when the catalogue does not open.
std::string DumpCatalogue(const std::string& path, const std::string& password = DefaultPassword);

// What in the resource folder would make a lesson misbehave, one human-readable line per finding;
// empty when nothing was found.
std::vector<std::string> CheckResources(const std::string& resourceDir,
                                        const std::string& password = DefaultPassword);

}  // namespace calmora::catalogue
