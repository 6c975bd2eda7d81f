// Paths of the run. The paths are built as on the original system, folder + "\name"; the file layer
// gets them through LocalPath, which turns every "\" into "/".
#pragma once

#include <string>
#include <string_view>

namespace calmora::update {

// "/opt/calmora" + "\clm.exe" -> "/opt/calmora/clm.exe". A folder stored with a trailing separator
// gives a doubled "/", which names the same file.
std::string LocalPath(std::string_view builtPath);

// `name` inside a folder that is already a local path (the update folder): joined with "/", never
// mapped, since a Linux folder name may hold a "\".
std::string InFolder(std::string_view localFolder, std::string_view name);

// The folder that holds the running program, from /proc/self/exe: the update medium, whatever the
// working directory is. Throws RuntimeError when the link cannot be read.
std::string ProgramFolder();

}  // namespace calmora::update
