// Our stand-in for the spooler client and kernel calls on hosts without
// Windows. It records every call with its arguments, lets a test program the
// spooler results, captures debugger text, keeps the last-error value per
// thread and runs Sleep on a clock that is either real or virtual
// (virtual_clock.h, which kestrova.exe runs the DLL on too).
#pragma once

#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "standin/outside_the_module.h"
#include "standin/virtual_clock.h"

#include <cstdint>
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

// The clock (nowMs, the virtual clock and its limit) is in virtual_clock.h.


}  // namespace kestrova::standin
