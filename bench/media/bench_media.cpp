// The cost of one status query through the whole media interface on the simulated engine:
// MediaCommands::SendString("status sound mode") into a 50-blank area, as the cue timer sends it
// twice a tick (a one-hour dry run sends about 7 million). Target: under 500 ns a query.
// Also printed: a position query, a query with a recorder attached, a fire-and-forget command, and
// a failing query (the state after a sound that could not be opened).
#include "media/MediaCommands.h"
#include "media/Recorder.h"
#include "media/simulated/SimulatedEngine.h"

#include <calmora/Runtime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace calmora;
using namespace calmora::media;

class Ticking : public Clock {
public:
    std::int64_t nowMs() const override { return now; }
    std::int64_t now = 0;
};

class BenchForms : public Forms {
public:
    std::unique_ptr<Timer> CreateTimer(std::string_view, int, bool, std::function<void()>) override { return nullptr; }
    std::unique_ptr<PictureBox> CreatePictureBox(std::string_view, Rect) override { return nullptr; }
    void MsgBox(std::string_view, std::string_view) override {}
    void DoEvents() override {}
    std::string AppPath() const override { return "."; }
    const Clock& clock() const override { return clock_; }
    void SetTickErrorHandler(std::function<void(std::string_view, std::string_view)>) override {}
    Ticking clock_;
};

// Best of several rounds, in ns per call.
double NsPerCall(const std::function<void()>& call, int perRound = 2'000'000, int rounds = 5) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < perRound; ++i) call();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count() / perRound);
    }
    return best;
}

void Print(const char* what, double ns, const char* note = "") {
    std::printf("bench_media: %-52s %8.1f ns/query%s\n", what, ns, note);
}

}  // namespace

int main() {
    BenchForms forms;
    const char* scenario = R"({"files": {"sound/mp2/a1.mp2": {"duration_ms": 3600000},
                                         "video/lesson.mpg": {"frames": 90000, "fps": 25}}})";
    auto makeEngine = [&] { return std::make_unique<SimulatedEngine>(forms.clock_, Scenario::Parse(scenario)); };

    MediaCommands media(forms, makeEngine());
    if (!media.Execute("open C:\\res\\sound\\mp2\\a1.mp2 alias Sound type mpegVideo") ||
        !media.Execute("open C:\\res\\video\\lesson.mpg  alias video type mpegVideo  style child parent  1") ||
        !media.Execute("set video time format frames") || !media.Execute("play sound") || !media.Execute("play video"))
        throw std::runtime_error("set-up failed");

    std::string area(50, ' ');
    auto query = [&](const char* text) {
        return [&, text] {
            forms.clock_.now += 1;  // a tick a millisecond: the device brings its time up on every query
            area.assign(50, ' ');
            if (media.SendString(text, area, 49, 0) != 0) throw std::runtime_error("query failed");
        };
    };

    const double mode = NsPerCall(query("status sound mode"));
    Print("SendString \"status sound mode\"", mode, mode < 500 ? "  (target < 500: met)" : "  (target < 500: MISSED)");
    Print("SendString \"status video Position\" (frames)", NsPerCall(query("status video Position")));
    Print("Execute \"pause video\"", NsPerCall([&] { media.Execute("pause video"); }));

    Recorder recorder;
    recorder.SetRecordQueries(false);
    MediaCommands observed(forms, makeEngine(), &recorder);
    observed.Execute("open C:\\res\\sound\\mp2\\a1.mp2 alias Sound type mpegVideo");
    observed.Execute("play sound");
    Print("SendString \"status sound mode\", observed", NsPerCall([&] {
              area.assign(50, ' ');
              observed.SendString("status sound mode", area, 49, 0);
          }));

    MediaCommands empty(forms, makeEngine());
    Print("SendString \"status sound mode\", no such device", NsPerCall([&] {
              area.assign(50, ' ');
              empty.SendString("status sound mode", area, 49, 0);
          }, 200'000));
    return 0;
}
