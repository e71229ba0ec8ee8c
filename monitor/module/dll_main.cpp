// The module's entry-point notification on Windows: process detach releases
// the monitor the module created last; every other notification does nothing.
#include "monitor/language_monitor.h"
#include "platform/windows_types.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_DETACH) {
        try {
            kestrova::processDetach();
        } catch (...) {
            // Nothing can be reported while the module goes away.
        }
    }
    return TRUE;
}
