#include "Script.h"

#include <array>
#include <stdexcept>

namespace calmora::host {

bool IsScriptMember(const std::string& m) {
    static const std::array<const char*, 8> members = {"Pause",   "Start",    "StopPlay",  "fileOpen",
                                                       "Preview", "Ppreview", "AsanaNaME", "Resourcedir"};
    for (const char* x : members)
        if (m == x) return true;
    return false;
}

std::vector<ScriptAction> ParseScript(const std::string& text) {
    std::vector<ScriptAction> out;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#') {
            if (end == text.size()) break;
            continue;
        }
        auto fail = [&](const std::string& why) {
            throw std::runtime_error("script line " + std::to_string(lineNo) + ": " + why + ": " + line);
        };
        std::size_t j = i;
        while (j < line.size() && line[j] >= '0' && line[j] <= '9') ++j;
        if (j == i || j >= line.size() || (line[j] != ' ' && line[j] != '\t')) fail("expected '<ms> <member>'");
        ScriptAction a;
        a.atMs = std::stoll(line.substr(i, j - i));
        std::size_t k = line.find_first_not_of(" \t", j);
        if (k == std::string::npos) fail("missing member");
        std::size_t m = line.find_first_of(" \t", k);
        a.member = line.substr(k, m == std::string::npos ? std::string::npos : m - k);
        if (!IsScriptMember(a.member)) fail("unknown member '" + a.member + "'");
        if (m != std::string::npos) a.argument = line.substr(m + 1);
        out.push_back(std::move(a));
        if (end == text.size()) break;
    }
    return out;
}

}  // namespace calmora::host
