// The profile the updater reads its one value from: an INI file standing in for the Windows profile
// (win.ini), read with the rules of the Windows profile-string function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace calmora::update {

struct ProfileString {
    std::string text;    // at most bufferSize - 1 characters
    std::int16_t count;  // characters placed in the caller's buffer, as the 16-bit result
};

// Looks up `key` in `section` of the INI file `profileFile`. Section and key are matched without regard
// to ASCII letter case (the first match wins); blanks around the value are removed and a value enclosed
// in a matching pair of quotes ('...' or "...") loses them. The result, or `defaultValue` when the
// file, section or key is missing, is cut to bufferSize - 1 characters as the fixed buffer would cut it.
// An unreadable file counts as missing: the profile function never fails.
ProfileString ReadProfileString(const std::string& profileFile, std::string_view section, std::string_view key,
                                std::string_view defaultValue, std::size_t bufferSize);

using EnvironmentLookup = std::function<const char*(const char* name)>;

// Where the profile lives: $CALMORA_PROFILE when set, otherwise win.ini in $XDG_CONFIG_HOME, which
// defaults to ~/.config. Empty or relative XDG_CONFIG_HOME values are ignored, as the XDG rules say.
std::string ProfileLocation(const EnvironmentLookup& getenv);
std::string ProfileLocation();

}  // namespace calmora::update
