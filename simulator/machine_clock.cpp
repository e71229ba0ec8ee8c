#include "simulator/machine_clock.h"

#include "standin/virtual_clock.h"

#include <chrono>
#include <thread>

namespace kestrova::simulator::machine_clock {

// The module's clock on either host: the stand-in platform library's on
// Linux, and on Windows the same one, which kestrova.exe points the DLL's
// Sleep and GetTickCount at for --fast.
std::uint64_t nowMs() { return standin::nowMs(); }
bool isVirtual() { return standin::clockMode() == standin::ClockMode::Virtual; }
void waitMs(std::uint64_t ms) {
    if (ms == 0) return;
    if (isVirtual()) {
        standin::advanceVirtualClock(ms);
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

}  // namespace kestrova::simulator::machine_clock
