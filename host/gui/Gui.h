// The windowed host: the control in a window with a lesson list, transport buttons and a status line.
#pragma once

#include "../HostOptions.h"
#include "../Script.h"

#include <vector>

namespace calmora::host {

// Runs the lesson in a window; returns the exit status, or -1 when no window can be opened.
int RunGui(int argc, char** argv, const HostOptions& options, const std::vector<ScriptAction>& script);

}  // namespace calmora::host
