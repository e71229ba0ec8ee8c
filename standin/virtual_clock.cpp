#include "standin/virtual_clock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrova::standin {

namespace {

// What every Sleep and every clock reading looks at is kept in atomics, not
// under a lock: the ports of one process pause and read the clock on their
// own threads at once, and must not queue behind one another.
using Ticks = std::chrono::steady_clock::duration::rep;
std::atomic<Ticks> gRealStart{std::chrono::steady_clock::now().time_since_epoch().count()};
std::atomic<int> gClockMode{static_cast<int>(ClockMode::Real)};
std::atomic<std::uint64_t> gVirtualMs{0};
std::atomic<std::uint64_t> gSleepCount{0};
std::atomic<std::uint64_t> gSleptMs{0};
std::atomic<bool> gVirtualSleepYields{true};
std::atomic<bool> gPerThread{false};
std::atomic<std::uint64_t> gPerThreadSince{0};  // counts the times it was made one per thread

// A pointer, not the function itself: a thread_local with a destructor is
// destroyed at thread exit by MinGW's runtime after its storage may already
// be freed, and kestrova.exe crashed there (a jump to a garbage address as a
// thread ended). The hook is removed by whoever set it; one left set when its
// thread ends is leaked, not destroyed.
thread_local std::function<void(DWORD)>* tSleepHook = nullptr;
thread_local std::uint64_t tSleptMs = 0;
thread_local std::uint64_t tMovedClockMs = 0;
// The thread's own moves since the clock was last made one per thread.
thread_local std::uint64_t tOwnVirtualMs = 0;
thread_local std::uint64_t tOwnSince = 0;

std::uint64_t& ownVirtualMs() {
    const std::uint64_t since = gPerThreadSince.load();
    if (tOwnSince != since) {
        tOwnSince = since;
        tOwnVirtualMs = 0;
    }
    return tOwnVirtualMs;
}

// The virtual time moved on by `ms` without waiting: the calling thread's
// own, or everyone's.
void moveVirtualClock(std::uint64_t ms) {
    if (gPerThread.load()) {
        ownVirtualMs() += ms;
    } else {
        gVirtualMs += ms;
    }
}

struct ClockLimit {
    std::mutex lock;
    std::condition_variable moved;
    std::uint64_t limit = kNoClockLimit;
    int waiting = 0;
};

ClockLimit& clockLimit() {
    static ClockLimit c;
    return c;
}

thread_local bool tHoldsAtClockLimit = false;

// Sleep on the virtual clock for a thread that holds at the limit.
void sleepUpToLimit(std::uint64_t ms) {
    ClockLimit& c = clockLimit();
    std::unique_lock<std::mutex> guard(c.lock);
    while (ms > 0) {
        const std::uint64_t now = gVirtualMs.load();
        if (now >= c.limit) {
            ++c.waiting;
            c.moved.wait(guard);
            --c.waiting;
            continue;
        }
        const std::uint64_t step = std::min(ms, c.limit - now);
        gVirtualMs += step;
        ms -= step;
    }
}

}  // namespace

void resetClock() {
    gRealStart = std::chrono::steady_clock::now().time_since_epoch().count();
    gClockMode = static_cast<int>(ClockMode::Real);
    gVirtualMs = 0;
    gSleepCount = 0;
    gSleptMs = 0;
    gVirtualSleepYields = true;
    gPerThread = false;
    setVirtualClockLimit(kNoClockLimit);
}

void setVirtualSleepYields(bool yields) { gVirtualSleepYields = yields; }

void setClockMode(ClockMode mode) { gClockMode = static_cast<int>(mode); }

void setVirtualClockPerThread(bool perThread) {
    if (perThread && !gPerThread.load()) ++gPerThreadSince;
    gPerThread = perThread;
}

bool virtualClockPerThread() { return gPerThread.load(); }

ClockMode clockMode() { return static_cast<ClockMode>(gClockMode.load()); }

std::uint64_t nowMs() {
    if (clockMode() == ClockMode::Virtual) return gVirtualMs.load() + (gPerThread.load() ? ownVirtualMs() : 0);
    const std::chrono::steady_clock::time_point start{std::chrono::steady_clock::duration(gRealStart.load())};
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

std::uint64_t sleepCount() { return gSleepCount.load(); }
std::uint64_t sleptMs() { return gSleptMs.load(); }
std::uint64_t threadSleptMs() { return tSleptMs; }
void advanceVirtualClock(std::uint64_t ms) {
    moveVirtualClock(ms);
    tMovedClockMs += ms;
}

std::uint64_t threadMovedClockMs() { return tMovedClockMs; }

void setVirtualClockLimit(std::uint64_t ms) {
    ClockLimit& c = clockLimit();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        c.limit = ms;
    }
    c.moved.notify_all();
}

std::uint64_t virtualClockLimit() {
    ClockLimit& c = clockLimit();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.limit;
}

void holdAtVirtualClockLimit() { tHoldsAtClockLimit = true; }

bool waitingAtVirtualClockLimit() {
    ClockLimit& c = clockLimit();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.waiting > 0;
}

void setThreadSleepHook(std::function<void(DWORD)> hook) {
    delete tSleepHook;
    tSleepHook = hook ? new std::function<void(DWORD)>(std::move(hook)) : nullptr;
}

void countSleep(DWORD milliseconds) {
    if (tSleepHook != nullptr) (*tSleepHook)(milliseconds);
    ++gSleepCount;
    gSleptMs += milliseconds;
    tSleptMs += milliseconds;
}

void sleepOnClock(DWORD milliseconds) {
    if (clockMode() == ClockMode::Virtual) {
        if (tHoldsAtClockLimit && !gPerThread.load()) {
            sleepUpToLimit(milliseconds);
        } else {
            moveVirtualClock(milliseconds);
        }
        tMovedClockMs += milliseconds;
        // Lets another thread waiting for a port lock get in between cycles.
        if (gVirtualSleepYields.load()) std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

}  // namespace kestrova::standin
