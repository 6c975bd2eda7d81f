// Text helpers shared by the path resolver and the catalogue: letter case folding that covers
// non-ASCII letters (UTF-8), as a case-insensitive file system or database engine compares names.
#pragma once

#include <string>
#include <string_view>

namespace calmora {

std::string FoldCase(std::string_view utf8);  // lower case, every letter; invalid bytes kept as they are
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToUpper(std::string_view utf8);

}  // namespace calmora
