#include "tests/wine/module_host.h"

#include <windows.h>

namespace kestrova::wine_check {

Module::Module(const std::string& path) {
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (handle_ == nullptr) error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
}

Module::~Module() { unload(); }

void* Module::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

bool Module::unload() {
    if (handle_ == nullptr) return true;
    const BOOL freed = FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
    return freed != FALSE;
}

namespace {

// The stand-in's own exports (winspool_standin.cpp).
struct SpoolerStandin {
    void (*reset)() = nullptr;
    void (*fail)(const char* name, int fails, DWORD error) = nullptr;
    DWORD (*record)(char* buffer, DWORD size) = nullptr;
    void (*reportAtExit)() = nullptr;
};
SpoolerStandin gStandin;

template <typename Function>
void find(HMODULE library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

bool startSpoolerStandin(std::string& why) {
    // Held for the whole run: the record outlives the module under test.
    HMODULE library = LoadLibraryA("winspool.drv");
    if (library == nullptr) {
        why = "winspool.drv does not load (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    find(library, "KestrovaStandinReset", gStandin.reset);
    find(library, "KestrovaStandinFail", gStandin.fail);
    find(library, "KestrovaStandinRecord", gStandin.record);
    find(library, "KestrovaStandinReportAtExit", gStandin.reportAtExit);
    if (gStandin.reset == nullptr || gStandin.fail == nullptr || gStandin.record == nullptr ||
        gStandin.reportAtExit == nullptr) {
        why = "the winspool.drv loaded is not our stand-in (WINEDLLOVERRIDES=\"winspool.drv=n\" and the "
              "stand-in beside the program)";
        gStandin = SpoolerStandin();
        return false;
    }
    gStandin.reset();
    return true;
}

void setSpoolerCallFails(const char* name, bool fails, DWORD error) {
    if (gStandin.fail != nullptr) gStandin.fail(name, fails ? 1 : 0, error);
}

std::string spoolerCallRecord() {
    if (gStandin.record == nullptr) return {};
    std::string text(gStandin.record(nullptr, 0), '\0');
    const DWORD length = gStandin.record(text.data(), static_cast<DWORD>(text.size()));
    if (length < text.size()) text.resize(length);
    return text;
}

void reportSpoolerCallsAtExit() {
    if (gStandin.reportAtExit != nullptr) gStandin.reportAtExit();
}

void useFastestClock() {}

void useClockPerThread(bool) {}

namespace {

DWORD WINAPI threadMain(LPVOID work) {
    (*static_cast<const std::function<void()>*>(work))();
    return 0;
}

LONG WINAPI onException(EXCEPTION_POINTERS* info) {
    // Runs on what is left of the overflowing stack: do as little as possible.
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
        TerminateProcess(GetCurrentProcess(), kStackOverflowExit);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

bool runOnThread(std::size_t stackBytes, const std::function<void()>& work) {
    HANDLE thread = CreateThread(nullptr, stackBytes, &threadMain, const_cast<std::function<void()>*>(&work),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
}

void exitOnStackOverflow() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    AddVectoredExceptionHandler(1, &onException);
}

}  // namespace kestrova::wine_check
