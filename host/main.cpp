// calmora: plays a lesson with the player control, in a window or headless, with an optional trace.
#include "HostOptions.h"
#include "Keys.h"
#include "Lesson.h"
#include "Script.h"
#include "Trace.h"
#include "gui/Gui.h"

#include <calmora/sync.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace calmora;
using namespace calmora::host;

namespace {

bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

int RunHeadless(const HostOptions& options, const std::vector<ScriptAction>& script) {
    auto runtime = CreateHeadlessRuntime(options.virtualClock ? HeadlessRuntime::ClockKind::Virtual
                                                              : HeadlessRuntime::ClockKind::Real);
    Trace trace(options.trace, runtime->clock(), stdout, !options.virtualClock);
    runtime->SetTickErrorHandler([&](std::string_view timer, std::string_view what) { trace.TickFailed(timer, what); });
    Lesson lesson(options, *runtime, trace, [&](std::int64_t at, std::function<void()> fn) {
        runtime->Post(at, std::move(fn));
    });

    bool quit = false;
    Keys keys([&](char k) {
        switch (k) {
        case 'p': lesson.Call("Pause"); break;
        case 'r': lesson.Call("Start"); break;
        case 's': lesson.Call("StopPlay"); break;
        case 'q': quit = true; break;
        default: break;
        }
    });
    runtime->AddEventSource([&] { keys.Poll(); });

    const std::int64_t start = runtime->clock().nowMs();
    try {
        lesson.Begin(script);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "calmora: %s\n", e.what());
        return 2;
    }
    const std::int64_t limit = options.maxSeconds ? start + static_cast<std::int64_t>(*options.maxSeconds * 1000) : -1;
    bool timedOut = false;
    runtime->RunUntil([&] {
        if (lesson.Done() || quit) return true;
        if (limit >= 0 && runtime->clock().nowMs() >= limit) return timedOut = true;
        return false;
    });
    std::fflush(stdout);
    if (lesson.Done()) return 0;
    if (!timedOut && !quit) std::fprintf(stderr, "calmora: nothing is left to play; the lesson did not reach its end\n");
    if (timedOut) std::fprintf(stderr, "calmora: time limit reached before the lesson ended\n");
    return 3;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    bool help = false;
    auto options = ParseOptions(argc, argv, error, help);
    if (help) {
        std::fputs(Usage(), stdout);
        return 0;
    }
    if (!options) {
        std::fprintf(stderr, "calmora: %s\n\n%s", error.c_str(), Usage());
        return 2;
    }
    std::vector<ScriptAction> script;
    if (!options->script.empty()) {
        std::ifstream in(options->script);
        if (!in) {
            std::fprintf(stderr, "calmora: cannot read script %s\n", options->script.c_str());
            return 2;
        }
        std::stringstream text;
        text << in.rdbuf();
        try {
            script = ParseScript(text.str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "calmora: %s\n", e.what());
            return 2;
        }
    }
    if (!options->headless && !options->virtualClock && HaveDisplay()) {
        int status = RunGui(argc, argv, *options, script);
        if (status >= 0) return status;
    }
    return RunHeadless(*options, script);
}
