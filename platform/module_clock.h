// The clock the module's conversation with the machine runs on: the link's
// pauses and read bounds, production's pauses between cycles. A table of two
// functions, given to each port when it is opened: by default the platform's
// GetTickCount and Sleep, called afresh each time (kestrova.exe points the
// DLL's imports of them at a clock of its own once the DLL is loaded; the
// stand-in's run on the virtual clock in tests). A test may give a link or a
// port a clock of its own.
//
// What is about other threads stays in real time, whatever this clock says
// (port/monitor_port.h): how long ClosePort or a control request may wait
// for the port at most, so that a host holding the clock cannot hold the
// spooler with it, and the room left in a pause for a control request.
#pragma once

#include "platform/platform_calls.h"
#include "platform/windows_types.h"

namespace kestrova {

struct ModuleClock {
    // Milliseconds, wrapping as GetTickCount does: only differences count.
    DWORD (*nowMs)();
    void (*pause)(DWORD milliseconds);
};

inline DWORD platformNowMs() { return GetTickCount(); }
inline void platformPause(DWORD milliseconds) { Sleep(milliseconds); }

inline const ModuleClock& platformClock() {
    static constexpr ModuleClock clock{&platformNowMs, &platformPause};
    return clock;
}

}  // namespace kestrova
