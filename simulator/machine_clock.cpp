#include "simulator/machine_clock.h"

#include <chrono>
#include <thread>

#ifdef _WIN32
#include "platform/windows_types.h"
#else
#include "standin/platform_standin.h"
#endif

namespace kestrova::simulator::machine_clock {

#ifdef _WIN32
// The real module calls the kernel's Sleep: only the real clock exists.
std::uint64_t nowMs() { return GetTickCount64(); }
bool isVirtual() { return false; }
void waitMs(std::uint64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
#else
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
#endif

}  // namespace kestrova::simulator::machine_clock
