// Command line of the calmora host program.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace calmora::host {

enum class TraceLevel { None, Commands, All };
enum class Mode { Play, Preview, PhotoPreview };

struct HostOptions {
    std::string resources;            // --resources DIR
    std::vector<std::string> asanas;  // names, in lesson order
    std::string media = "gstreamer";  // --media gstreamer|sim[:SCENARIO.json]
    bool virtualClock = false;        // --clock virtual
    bool headless = false;            // --headless (default when there is no display)
    TraceLevel trace = TraceLevel::None;
    std::optional<double> maxSeconds; // --max-seconds N
    std::string script;               // --script FILE
    Mode mode = Mode::Play;           // --preview / --photo-preview
};

// Parses argv; on a usage error returns nullopt and fills error. help is set for --help.
std::optional<HostOptions> ParseOptions(int argc, char** argv, std::string& error, bool& help);
const char* Usage();

}  // namespace calmora::host
