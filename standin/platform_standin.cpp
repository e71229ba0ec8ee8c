#include "standin/platform_standin.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

namespace kestrova::standin {

namespace {

constexpr std::size_t kMaxRecordedCalls = 1u << 20;

struct State {
    std::mutex lock;
    std::vector<PlatformCall> calls;
    BOOL openPrinterResult = TRUE;
    HANDLE openPrinterHandle = nullptr;
    DWORD openPrinterError = 1801;  // ERROR_INVALID_PRINTER_NAME
    BOOL setJobResult = TRUE;
    BOOL closePrinterResult = TRUE;
    std::uintptr_t nextHandle = 0x1000;
    std::size_t exitMark = SIZE_MAX;  // where calls() stood when the process was about to end
    WideString debugText;
};

// Never destroyed: modules are finalised after the static objects, and
// whatever they call then must still find it.
State& state() {
    static State* s = new State;
    return *s;
}

// What every Sleep and every clock reading looks at is kept in atomics, not
// under the state's lock: the ports of one process pause and read the clock
// on their own threads at once, and must not queue behind one another.
using Ticks = std::chrono::steady_clock::duration::rep;
std::atomic<Ticks> gRealStart{std::chrono::steady_clock::now().time_since_epoch().count()};
std::atomic<bool> gRecordSleeps{true};
std::atomic<int> gClockMode{static_cast<int>(ClockMode::Real)};
std::atomic<std::uint64_t> gVirtualMs{0};
std::atomic<std::uint64_t> gSleepCount{0};
std::atomic<std::uint64_t> gSleptMs{0};
std::atomic<bool> gVirtualSleepYields{true};

thread_local DWORD tLastError = 0;
thread_local std::function<void(DWORD)> tSleepHook;
thread_local std::uint64_t tSleepCount = 0;
thread_local std::uint64_t tSleptMs = 0;
thread_local std::uint64_t tMovedClockMs = 0;

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

void record(PlatformCall call) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.calls.size() < kMaxRecordedCalls) s.calls.push_back(std::move(call));
}

}  // namespace

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.calls.clear();
    gRecordSleeps = true;
    s.openPrinterResult = TRUE;
    s.openPrinterHandle = nullptr;
    s.openPrinterError = 1801;
    s.setJobResult = TRUE;
    s.closePrinterResult = TRUE;
    s.nextHandle = 0x1000;
    s.exitMark = SIZE_MAX;
    s.debugText.clear();
    gRealStart = std::chrono::steady_clock::now().time_since_epoch().count();
    gClockMode = static_cast<int>(ClockMode::Real);
    gVirtualMs = 0;
    gSleepCount = 0;
    gSleptMs = 0;
    gVirtualSleepYields = true;
    setVirtualClockLimit(kNoClockLimit);
}

std::vector<PlatformCall> calls() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.calls;
}

std::vector<PlatformCall> callsNamed(const std::string& name) {
    std::vector<PlatformCall> out;
    for (auto& call : calls()) {
        if (call.name == name) out.push_back(call);
    }
    return out;
}

void clearCalls() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.calls.clear();
}

void setRecordSleeps(bool recordSleeps) { gRecordSleeps = recordSleeps; }

void setVirtualSleepYields(bool yields) { gVirtualSleepYields = yields; }

void setOpenPrinterResult(BOOL result, HANDLE handle) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.openPrinterResult = result;
    s.openPrinterHandle = handle;
}

void setSetJobResult(BOOL result) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.setJobResult = result;
}

void setClosePrinterResult(BOOL result) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.closePrinterResult = result;
}

void setOpenPrinterError(DWORD error) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.openPrinterError = error;
}

void reportSpoolerCallsAtExit() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.exitMark = s.calls.size();
}

namespace {

// Runs after the modules that import this library have been finalised.
__attribute__((destructor)) void reportAtProcessEnd() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.exitMark == SIZE_MAX) return;
    std::string late;
    for (std::size_t i = s.exitMark; i < s.calls.size(); ++i) {
        const std::string& name = s.calls[i].name;
        if (name == "OpenPrinterW" || name == "SetJobW" || name == "ClosePrinter") late += name + "\n";
    }
    std::printf("spooler calls while the process ended: %s", late.empty() ? "none\n" : ("\n" + late).c_str());
    std::fflush(stdout);
}

}  // namespace

WideString debugOutput() {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.debugText;
}

void setClockMode(ClockMode mode) { gClockMode = static_cast<int>(mode); }

ClockMode clockMode() { return static_cast<ClockMode>(gClockMode.load()); }

std::uint64_t nowMs() {
    if (clockMode() == ClockMode::Virtual) return gVirtualMs.load();
    const std::chrono::steady_clock::time_point start{std::chrono::steady_clock::duration(gRealStart.load())};
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

std::uint64_t sleepCount() { return gSleepCount.load(); }
std::uint64_t sleptMs() { return gSleptMs.load(); }
std::uint64_t threadSleepCount() { return tSleepCount; }
std::uint64_t threadSleptMs() { return tSleptMs; }
void advanceVirtualClock(std::uint64_t ms) {
    gVirtualMs += ms;
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

void setThreadSleepHook(std::function<void(DWORD)> hook) { tSleepHook = std::move(hook); }

}  // namespace kestrova::standin

using namespace kestrova::standin;

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, PRINTER_DEFAULTSW* pDefault) {
    const OutsideTheModule outside;
    PlatformCall call = openPrinterCall(pPrinterName, pDefault);
    BOOL result;
    HANDLE handle;
    DWORD error;
    {
        State& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        result = s.openPrinterResult;
        handle = s.openPrinterHandle != nullptr ? s.openPrinterHandle : reinterpret_cast<HANDLE>(s.nextHandle++);
        error = s.openPrinterError;
    }
    if (result == TRUE) {
        if (phPrinter != nullptr) *phPrinter = handle;
        call.handle = handle;
    } else {
        tLastError = error;
    }
    record(std::move(call));
    return result;
}

BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
    const OutsideTheModule outside;
    record(setJobCall(hPrinter, JobId, Level, pJob, Command));
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.setJobResult;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    const OutsideTheModule outside;
    record(closePrinterCall(hPrinter));
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.closePrinterResult;
}

VOID WINAPI Sleep(DWORD dwMilliseconds) {
    const OutsideTheModule outside;
    if (tSleepHook) tSleepHook(dwMilliseconds);
    ++gSleepCount;
    gSleptMs += dwMilliseconds;
    ++tSleepCount;
    tSleptMs += dwMilliseconds;
    if (gRecordSleeps.load()) {
        PlatformCall call;
        call.name = "Sleep";
        call.command = dwMilliseconds;
        record(std::move(call));
    }
    if (clockMode() == ClockMode::Virtual) {
        if (tHoldsAtClockLimit) {
            sleepUpToLimit(dwMilliseconds);
        } else {
            gVirtualMs += dwMilliseconds;
        }
        tMovedClockMs += dwMilliseconds;
        // Lets another thread waiting for a port lock get in between cycles.
        if (gVirtualSleepYields.load()) std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    }
}

// The platform clock, wrapping at 2^32 ms as the kernel's does.
DWORD WINAPI GetTickCount(VOID) { return static_cast<DWORD>(nowMs()); }

VOID WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
    const OutsideTheModule outside;
    PlatformCall call;
    call.name = "OutputDebugStringW";
    call.text = kestrova::wideFrom(lpOutputString);
    {
        State& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        s.debugText += call.text;
    }
    record(std::move(call));
}

DWORD WINAPI GetLastError(VOID) { return tLastError; }

VOID WINAPI SetLastError(DWORD dwErrCode) { tLastError = dwErrCode; }

}  // extern "C"
