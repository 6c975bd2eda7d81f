#include "HostOptions.h"

#include <cstdlib>
#include <string_view>

namespace calmora::host {

const char* Usage() {
    return "Usage: calmora --resources DIR [options] [ASANA ...]\n"
           "Plays asanas with the Calmora player control (sync.ocx), one after the other: each VideoEnd\n"
           "starts the next. Without names, the names in DIR/lesson.txt are played.\n"
           "\n"
           "  --resources DIR        the resource folder (holds video/REZozi.mdb)\n"
           "  --preview              call Preview instead of fileOpen\n"
           "  --photo-preview        call Ppreview instead of fileOpen\n"
           "  --media ENGINE         gstreamer (default) or sim[:SCENARIO.json]\n"
           "  --clock real|virtual   virtual time needs --media sim; default real\n"
           "  --headless             no window (the default when there is no display)\n"
           "  --trace[=commands|all] print what happens on standard output; all adds status queries\n"
           "  --max-seconds N        give up after N seconds (virtual seconds on the virtual clock;\n"
           "                         default there 3600)\n"
           "  --script FILE          timed host calls, lines '<ms> <member> [argument]'\n"
           "  --help                 this text\n"
           "\n"
           "Keys on standard input: p pause, r resume, s stop, q quit.\n"
           "Exit status: 0 after the last VideoEnd, 3 on the time limit or when nothing is left to play,\n"
           "2 on a usage or start-up error.\n";
}

std::optional<HostOptions> ParseOptions(int argc, char** argv, std::string& error, bool& help) {
    HostOptions o;
    help = false;
    std::string clock = "real";
    auto value = [&](int& i, std::string_view name) -> std::optional<std::string> {
        std::string_view a = argv[i];
        if (a.size() > name.size() && a[name.size()] == '=') return std::string(a.substr(name.size() + 1));
        if (i + 1 >= argc) {
            error = std::string(name) + " needs a value";
            return std::nullopt;
        }
        return std::string(argv[++i]);
    };
    auto is = [](std::string_view a, std::string_view name) {
        return a == name || (a.size() > name.size() && a.substr(0, name.size()) == name && a[name.size()] == '=');
    };
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return o;
        } else if (is(a, "--resources")) {
            auto v = value(i, "--resources");
            if (!v) return std::nullopt;
            o.resources = *v;
        } else if (is(a, "--media")) {
            auto v = value(i, "--media");
            if (!v) return std::nullopt;
            if (*v != "gstreamer" && *v != "sim" && v->rfind("sim:", 0) != 0) {
                error = "--media takes gstreamer, sim or sim:SCENARIO.json";
                return std::nullopt;
            }
            o.media = *v;
        } else if (is(a, "--clock")) {
            auto v = value(i, "--clock");
            if (!v) return std::nullopt;
            if (*v != "real" && *v != "virtual") {
                error = "--clock takes real or virtual";
                return std::nullopt;
            }
            clock = *v;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--trace" || a == "--trace=commands") {
            o.trace = TraceLevel::Commands;
        } else if (a == "--trace=all") {
            o.trace = TraceLevel::All;
        } else if (is(a, "--max-seconds")) {
            auto v = value(i, "--max-seconds");
            if (!v) return std::nullopt;
            char* end = nullptr;
            double s = std::strtod(v->c_str(), &end);
            if (end == v->c_str() || *end || s < 0) {
                error = "--max-seconds takes a number of seconds";
                return std::nullopt;
            }
            o.maxSeconds = s;
        } else if (is(a, "--script")) {
            auto v = value(i, "--script");
            if (!v) return std::nullopt;
            o.script = *v;
        } else if (a == "--preview") {
            o.mode = Mode::Preview;
        } else if (a == "--photo-preview") {
            o.mode = Mode::PhotoPreview;
        } else if (a == "--") {
            for (++i; i < argc; ++i) o.asanas.emplace_back(argv[i]);
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            error = "unknown option " + std::string(a);
            return std::nullopt;
        } else {
            o.asanas.emplace_back(a);
        }
    }
    if (o.resources.empty()) {
        error = "--resources DIR is required";
        return std::nullopt;
    }
    o.virtualClock = clock == "virtual";
    if (o.virtualClock && o.media.rfind("sim", 0) != 0) {
        error = "--clock virtual needs --media sim (a real engine plays in real time)";
        return std::nullopt;
    }
    if (o.virtualClock && !o.maxSeconds) o.maxSeconds = 3600;
    return o;
}

}  // namespace calmora::host
