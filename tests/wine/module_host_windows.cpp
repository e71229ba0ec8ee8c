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

void preparePlatform() {}

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
