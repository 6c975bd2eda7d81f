#include "Paths.h"

#include "Error.h"

#include <cerrno>
#include <climits>
#include <unistd.h>

namespace calmora::update {

std::string LocalPath(std::string_view builtPath)
{
    std::string path(builtPath);
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

std::string InFolder(std::string_view localFolder, std::string_view name)
{
    std::string path(localFolder);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

std::string ProgramFolder()
{
    constexpr const char* self = "/proc/self/exe";
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(self, target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
        RaiseSystemError(n < 0 ? errno : ENAMETOOLONG, self);
    }
    target.resize(static_cast<std::size_t>(n));
    const auto slash = target.find_last_of('/');
    return slash == 0 ? std::string("/") : target.substr(0, slash);
}

}  // namespace calmora::update
