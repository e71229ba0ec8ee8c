// The platform clock the module's Sleep and GetTickCount run on: real, or
// virtual, where a pause moves the time on instead of waiting. One
// implementation for both hosts: on Linux the stand-in platform library's
// Sleep and GetTickCount run on it; on Windows kestrova.exe points the DLL's
// imports of them here (tool/clock_imports.cpp).
#pragma once

#include "platform/windows_types.h"

#include <cstdint>
#include <functional>

namespace kestrova::standin {

// Real clock, zero time, no limit, no Sleep counted.
void resetClock();

enum class ClockMode { Real, Virtual };
void setClockMode(ClockMode mode);
ClockMode clockMode();
// Milliseconds on the platform clock: virtual time, or real time since resetClock().
std::uint64_t nowMs();
// Sleep calls and milliseconds asked for since the last resetClock().
std::uint64_t sleepCount();
std::uint64_t sleptMs();
// Milliseconds asked for on the calling thread only (since it started).
std::uint64_t threadSleptMs();
// On the virtual clock a Sleep yields the processor, so that another thread
// waiting for a port lock gets in between two cycles. A host that hands its
// requests over at the pauses itself (the soak, the fault matrix) turns it
// off: on a busy machine each yield can cost a whole time slice. resetClock()
// turns it on again.
void setVirtualSleepYields(bool yields);
// Advances the virtual clock without a Sleep call (for peers that wait).
void advanceVirtualClock(std::uint64_t ms);
// Virtual milliseconds the calling thread has moved the clock on by (its
// Sleeps and its peers' waits), since it started.
std::uint64_t threadMovedClockMs();
// One virtual clock for each thread: from here on the virtual time a thread
// reads is the shared time plus what its own Sleeps and waits have moved,
// and no one else's. Where two ports produce at once, one port's pauses
// then do not age the other's reads. The shared time stands still meanwhile,
// and the limit below holds no one. resetClock() makes the clock one again.
void setVirtualClockPerThread(bool perThread);
bool virtualClockPerThread();

// A limit for the virtual clock, so that a watcher can act at an exact
// virtual moment: Sleep calls of the threads that hold at it carry the clock
// up to the limit and then wait, in real time, until the limit moves on.
// Other threads and advanceVirtualClock are not held. resetClock() removes it.
constexpr std::uint64_t kNoClockLimit = UINT64_MAX;
void setVirtualClockLimit(std::uint64_t ms);
std::uint64_t virtualClockLimit();
// The calling thread's Sleep calls hold at the limit from now on.
void holdAtVirtualClockLimit();
// Whether a thread waits at the limit now.
bool waitingAtVirtualClockLimit();

// Runs `hook` at the start of every Sleep the calling thread makes (null
// removes it): a test acts between two production cycles, on the production
// thread itself, at an exact point.
void setThreadSleepHook(std::function<void(DWORD milliseconds)> hook);

// A Sleep of the module, in two halves, so that a host can record the call
// in between: the calling thread's hook and the counts, then the pause itself.
void countSleep(DWORD milliseconds);
void sleepOnClock(DWORD milliseconds);

}  // namespace kestrova::standin
