// Our stand-in for the spooler client and kernel calls on hosts without
// Windows. It records every call with its arguments, lets a test program the
// spooler results, captures debugger text, keeps the last-error value per
// thread and runs Sleep on a clock that is either real or virtual.
#pragma once

#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "standin/outside_the_module.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrova::standin {

struct PlatformCall {
    std::string name;          // "OpenPrinterW", "SetJobW", "ClosePrinter", "Sleep", "OutputDebugStringW"
    WideString text;           // printer name or debugger text
    HANDLE handle = nullptr;   // printer handle
    DWORD jobId = 0;
    DWORD level = 0;
    DWORD command = 0;         // SetJobW's command; Sleep's milliseconds
    DWORD desiredAccess = 0;   // OpenPrinterW's PRINTER_DEFAULTSW
    bool defaultsGiven = false;
    bool defaultsDatatypeNull = false;
    bool defaultsDevModeNull = false;
    bool jobNull = true;       // SetJobW's pJob
};

// The spooler calls as they are recorded, from their arguments (here and in
// the Wine test's winspool.drv). OpenPrinterW's handle is filled in on success.
inline PlatformCall openPrinterCall(LPWSTR printerName, const PRINTER_DEFAULTSW* defaults) {
    PlatformCall call;
    call.name = "OpenPrinterW";
    call.text = wideFrom(printerName);
    if (defaults != nullptr) {
        call.defaultsGiven = true;
        call.defaultsDatatypeNull = defaults->pDatatype == nullptr;
        call.defaultsDevModeNull = defaults->pDevMode == nullptr;
        call.desiredAccess = defaults->DesiredAccess;
    }
    return call;
}

inline PlatformCall setJobCall(HANDLE printer, DWORD jobId, DWORD level, const BYTE* job, DWORD command) {
    PlatformCall call;
    call.name = "SetJobW";
    call.handle = printer;
    call.jobId = jobId;
    call.level = level;
    call.jobNull = job == nullptr;
    call.command = command;
    return call;
}

inline PlatformCall closePrinterCall(HANDLE printer) {
    PlatformCall call;
    call.name = "ClosePrinter";
    call.handle = printer;
    return call;
}

// Forgets every recorded call and programmed result; real clock, zero time.
void reset();

std::vector<PlatformCall> calls();
std::vector<PlatformCall> callsNamed(const std::string& name);
void clearCalls();
// Sleep calls are counted always; recording each in calls() can be turned off for long runs.
void setRecordSleeps(bool record);

// OpenPrinterW: the result and the handle it hands out (default TRUE and a fresh handle).
void setOpenPrinterResult(BOOL result, HANDLE handle = nullptr);
void setSetJobResult(BOOL result);
void setClosePrinterResult(BOOL result);
// The last-error value the failing OpenPrinterW leaves.
void setOpenPrinterError(DWORD error);

// When the process ends, after every module that imports us has been
// finalised, the spooler calls made from now on are written to standard
// output ("spooler calls while the process ended: none" when there are none).
void reportSpoolerCallsAtExit();

// Everything sent with OutputDebugStringW since the last reset.
WideString debugOutput();

enum class ClockMode { Real, Virtual };
void setClockMode(ClockMode mode);
ClockMode clockMode();
// Milliseconds on the platform clock: virtual time, or real time since reset.
std::uint64_t nowMs();
// Sleep calls and milliseconds asked for since the last reset.
std::uint64_t sleepCount();
std::uint64_t sleptMs();
// The same, counted on the calling thread only (since it started).
std::uint64_t threadSleepCount();
std::uint64_t threadSleptMs();
// On the virtual clock a Sleep yields the processor, so that another thread
// waiting for a port lock gets in between two cycles. A host that hands its
// requests over at the pauses itself (the soak, the fault matrix) turns it
// off: on a busy machine each yield can cost a whole time slice. reset()
// turns it on again.
void setVirtualSleepYields(bool yields);
// Advances the virtual clock without a Sleep call (for peers that wait).
void advanceVirtualClock(std::uint64_t ms);
// Virtual milliseconds the calling thread has moved the clock on by (its
// Sleeps and its peers' waits), since it started.
std::uint64_t threadMovedClockMs();

// A limit for the virtual clock, so that a watcher can act at an exact
// virtual moment: Sleep calls of the threads that hold at it carry the clock
// up to the limit and then wait, in real time, until the limit moves on.
// Other threads and advanceVirtualClock are not held. reset() removes it.
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

}  // namespace kestrova::standin
