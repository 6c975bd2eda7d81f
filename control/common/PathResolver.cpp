#include "PathResolver.h"

#include "Text.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace calmora {
namespace {

bool Exists(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

// The entry of folder whose name equals name ignoring case; the first in byte order when several do.
bool FindIgnoringCase(const std::string& folder, std::string_view name, std::string& found) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
    if (!dir) return false;
    const std::string want = FoldCase(name);
    std::vector<std::string> matches;
    while (dirent* e = ::readdir(dir.get())) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..") continue;
        if (FoldCase(n) == want) matches.emplace_back(n);
    }
    if (matches.empty()) return false;
    found = *std::min_element(matches.begin(), matches.end());
    return true;
}

}  // namespace

std::string ResolvePath(std::string_view builtPath) {
    std::string mapped(builtPath);
    std::replace(mapped.begin(), mapped.end(), '\\', '/');
    if (mapped.empty() || Exists(mapped)) return mapped;

    // Walk the components; once one is missing altogether, keep the rest as spelt.
    std::string out;
    std::size_t pos = 0;
    if (mapped[0] == '/') {
        out = "/";
        pos = 1;
    }
    bool lost = false;
    while (pos <= mapped.size()) {
        std::size_t next = mapped.find('/', pos);
        if (next == std::string::npos) next = mapped.size();
        std::string_view comp(mapped.data() + pos, next - pos);
        const std::string folder = out.empty() ? std::string() : out;
        std::string candidate = folder;
        if (!candidate.empty() && candidate.back() != '/') candidate += '/';
        if (comp.empty() || comp == "." || comp == ".." || lost) {
            candidate += comp;
        } else {
            std::string exact = candidate + std::string(comp);
            std::string found;
            if (Exists(exact)) {
                candidate = std::move(exact);
            } else if (FindIgnoringCase(folder.empty() ? "." : folder, comp, found)) {
                candidate += found;
            } else {
                candidate = std::move(exact);
                lost = true;
            }
        }
        out = std::move(candidate);
        if (next == mapped.size()) break;
        pos = next + 1;
        if (pos == mapped.size()) {  // trailing separator
            out += '/';
            break;
        }
    }
    return out;
}

}  // namespace calmora
