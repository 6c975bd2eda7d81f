// The calmora program on the real engine, headless, with no display and no sound card: a video asana
// with three cues and a photo asana, made with ffmpeg at test time, played to the last VideoEnd.
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

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

bool Sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

TEST(HostGstreamer, PlaysAGeneratedLessonToItsLastVideoEnd) {
    if (!Sh("command -v ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
    const char* bin = std::getenv("CALMORA_BIN");
    ASSERT_NE(bin, nullptr);
    const fs::path root = fs::temp_directory_path() / ("calmora-host-gst-" + std::to_string(::getpid()));
    fs::create_directories(root / "video");
    fs::create_directories(root / "sound" / "mp2");
    const std::string ff = "ffmpeg -nostdin -loglevel error -y ";
    ASSERT_TRUE(Sh(ff + "-f lavfi -i testsrc=size=352x288:rate=25:duration=2 -c:v mpeg1video -f mpeg " +
                   (root / "video" / "flow.mpg").string()));
    for (const char* s : {"a1", "a2", "a3"})
        ASSERT_TRUE(Sh(ff + "-f lavfi -i sine=frequency=440:duration=0.4 -ar 44100 -c:a mp2 " +
                       (root / "sound" / "mp2" / (std::string(s) + ".mp2")).string()));
    ASSERT_TRUE(Sh(ff + "-f lavfi -i color=c=orange:size=64x48 -frames:v 1 " + (root / "video" / "p1.png").string()));
    auto cue = [](const char* f, int s) {
        return json{{"Filename", f}, {"Action", "say"}, {"StartPos", s}, {"EndPos", s + 10}, {"Filelen", 0.4}};
    };
    json manifest = {{"asanas",
                      {{{"name", "Flow"}, {"AsanaID", 1}, {"Disp_Type", "Video"}, {"VideoName", "flow.mpg"},
                        {"cues", {cue("a1", 0), cue("a2", 5), cue("a3", 20)}}},
                       {{"name", "Still"}, {"AsanaID", 2}, {"Disp_Type", "Photo"}, {"VideoName", ""},
                        {"photos", {{{"Mp2name", "a1"}, {"ImageName", "p1.png"}}, {{"Mp2name", "a2"}, {"ImageName", "p1.png"}}}}}}}};
    calmora::catalogue::BuildCatalogue(manifest.dump(), (root / "video" / "REZozi.mdb").string());

    const fs::path out = root / "trace.txt";
    const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY CALMORA_AUDIO_SINK=fakesink " +
                            (fs::path(bin) / "calmora").string() + " --resources " + root.string() +
                            " --media gstreamer --headless --trace --max-seconds 30 Flow Still < /dev/null > " +
                            out.string() + " 2>&1";
    const int raw = std::system(cmd.c_str());
    std::stringstream trace;
    trace << std::ifstream(out).rdbuf();
    const std::string text = trace.str();
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << text;

    int ends = 0, opens = 0;
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        ends += l.find(" event VideoEnd") != std::string::npos;
        opens += l.find(".mp2 alias Sound type mpegVideo\"") != std::string::npos && l.find(" mci ") != std::string::npos;
        EXPECT_EQ(l.find(" fail "), std::string::npos) << l;
    }
    EXPECT_EQ(ends, 2) << text;
    EXPECT_EQ(opens, 5) << "three cues and two photos" << text;
    fs::remove_all(root);
}

}  // namespace
