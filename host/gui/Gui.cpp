#include "Gui.h"

namespace calmora::host {

int RunGui(int, char**, const HostOptions&, const std::vector<ScriptAction>&) { return -1; }

}  // namespace calmora::host
