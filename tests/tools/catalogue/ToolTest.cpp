// check on a resource folder, and the program's commands, messages and exit statuses.
#include "CatalogueFixture.h"

#include <sys/wait.h>

#include <cstdio>

namespace calmora::testing {
namespace {

class ResourceFolder : public CatalogueTest {
protected:
    // A folder made on a case-insensitive file system: the letter case of names differs from the
    // catalogue's, which the player (and so check) does not mind.
    void Touch(const std::string& relative) {
        const auto p = dir_ / relative;
        std::filesystem::create_directories(p.parent_path());
        WriteFile(p, "x");
    }
    void MakeClean() {
        Touch("Video/Tree.MPG");
        Touch("Video/p1.jpg");
        Touch("sound/MP2/A.mp2");
        Touch("sound/MP2/b.MP2");
        Build(R"({"asanas": [
          {"name": "Tree", "AsanaID": 1, "Disp_Type": "Video", "VideoName": "tree.mpg",
           "cues": [{"Filename": "a", "Action": "in", "StartPos": 0, "EndPos": 5, "Filelen": 1},
                    {"Filename": "mt", "Action": "on", "StartPos": 10.4, "EndPos": "20", "Filelen": "2.5"}]},
          {"name": "Sun", "AsanaID": 2, "Disp_Type": "photo",
           "photos": [{"Mp2name": "b", "ImageName": "P1.JPG"}]}]})",
              "Video/REZozi.mdb");
    }
};

TEST_F(ResourceFolder, FindsNothingInAGoodFolder) {
    MakeClean();
    EXPECT_EQ(catalogue::CheckResources(dir_.string()), std::vector<std::string>{});
}

TEST_F(ResourceFolder, ReportsWhatWouldMakeALessonMisbehave) {
    Touch("video/tree.mpg");
    Touch("sound/mp2/a.mp2");
    Build(R"({"asanas": [
      {"name": "Tree", "AsanaID": 1, "Disp_Type": "Video", "VideoName": "gone.mpg",
       "cues": [{"Filename": "a", "Action": "in", "StartPos": 30, "EndPos": 5, "Filelen": 1},
                {"Filename": "a", "Action": null, "StartPos": 20, "EndPos": 40000, "Filelen": "long"},
                {"Filename": null, "Action": "x", "StartPos": null, "EndPos": 1, "Filelen": 1}]},
      {"name": "TREE", "AsanaID": 2, "Disp_Type": "video", "photos": [{"Mp2name": "lost", "ImageName": "p.jpg"}]},
      {"name": "Sun", "AsanaID": 3, "Disp_Type": "PHOTO", "photos": []},
      {"name": "Moon", "AsanaID": 4, "Disp_Type": "Video", "VideoName": "tree.mpg"},
      {"name": "One", "AsanaID": 5, "Disp_Type": "Video", "VideoName": "tree.mpg",
       "cues": [{"Filename": "a", "Action": "in", "StartPos": 0, "EndPos": 5, "Filelen": 1}]},
      {"name": null, "AsanaID": null, "Disp_Type": null}]})",
          "video/REZozi.mdb");
    const std::vector<std::string> want = {
        R"(Asana "Tree" (row 1): video file video\gone.mpg is missing)",
        R"(Asana "Tree" (row 1): Audio_Asana1 cue 2: Action is Null)",
        R"(Asana "Tree" (row 1): Audio_Asana1 cue 2: StartPos 20 is not above the previous cue's 30 (cues play in stored order))",
        R"(Asana "Tree" (row 1): Audio_Asana1 cue 2: EndPos 40000 is outside -32768 to 32767)",
        R"(Asana "Tree" (row 1): Audio_Asana1 cue 2: Filelen "long" is not a number)",
        R"(Asana "Tree" (row 1): Audio_Asana1 cue 3: Filename is Null)",
        R"(Asana "Tree" (row 1): Audio_Asana1 cue 3: StartPos is Null)",
        R"(Asana "TREE" (row 2): has the name of the asana in row 1 (names match ignoring letter case): only the first of them is ever played)",
        R"(Asana "TREE" (row 2): Disp_Type "video" is neither "Video" nor "PHOTO" in any letter case: it plays as a photo asana but previews as a video asana)",
        R"(Asana "TREE" (row 2): Photo_Asana2 photo 1: photo file video\p.jpg is missing)",
        R"(Asana "TREE" (row 2): Photo_Asana2 photo 1: sound file sound\mp2\lost.mp2 is missing)",
        R"(Asana "Sun" (row 3): photo table Photo_Asana3 is empty: nothing plays)",
        R"(Asana "Moon" (row 4): has no cue table Audio_Asana4)",
        R"(Asana in row 6: name is Null: no query selects it)",
        R"(Asana in row 6: Disp_Type is Null: fileOpen plays it as a photo asana and Preview fails)",
        R"(Asana in row 6: AsanaID is Null: its cue or photo table cannot be found)",
    };
    EXPECT_EQ(catalogue::CheckResources(dir_.string()), want);
}

TEST_F(ResourceFolder, ReportsACatalogueThatDoesNotOpen) {
    const auto found = catalogue::CheckResources((dir_ / "nowhere").string());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_NE(found[0].find("does not open: Could not find file"), std::string::npos) << found[0];
}

// ---- The program ----------------------------------------------------------------------------------

struct ProgramRun {
    int status;
    std::string out;  // standard output and error together
};

ProgramRun Program(const std::string& args) {
    const char* bin = std::getenv("CALMORA_BIN");
    const std::string cmd = std::string(bin ? bin : "build/bin") + "/calmora-catalogue " + args + " 2>&1";
    ProgramRun r{-1, {}};
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return r;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST_F(ResourceFolder, ProgramCommandsAndExitStatuses) {
    const std::string d = "'" + dir_.string() + "'";
    WriteFile(dir_ / "lesson.json", R"({"asanas": [{"name": "Tree", "AsanaID": 1, "Disp_Type": "Video",
        "VideoName": "tree.mpg", "cues": []}]})");
    WriteFile(dir_ / "bad.json", R"({"asanas": [{"name": "Tree", "cues": []}]})");

    struct Case {
        std::string args;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"--help", 0, "usage: calmora-catalogue build MANIFEST.json OUT"},
        {"", 2, "no command given"},
        {"frobnicate x", 2, "unknown command frobnicate"},
        {"build " + d + "/lesson.json", 2, "build takes 2 arguments"},
        {"dump a b", 2, "dump takes 1 argument"},
        {"check " + d + " --password", 2, "--password needs a value"},
        {"check " + d + " --verbose", 2, "unknown option --verbose"},
        {"build " + d + "/missing.json " + d + "/x.mdb", 1, "cannot read"},
        {"build " + d + "/bad.json " + d + "/x.mdb", 1, "asanas[0]: \"AsanaID\" is null"},
        {"build " + d + "/lesson.json " + d + "/video/REZozi.mdb --password Pw1", 1, "cannot create a file beside"},
        {"dump " + d + "/none.mdb", 1, "Could not find file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const ProgramRun r = Program(c.args);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    }

    std::filesystem::create_directory(dir_ / "video");
    EXPECT_EQ(Program("build " + d + "/lesson.json " + d + "/video/REZozi.mdb --password Pw1").status, 0);
    const ProgramRun dumped = Program("dump " + d + "/video/REZozi.mdb --password=Pw1");
    EXPECT_EQ(dumped.status, 0);
    EXPECT_NE(dumped.out.find(R"("name": "Tree")"), std::string::npos) << dumped.out;
    EXPECT_EQ(Program("dump " + d + "/video/REZozi.mdb").status, 1);  // the default password does not open it

    const ProgramRun checked = Program("check " + d + " --password Pw1");
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.out.find("video file video\\tree.mpg is missing"), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find("cue table Audio_Asana1 is empty"), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find("2 problems found"), std::string::npos) << checked.out;

    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    MakeClean();
    const ProgramRun clean = Program("check " + d);
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_EQ(clean.out, "");
}

}  // namespace
}  // namespace calmora::testing
