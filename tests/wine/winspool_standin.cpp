// Our own winspool.drv for the Wine test. Put beside the program and chosen
// over Wine's with WINEDLLOVERRIDES="winspool.drv=n", it stands where the
// spooler's client library stands for KestrovaLM.dll: its OpenPrinterW
// succeeds (there is no printer under Wine), and every OpenPrinterW, SetJobW
// and ClosePrinter is recorded with its arguments as the platform stand-in
// records them on Linux (spooler_call_text.h). The program that loads the
// module reads the record and programs failures through the Kestrova*
// exports below.
#include "standin/platform_standin.h"
#include "tests/wine/spooler_call_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using kestrova::standin::PlatformCall;

struct Failure {
    bool fails = false;
    DWORD error = 0;
};

// Guarded by gLock (set up at process attach).
CRITICAL_SECTION gLock;
std::string gRecord;
std::uintptr_t gNextHandle = 0x1000;
Failure gOpenPrinter, gSetJob, gClosePrinter;
std::size_t gExitMark = std::string::npos;  // where the record stood when the process began to end

class Guard {
public:
    Guard() { EnterCriticalSection(&gLock); }
    ~Guard() { LeaveCriticalSection(&gLock); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

// Records the call; returns whether it is programmed to fail.
BOOL recordCall(const PlatformCall& call, const Failure& failure) {
    gRecord += kestrova::wine_check::spoolerCallText(call) + "\n";
    if (!failure.fails) return TRUE;
    SetLastError(failure.error);
    return FALSE;
}

void writeOut(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    Guard guard;
    PlatformCall call = kestrova::standin::openPrinterCall(pPrinterName, pDefault);
    // A handle number is used up by every call, as in the Linux stand-in.
    const HANDLE handle = reinterpret_cast<HANDLE>(gNextHandle++);
    if (!gOpenPrinter.fails) {
        call.handle = handle;
        if (phPrinter != nullptr) *phPrinter = handle;
    }
    return recordCall(call, gOpenPrinter);
}

BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
    Guard guard;
    return recordCall(kestrova::standin::setJobCall(hPrinter, JobId, Level, pJob, Command), gSetJob);
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    Guard guard;
    return recordCall(kestrova::standin::closePrinterCall(hPrinter), gClosePrinter);
}

// Forgets the calls; every call succeeds again; handles from 0x1000 again.
void KestrovaStandinReset() {
    Guard guard;
    gRecord.clear();
    gNextHandle = 0x1000;
    gOpenPrinter = gSetJob = gClosePrinter = Failure();
}

// From now on the named call fails (or, with fails 0, succeeds), leaving `error`.
void KestrovaStandinFail(const char* name, int fails, DWORD error) {
    Guard guard;
    Failure failure{fails != 0, error};
    if (std::strcmp(name, "OpenPrinterW") == 0) gOpenPrinter = failure;
    if (std::strcmp(name, "SetJobW") == 0) gSetJob = failure;
    if (std::strcmp(name, "ClosePrinter") == 0) gClosePrinter = failure;
}

// Copies the record (one line per call) into `buffer` as far as it fits;
// returns its whole length.
DWORD KestrovaStandinRecord(char* buffer, DWORD size) {
    Guard guard;
    if (buffer != nullptr) std::memcpy(buffer, gRecord.data(), std::min<std::size_t>(size, gRecord.size()));
    return static_cast<DWORD>(gRecord.size());
}

// The process is about to end: when it does, the calls made from here on
// (by the detaching module, say) are written to standard output.
void KestrovaStandinReportAtExit() {
    Guard guard;
    gExitMark = gRecord.size();
}

}  // extern "C"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&gLock);
    // Modules that import us detach before us, so their calls are in.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr && gExitMark != std::string::npos) {
        const std::string late = gRecord.substr(gExitMark);
        writeOut("spooler calls while the process ended: " +
                 (late.empty() ? std::string("none\n") : "\n" + late));
    }
    return TRUE;
}
