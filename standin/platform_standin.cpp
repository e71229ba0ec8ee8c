#include "standin/platform_standin.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

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

std::atomic<bool> gRecordSleeps{true};

thread_local DWORD tLastError = 0;

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
    resetClock();
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
        // A made-up handle: a number, never dereferenced.
        handle = s.openPrinterHandle != nullptr ? s.openPrinterHandle
                                                : reinterpret_cast<HANDLE>(s.nextHandle++);  // NOLINT(performance-no-int-to-ptr)
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
    countSleep(dwMilliseconds);
    if (gRecordSleeps.load()) {
        PlatformCall call;
        call.name = "Sleep";
        call.command = dwMilliseconds;
        record(std::move(call));
    }
    sleepOnClock(dwMilliseconds);
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
