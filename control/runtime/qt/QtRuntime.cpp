#include <calmora/Runtime.h>
#include <calmora/Error.h>

namespace calmora {

std::unique_ptr<Forms> CreateQtRuntime(void*) { throw RuntimeError(5, "the Qt runtime is not built yet"); }
void* QtRuntimeSurface(Forms&) { return nullptr; }

}  // namespace calmora
