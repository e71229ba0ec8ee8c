// Unloading the module outside Windows does what DLL_PROCESS_DETACH does there.
#include "monitor/language_monitor.h"

namespace {

__attribute__((destructor)) void onModuleUnload() noexcept {
    try {
        kestrova::processDetach();
    } catch (...) {
        // Nothing can be reported while the module goes away.
    }
}

}  // namespace
