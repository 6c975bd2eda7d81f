#pragma once

#include <string>

namespace calmora::runtime {

// Real path of the folder holding the binary this code was loaded from (sync.ocx for hosts, the test
// program when the layers are linked statically), without a trailing "/". Not the working folder.
std::string ComponentFolder();

}  // namespace calmora::runtime
