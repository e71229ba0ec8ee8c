// Unloading the module outside Windows does what a FreeLibrary does there:
// the monitor created last is released, its memory only, with no platform
// call. (At process exit the same runs; it only frees memory.)
#include "monitor/language_monitor.h"

namespace {

__attribute__((destructor)) void onModuleUnload() noexcept {
    try {
        kestrova::processDetach(kestrova::DetachReason::Unload);
    } catch (...) {
        // Nothing can be reported while the module goes away.
    }
}

}  // namespace
