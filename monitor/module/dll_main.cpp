// The module's entry-point notification on Windows. Process detach runs
// under the loader lock: a FreeLibrary (lpReserved null) releases the
// monitor the module created last, its memory only; an ending process
// (lpReserved set) leaves everything to Windows. Every other notification
// does nothing.
#include "monitor/language_monitor.h"
#include "platform/windows_types.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        try {
            kestrova::processDetach(reserved != nullptr ? kestrova::DetachReason::ProcessEnd
                                                        : kestrova::DetachReason::Unload);
        } catch (...) {
            // Nothing can be reported while the module goes away.
        }
    }
    return TRUE;
}
