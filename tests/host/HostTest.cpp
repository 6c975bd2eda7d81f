// The calmora program end to end: simulated media on the virtual clock, read through its trace.
#include "tools/catalogue/CatalogueBuilder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Result {
    int status = -1;
    std::string out;
    std::vector<std::string> lines;
};

class Host : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("CALMORA_BIN");
        ASSERT_NE(bin, nullptr) << "CALMORA_BIN names the folder of the built programs";
        calmora = fs::path(bin) / "calmora";
        root = fs::temp_directory_path() / ("calmora-host-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root / "res" / "video");
        // Photos: a 1x1 PNG.
        static const unsigned char png[] = {
            0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
            0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x90, 0x77, 0x53, 0xDE, 0x00,
            0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x08, 0xD7, 0x63, 0xF8, 0xCF, 0xC0, 0x00, 0x00, 0x03, 0x01,
            0x01, 0x00, 0x18, 0xDD, 0x8D, 0xB0, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60,
            0x82};
        std::ofstream(root / "res" / "video" / "p.png", std::ios::binary)
            .write(reinterpret_cast<const char*>(png), sizeof png);
        auto cue = [](const char* f, int s) {
            return json{{"Filename", f}, {"Action", "a"}, {"StartPos", s}, {"EndPos", 0}, {"Filelen", 1}};
        };
        json manifest = {{"asanas",
                          {{{"name", "Tadasana"},
                            {"AsanaID", 1},
                            {"Disp_Type", "Video"},
                            {"VideoName", "t.mpg"},
                            {"cues", {cue("a1", 0), cue("a2", 50)}}},
                           {{"name", "Balasana"},
                            {"AsanaID", 2},
                            {"Disp_Type", "Photo"},
                            {"VideoName", nullptr},
                            {"photos", {{{"Mp2name", "a1"}, {"ImageName", "p.png"}}, {{"Mp2name", "a2"}, {"ImageName", "p.png"}}}}}}}};
        calmora::catalogue::BuildCatalogue(manifest.dump(), (root / "res" / "video" / "REZozi.mdb").string());
        json scenario = {{"files",
                          {{"video/t.mpg", {{"frames", 250}, {"fps", 25}}},
                           {"sound/mp2/a1.mp2", {{"duration_ms", 1500}}},
                           {"sound/mp2/a2.mp2", {{"duration_ms", 1000}}}}}};
        std::ofstream(root / "scenario.json") << scenario.dump();
        std::ofstream(root / "res" / "lesson.txt") << "Tadasana\nBalasana\n";
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs calmora with the simulated engine on the virtual clock unless args say otherwise.
    Result Run(const std::string& args, const std::string& input = "", bool sim = true) {
        const fs::path out = root / "out.txt";
        std::string cmd = "printf '%s' '" + input + "' | " + calmora.string() + " --resources " + (root / "res").string() +
                          (sim ? " --media sim:" + (root / "scenario.json").string() + " --clock virtual" : "") + " " +
                          args + " > " + out.string() + " 2>" + (root / "err.txt").string();
        Result r;
        int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        std::ifstream in(out);
        std::stringstream ss;
        ss << in.rdbuf();
        r.out = ss.str();
        std::istringstream lines(r.out);
        for (std::string l; std::getline(lines, l);) r.lines.push_back(l);
        return r;
    }
    static std::vector<std::string> Grep(const Result& r, const std::string& what) {
        std::vector<std::string> out;
        for (const auto& l : r.lines)
            if (l.find(what) != std::string::npos) out.push_back(l);
        return out;
    }
    std::string Script(const std::string& text) {
        const fs::path p = root / "script.txt";
        std::ofstream(p) << text;
        return p.string();
    }

    fs::path calmora;
    fs::path root;
};

TEST_F(Host, PlaysTheLessonAndEndsAfterTheLastVideoEnd) {
    auto r = Run("--trace Tadasana Balasana Tadasana");
    EXPECT_EQ(r.status, 0) << r.out;
    // a1 ends at 1.5 s, the video reaches frame 50 at 2 s, a2 ends at 3 s; the photos take 2.5 s.
    EXPECT_EQ(Grep(r, " event "), (std::vector<std::string>{"  3000 event VideoEnd", "  5500 event VideoEnd",
                                                             "  8500 event VideoEnd"}));
    EXPECT_EQ(Grep(r, " call "),
              (std::vector<std::string>{"     0 call Resourcedir \"" + (root / "res").string() + "\"",
                                        "     0 call AsanaNaME \"Tadasana\"", "     0 call fileOpen \"Tadasana\"",
                                        "  3000 call AsanaNaME \"Balasana\"", "  3000 call fileOpen \"Balasana\"",
                                        "  5500 call AsanaNaME \"Tadasana\"", "  5500 call fileOpen \"Tadasana\""}));
    EXPECT_EQ(r.lines.at(3), "     0 mci \"close all\"");
    EXPECT_EQ(r.lines.at(5), "     0 mci \"open " + (root / "res").string() +
                                 "\\video\\t.mpg  alias video type mpegVideo  style child parent  0\"");
    EXPECT_EQ(Grep(r, " picture ").at(1), "  3000 picture \"\"");
    EXPECT_EQ(Grep(r, " picture ").at(2), "  3000 picture \"" + (root / "res").string() + "\\video\\p.png\"");
    EXPECT_TRUE(Grep(r, " query ").empty());
}

TEST_F(Host, WithoutNamesPlaysTheLessonFileAndTraceAllShowsQueries) {
    auto r = Run("--trace=all");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Grep(r, " event ").size(), 2u);
    EXPECT_EQ(Grep(r, "query \"status sound mode\" -> \"playing\"").front(), "     1 query \"status sound mode\" -> \"playing\"");
}

TEST_F(Host, ScriptedCallsRunAtTheirTimes) {
    auto r = Run("--trace --script " + Script("1000 Pause\n3000 Start\n") + " Tadasana");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Grep(r, "call Pause"), std::vector<std::string>{"  1000 call Pause"});
    EXPECT_EQ(Grep(r, "mci \"pause sound\""), std::vector<std::string>{"  1000 mci \"pause sound\""});
    EXPECT_EQ(Grep(r, " event "), std::vector<std::string>{"  5000 event VideoEnd"});
}

TEST_F(Host, FailuresAreTracedAndAMissingAsanaStallsTheLesson) {
    auto r = Run("--trace --script " + Script("0 Preview Nobody\n") + " Nobody Balasana");
    EXPECT_EQ(Grep(r, " msgbox "), std::vector<std::string>{"     0 msgbox \"Asana not found - Nobody\""});
    EXPECT_EQ(Grep(r, "fail Preview"), std::vector<std::string>{"     0 fail Preview: 3021 No current record."});
    EXPECT_EQ(r.status, 3) << "nothing left to play after the missing asana";
}

TEST_F(Host, StopsAtTheTimeLimit) {
    auto r = Run("--trace --max-seconds 1 Tadasana");
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(Grep(r, " event ").empty());
    EXPECT_EQ(Grep(r, "call").size(), 3u) << "no StopPlay at the end";
}

TEST_F(Host, KeysCallPauseResumeStopAndQuit) {
    auto r = Run("--trace Tadasana", "prsq");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(Grep(r, " call ").size(), 6u);
    EXPECT_EQ(Grep(r, " call ").at(3).substr(7), "call Pause");
    EXPECT_EQ(Grep(r, " call ").at(4).substr(7), "call Start");
    EXPECT_EQ(Grep(r, " call ").at(5).substr(7), "call StopPlay");
}

TEST_F(Host, PreviewsRunWithTheirOwnMembers) {
    auto r = Run("--trace --photo-preview Balasana Balasana");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Grep(r, " event "), (std::vector<std::string>{"   400 event VideoEnd", "   800 event VideoEnd"}));
    EXPECT_EQ(Grep(r, "call Ppreview").size(), 2u);
}

TEST_F(Host, UsageErrorsExitWithTwo) {
    struct Case {
        std::string args;
        bool sim;
    } cases[] = {{"--clock virtual Tadasana", false},
                 {"--bogus", true},
                 {"--script " + Script("10 Dance\n"), true},
                 {"--script /nonexistent/script", true},
                 {"--max-seconds soon", true}};
    for (const auto& c : cases) EXPECT_EQ(Run(c.args, "", c.sim).status, 2) << c.args;
    EXPECT_EQ(Run("--help").status, 0);
}

}  // namespace
