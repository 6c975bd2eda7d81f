// Timed host calls: lines "<ms> <member> [argument]", run when the clock reaches that many ms after the
// first call. Blank lines and lines starting with "#" are ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace calmora::host {

struct ScriptAction {
    std::int64_t atMs = 0;
    std::string member;                 // Pause Start StopPlay fileOpen Preview Ppreview AsanaNaME Resourcedir
    std::optional<std::string> argument;  // the rest of the line after one blank, as written
};

// Throws std::runtime_error naming the line on a bad line.
std::vector<ScriptAction> ParseScript(const std::string& text);
bool IsScriptMember(const std::string& member);

}  // namespace calmora::host
