#include "runtime/ComponentFolder.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <memory>

namespace calmora::runtime {

std::string ComponentFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ComponentFolder), &info) == 0 || !info.dli_fname) return ".";
    std::unique_ptr<char, decltype(&::free)> real(::realpath(info.dli_fname, nullptr), ::free);
    // The main program may be named relative to a working folder it has since left.
    if (!real) real.reset(::realpath("/proc/self/exe", nullptr));
    std::string path = real ? real.get() : info.dli_fname;
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace calmora::runtime
