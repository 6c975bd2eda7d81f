#include "Profile.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace calmora::update {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

ProfileString IntoBuffer(std::string_view value, std::size_t bufferSize)
{
    if (bufferSize == 0) {
        return {"", 0};
    }
    // The value ends at the first NUL, as it would in the C string the function hands back.
    value = value.substr(0, value.find('\0'));
    std::string text(value.substr(0, bufferSize - 1));
    const auto count = static_cast<std::int16_t>(text.size());
    return {std::move(text), count};
}

}  // namespace

ProfileString ReadProfileString(const std::string& profileFile, std::string_view section, std::string_view key,
                                std::string_view defaultValue, std::size_t bufferSize)
{
    std::ifstream in(profileFile, std::ios::binary);
    std::string line;
    bool inSection = false;
    bool firstLine = true;
    while (in && std::getline(in, line)) {
        std::string_view view(line);
        if (firstLine && view.starts_with("\xEF\xBB\xBF")) {
            view.remove_prefix(3);  // a byte-order mark written by an editor
        }
        firstLine = false;
        view = Trim(view);
        if (view.empty() || view.front() == ';') {
            continue;
        }
        if (view.front() == '[') {
            const auto close = view.find(']');
            const auto name = Trim(view.substr(1, close == std::string_view::npos ? view.npos : close - 1));
            if (inSection) {
                break;  // only the first section of that name is searched
            }
            inSection = SameIgnoringCase(name, section);
            continue;
        }
        if (!inSection) {
            continue;
        }
        const auto equals = view.find('=');
        const auto name = Trim(view.substr(0, equals));
        if (!SameIgnoringCase(name, key)) {
            continue;
        }
        const auto value = equals == std::string_view::npos ? std::string_view() : view.substr(equals + 1);
        return IntoBuffer(Unquote(Trim(value)), bufferSize);
    }
    return IntoBuffer(Trim(defaultValue), bufferSize);
}

std::string ProfileLocation(const EnvironmentLookup& getenv)
{
    if (const char* explicitFile = getenv("CALMORA_PROFILE"); explicitFile && *explicitFile) {
        return explicitFile;
    }
    if (const char* config = getenv("XDG_CONFIG_HOME"); config && config[0] == '/') {
        return std::string(config) + "/win.ini";
    }
    std::string home;
    if (const char* h = getenv("HOME"); h && *h) {
        home = h;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
        home = pw->pw_dir;
    }
    return home + "/.config/win.ini";
}

std::string ProfileLocation()
{
    return ProfileLocation([](const char* name) { return static_cast<const char*>(std::getenv(name)); });
}

}  // namespace calmora::update
