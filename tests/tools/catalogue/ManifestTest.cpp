// The manifest reader and writer: what tables a manifest makes, which manifests are refused and why,
// and that dump gives back a manifest that builds the same catalogue.
#include "CatalogueFixture.h"

#include "common/Conversions.h"

#include <calmora/Error.h>

namespace calmora::testing {
namespace {

using catalogue::ReadManifest;
using catalogue::TableData;

std::string Describe(const Variant& v) {
    if (v.isNull()) return "Null";
    if (v.isBool()) return v.asBool() ? "true" : "false";
    if (v.isInteger()) return "int " + std::to_string(v.asInteger());
    if (v.isDouble()) return "double " + CStr(v);
    return "'" + v.asString() + "'";
}

// name(col,col): row | row
std::string Describe(const TableData& t) {
    std::string out = t.name + "(";
    for (std::size_t c = 0; c < t.columns.size(); ++c) out += (c ? "," : "") + t.columns[c];
    out += "):";
    for (const auto& r : t.rows) {
        out += " [";
        for (std::size_t c = 0; c < r.size(); ++c) out += (c ? " " : "") + Describe(r[c]);
        out += "]";
    }
    return out;
}

TEST(Manifest, MakesTheCatalogueTablesInStoredOrder) {
    const auto tables = ReadManifest(R"({
      "asanas": [
        {"name": "Tree", "AsanaID": 12, "Disp_Type": "Video", "VideoName": "t.mpg", "Level": 2,
         "cues": [{"Filename": "a", "StartPos": 1.5, "Note": "x"}, {"Action": true}]},
        {"AsanaID": "7", "photos": []},
        {"name": "Sun", "AsanaID": -3}
      ],
      "tables": {"Extra": [{"b": null, "a": 1}, {"a": 2, "c": "z"}], "Nothing": []}
    })");
    std::vector<std::string> got;
    for (const auto& t : tables) got.push_back(Describe(t));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "Asanas(name,AsanaID,Disp_Type,VideoName,Level): ['Tree' int 12 'Video' 't.mpg' int 2] "
                       "[Null '7' Null Null Null] ['Sun' int -3 Null Null Null]",
                       "Audio_Asana12(Filename,Action,StartPos,EndPos,Filelen,Note): "
                       "['a' Null double 1.5 Null Null 'x'] [Null true Null Null Null Null]",
                       "Photo_Asana7(Mp2name,ImageName):",
                       "Extra(b,a,c): [Null int 1 Null] [Null int 2 'z']",
                       "Nothing():",
                   }));
}

TEST(Manifest, RefusesWhatItCannotStoreAndSaysWhere) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "not valid JSON"},
        {"{\"asanas\": [}", "not valid JSON"},
        {"[]", "must be a JSON object"},
        {R"({"asana": []})", "unknown key \"asana\""},
        {R"({"asanas": {}})", "asanas: must be a JSON array"},
        {R"({"asanas": ["Tree"]})", "asanas[0]: a row must be a JSON object"},
        {R"({"asanas": [{"name": ["a"]}]})", "asanas[0].name: a value must be text, a number"},
        {R"({"asanas": [{"name": {"a": 1}}]})", "asanas[0].name: a value must be text"},
        {R"({"asanas": [{"Name": "x"}]})", "field \"Name\" clashes with \"name\""},
        {R"({"asanas": [{"name": "x", "cues": []}]})", "asanas[0]: \"AsanaID\" is null"},
        {R"({"asanas": [{"AsanaID": "three", "photos": []}]})", "\"AsanaID\" \"three\" is not a number"},
        {R"({"asanas": [{"AsanaID": 3, "cues": {}}]})", "asanas[0].cues: must be a JSON array"},
        {R"({"asanas": [{"AsanaID": 3, "cues": [[1]]}]})", "asanas[0].cues[0]: a row must be a JSON object"},
        {R"({"asanas": [{"AsanaID": 3, "cues": []}, {"AsanaID": 3.0, "cues": []}]})", "table \"Audio_Asana3\" is given twice"},
        {R"({"asanas": [{"AsanaID": 3, "cues": []}], "tables": {"audio_asana3": []}})", "(as \"Audio_Asana3\"; table names ignore letter case)"},
        {R"({"tables": {"": []}})", "a table name must not be empty"},
        {R"({"tables": {"T": [{"": 1}]}})", "tables.T[0]: a field name must not be empty"},
        {R"({"tables": {"T": {}}})", "tables.T: must be a JSON array of rows"},
        {R"({"tables": {"T": [{"v": 18446744073709551615}]}})", "too large for a whole-number value"},
        {R"({"tables": [] })", "tables: must be a JSON object"},
        {"{\"tables\": {\"T\": [{\"v\": " + std::string(100, '[') + std::string(100, ']') + "}]}}", "nests deeper than"},
    };
    for (const auto& [json, message] : cases) {
        SCOPED_TRACE(json);
        try {
            ReadManifest(json);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
}

const char* const Lesson = R"({
  "asanas": [
    {"name": "Tree", "AsanaID": 3, "Disp_Type": "Video", "VideoName": "tree.mpg",
     "cues": [{"Filename": "a", "Action": "in", "StartPos": 0, "EndPos": 10, "Filelen": 1.5},
              {"Filename": "mt", "Action": null, "StartPos": 40000, "EndPos": "abc", "Filelen": 2}]},
    {"name": "x\" or name = \"Tree", "AsanaID": 4, "Disp_Type": "PHOTO",
     "photos": [{"Mp2name": "Bäume", "ImageName": "p.jpg", "Extra": false}]},
    {"name": "Sun", "AsanaID": 5, "Disp_Type": null, "VideoName": null, "cues": []}
  ],
  "tables": {"Audio_Asana-1": [{"v": 1e300}], "Empty": []}
})";

TEST_F(CatalogueTest, DumpGivesAManifestThatBuildsTheSameCatalogue) {
    const std::string first = Build(Lesson, "first.mdb");
    const std::string dumped = catalogue::DumpCatalogue(first);
    const std::string second = Build(dumped, "second.mdb");
    EXPECT_EQ(catalogue::DumpCatalogue(second), dumped);

    std::vector<std::string> a, b;
    for (const auto& t : ReadManifest(Lesson)) a.push_back(Describe(t));
    for (const auto& t : ReadManifest(dumped)) b.push_back(Describe(t));
    EXPECT_EQ(a, b);
    EXPECT_NE(dumped.find(R"("name": "x\" or name = \"Tree")"), std::string::npos) << dumped;

    // Another password is kept, and needed to dump.
    const std::string locked = Build(Lesson, "locked.mdb", "Other7");
    EXPECT_EQ(ErrorOf([&] { catalogue::DumpCatalogue(locked); }), 3031);
    EXPECT_EQ(catalogue::DumpCatalogue(locked, "Other7"), dumped);
}

TEST_F(CatalogueTest, BuildReplacesTheCatalogueOrLeavesItAlone) {
    const std::string path = Build(R"({"asanas": [{"name": "Old", "AsanaID": 1}]})");
    EXPECT_THROW(Build(R"({"asanas": [{"name": "New", "AsanaID": 1, "cues": {}}]})"), std::runtime_error);
    EXPECT_THROW(Build(R"({"asanas": []})", "REZozi.mdb", ""), std::runtime_error);
    EXPECT_THROW(Build(R"({"asanas": []})", "REZozi.mdb", "semi;colon"), std::runtime_error);
    EXPECT_EQ(OpenCatalogue(path)->OpenRecordset("select * from Asanas")->Fields("name"), Variant("Old"));
    Build(R"({"asanas": [{"name": "New", "AsanaID": 1}]})");
    EXPECT_EQ(OpenCatalogue(path)->OpenRecordset("select * from Asanas")->Fields("name"), Variant("New"));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++files;
    EXPECT_EQ(files, 1u);  // no temporary file left behind
    EXPECT_THROW(catalogue::BuildCatalogue("{}", (dir_ / "no" / "folder.mdb").string()), std::runtime_error);
}

}  // namespace
}  // namespace calmora::testing
