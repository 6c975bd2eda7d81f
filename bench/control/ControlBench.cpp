// The lesson logic's own cost on the simulated engine and the virtual clock:
//  - one Timer1 tick (two status queries, the hold rule; "pause video" while holding), target <= 1 us;
//  - a dry run of a one-hour lesson (3.6 million ticks), target < 5 s of wall time;
//  - memory over thousands of chained asanas (flat).
#include "VideoCntl/VideoCntl.h"
#include "runtime/headless/HeadlessRuntime.h"
#include "tools/catalogue/CatalogueBuilder.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace calmora;
using nlohmann::json;
using WallClock = std::chrono::steady_clock;

namespace {

struct Site final : ContainerSite {
    HeadlessRuntime* rt = nullptr;
    std::string engine;
    long ends = 0;
    std::function<void()> onEnd;
    void PropertyChanged(std::string_view) override {}
    void RaiseEvent(int, std::string_view) override {
        ++ends;
        if (onEnd) onEnd();
    }
    Forms& Runtime() override { return *rt; }
    std::string MediaEngine() override { return engine; }
};

long RssKiB() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

json CueRow(const std::string& f, int start) {
    return {{"Filename", f}, {"Action", "a"}, {"StartPos", start}, {"EndPos", 0}, {"Filelen", 1.0}};
}

struct Content {
    fs::path root;
    std::string scenario;
    explicit Content(const json& manifest, const json& files) {
        root = fs::temp_directory_path() / ("calmora-bench-" + std::to_string(::getpid()));
        fs::create_directories(root / "res" / "video");
        catalogue::BuildCatalogue(manifest.dump(), (root / "res" / "video" / "REZozi.mdb").string());
        scenario = (root / "scenario.json").string();
        std::ofstream(scenario) << json{{"files", files}}.dump();
    }
    ~Content() { fs::remove_all(root); }
};

double Seconds(WallClock::time_point a, WallClock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A control on the virtual clock, playing the content's simulated media.
struct Player {
    std::unique_ptr<HeadlessRuntime> rt = CreateHeadlessRuntime(HeadlessRuntime::ClockKind::Virtual);
    Site site;
    std::unique_ptr<VideoCntl> ctl;
    explicit Player(const Content& c) {
        site.rt = rt.get();
        site.engine = "sim:" + c.scenario;
        ctl = std::make_unique<VideoCntl>(site);
        ctl->InitNew();
        ctl->put_Resourcedir((c.root / "res").string());
    }
    void Open(const std::string& name) {
        ctl->put_AsanaNaME(name);
        ctl->fileOpen();
    }
};

void TickCost() {
    // A sound far longer than the way to the next cue: the video is held and every tick re-pauses it.
    json manifest = {{"asanas",
                      {{{"name", "Hold"}, {"AsanaID", 1}, {"Disp_Type", "Video"}, {"VideoName", "v.mpg"},
                        {"cues", {CueRow("long", 0), CueRow("long", 10)}}},
                       {{"name", "Run"}, {"AsanaID", 2}, {"Disp_Type", "Video"}, {"VideoName", "v.mpg"},
                        {"cues", {CueRow("long", 0), CueRow("long", 30000)}}}}}};
    json files = {{"video/v.mpg", {{"frames", 32000}, {"fps", 25}}}, {"sound/mp2/long.mp2", {{"duration_ms", 10000000}}}};
    Content c(manifest, files);
    for (const char* name : {"Run", "Hold"}) {
        Player p(c);
        p.Open(name);
        p.rt->Advance(1000);  // into the state measured
        const int ticks = 2000000;
        auto t0 = WallClock::now();
        p.rt->Advance(ticks);
        auto t1 = WallClock::now();
        std::printf("Timer1 tick, video %-8s %7.3f us per tick (target <= 1 us; two status queries%s)\n",
                    std::string(name) == "Hold" ? "held:" : "running:", Seconds(t0, t1) * 1e6 / ticks,
                    std::string(name) == "Hold" ? " and \"pause video\"" : "");
    }
}

void OneHourDryRun() {
    // Sixty one-minute video asanas of four cues each, chained from VideoEnd.
    json manifest = {{"asanas", json::array()}};
    json files = {{"video/v.mpg", {{"frames", 1500}, {"fps", 25}}}};
    for (int i = 0; i < 4; ++i) files["sound/mp2/c" + std::to_string(i) + ".mp2"] = {{"duration_ms", 15000}};
    for (int a = 0; a < 60; ++a)
        manifest["asanas"].push_back({{"name", "A" + std::to_string(a)}, {"AsanaID", a + 1}, {"Disp_Type", "Video"},
                                      {"VideoName", "v.mpg"},
                                      {"cues", {CueRow("c0", 0), CueRow("c1", 300), CueRow("c2", 600), CueRow("c3", 900)}}});
    Content c(manifest, files);
    Player p(c);
    int next = 0;
    p.site.onEnd = [&] {
        if (++next < 60) p.Open("A" + std::to_string(next));
    };
    auto t0 = WallClock::now();
    p.Open("A0");
    p.rt->RunUntil([&] { return p.site.ends == 60; });
    auto t1 = WallClock::now();
    std::printf("one-hour lesson dry run: %ld asanas, %.1f virtual minutes, %.2f s wall (target < 5 s)\n", p.site.ends,
                p.rt->clock().nowMs() / 60000.0, Seconds(t0, t1));
}

void ChainedMemory() {
    json manifest = {{"asanas",
                      {{{"name", "V"}, {"AsanaID", 1}, {"Disp_Type", "Video"}, {"VideoName", "v.mpg"},
                        {"cues", {CueRow("s", 0), CueRow("s", 1)}}},
                       {{"name", "P"}, {"AsanaID", 2}, {"Disp_Type", "Photo"}, {"VideoName", nullptr},
                        {"photos", json::array()}}}}};
    json files = {{"video/v.mpg", {{"frames", 100}, {"fps", 25}}}, {"sound/mp2/s.mp2", {{"duration_ms", 20}}}};
    Content c(manifest, files);
    Player p(c);
    p.site.onEnd = [&] { p.ctl->fileOpen(); };
    p.Open("V");
    std::printf("chained asanas, resident memory:");
    auto t0 = WallClock::now();
    for (long target : {1000L, 5000L, 10000L, 20000L}) {
        p.rt->RunUntil([&] { return p.site.ends >= target; });
        std::printf(" %ld: %ld KiB;", target, RssKiB());
    }
    std::printf(" %.1f us per asana\n", Seconds(t0, WallClock::now()) * 1e6 / 20000);
}

}  // namespace

int main() {
    TickCost();
    OneHourDryRun();
    ChainedMemory();
}
