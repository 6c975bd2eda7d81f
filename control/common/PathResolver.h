// The one path resolver of the control: media, catalogue and pictures all pass the paths the control
// builds through it. "\" becomes "/", and each path component that does not exist with its exact
// spelling is looked up in its folder without regard to letter case (content made on a
// case-insensitive file system must play). A component that matches nothing is kept as spelt, so the
// result names the missing file in an error message.
#pragma once

#include <string>
#include <string_view>

namespace calmora {

std::string ResolvePath(std::string_view builtPath);

}  // namespace calmora
