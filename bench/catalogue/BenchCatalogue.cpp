// The catalogue's share of a fileOpen on a full catalogue: open (exclusive, read-only, password), the
// asana query with MoveFirst and its three fields, the cue-table query with its first row, and the
// release of the previous objects. Target: under 2 ms. Prints figures; asserts nothing.
#include "CatalogueBuilder.h"
#include "catalogue/Dao.h"
#include "common/Conversions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <stdlib.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Asanas = 1000;

std::string Manifest() {
    std::string m = R"({"asanas": [)";
    for (int i = 1; i <= Asanas; ++i) {
        const std::string id = std::to_string(i);
        const bool video = i % 2 == 1;
        m += std::string(i > 1 ? "," : "") + R"({"name": "Asana number )" + id + R"(", "AsanaID": )" + id +
             R"(, "Disp_Type": ")" + (video ? "Video" : "Photo") + R"(", "VideoName": "v)" + id + R"(.mpg", )";
        m += video ? R"("cues": [)" : R"("photos": [)";
        for (int k = 0; k < 8; ++k) {
            m += k ? "," : "";
            m += video ? R"({"Filename": "s)" + id + "_" + std::to_string(k) + R"(", "Action": "step", "StartPos": )" +
                             std::to_string(k * 100) + R"(, "EndPos": )" + std::to_string(k * 100 + 90) +
                             R"(, "Filelen": 12345.5})"
                       : R"({"Mp2name": "s)" + id + "_" + std::to_string(k) + R"(", "ImageName": "p.jpg"})";
        }
        m += "]}";
    }
    return m + "]}";
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// fileOpen's catalogue steps for one asana; returns the cue or photo rows' recordset.
void CatalogueSteps(const std::string& path, const std::string& name, std::shared_ptr<calmora::dao::Database>& db,
                    std::shared_ptr<calmora::dao::Recordset>& rs) {
    using namespace calmora;
    db = dao::DBEngine::Get().Workspaces(0).OpenDatabase(path, true, true, ";PWD=Mira6tocaPQ;");
    rs = db->OpenRecordset("select * from Asanas where name = \"" + name + "\"");
    rs->MoveFirst();
    const Variant id = rs->Fields("AsanaID");
    const bool video = TextEquals(rs->Fields("Disp_Type"), "Video");
    if (video) CStr(rs->Fields("VideoName"));
    rs = db->OpenRecordset(std::string(video ? "select * from Audio_Asana" : "select * from Photo_Asana") +
                           Trim(CStr(Str(id))));
    rs->MoveFirst();
    if (video) {
        CStr(rs->Fields("Filename"));
        CStr(rs->Fields("Action"));
        CInt(rs->Fields("StartPos"));
        CInt(rs->Fields("EndPos"));
        CDbl(rs->Fields("Filelen"));
    } else {
        CStr(rs->Fields("Mp2name"));
        CStr(rs->Fields("ImageName"));
    }
}

void Report(const char* what, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    std::printf("%-44s n=%-4zu min %7.1f  median %7.1f  p95 %7.1f  max %7.1f us\n", what, us.size(), us.front(),
                us[us.size() / 2], us[us.size() * 95 / 100], us.back());
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "calmora-bench-XXXXXX").string();
    if (!::mkdtemp(dir.data())) return 1;
    const std::string path = dir + "/REZozi.mdb";

    auto t0 = Clock::now();
    calmora::catalogue::BuildCatalogue(Manifest(), path);
    const double buildMs = Micros(Clock::now() - t0) / 1000;
    std::printf("catalogue: %d asanas, %d catalogue tables, %.1f MB, built in %.0f ms\n", Asanas, 2 * Asanas + 1,
                static_cast<double>(std::filesystem::file_size(path)) / 1e6, buildMs);

    std::shared_ptr<calmora::dao::Database> db;
    std::shared_ptr<calmora::dao::Recordset> rs;
    t0 = Clock::now();
    CatalogueSteps(path, "Asana number 1", db, rs);
    std::printf("%-44s %7.1f us (password derived once per process)\n", "first fileOpen (cold)", Micros(Clock::now() - t0));

    constexpr int Rounds = 500;
    std::vector<double> first, middle, last, video, photo;
    for (int i = 0; i < Rounds; ++i) {
        for (auto [name, out] : {std::pair{"Asana number 1", &first}, std::pair{"Asana number 501", &middle},
                                 std::pair{"Asana number 1000", &last}}) {
            t0 = Clock::now();
            CatalogueSteps(path, name, db, rs);  // replaces the previous objects, as fileOpen does
            out->push_back(Micros(Clock::now() - t0));
        }
    }
    Report("fileOpen catalogue part, first asana", first);
    Report("fileOpen catalogue part, asana 501 (video)", middle);
    Report("fileOpen catalogue part, asana 1000 (photo)", last);
    std::vector<double> all = first;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), last.begin(), last.end());
    std::sort(all.begin(), all.end());
    const double median = all[all.size() / 2], p95 = all[all.size() * 95 / 100];
    // Judged on the median: on a busy machine single rounds lose a whole scheduler slice (about 4 ms).
    std::printf("target: under 2000 us -> median %.1f us (p95 %.1f us): %s\n", median, p95,
                median < 2000 ? "met" : "NOT MET");

    rs.reset();
    db.reset();
    std::filesystem::remove_all(dir);
    return 0;
}
