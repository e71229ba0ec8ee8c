// What differs between the hosts the spooler check runs on: how the module
// is loaded and its export found (LoadLibrary under Windows and Wine, dlopen
// elsewhere), how the platform is made to behave like Wine's, and threads
// with a stack of a given size.
#pragma once

#include "platform/spooler_monitor.h"

#include <cstddef>
#include <functional>
#include <string>

namespace kestrova::wine_check {

using InitializeFn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);

class Module {
public:
    // Loads the module; check loaded() and error().
    explicit Module(const std::string& path);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    // The address of an export by name, or null.
    void* symbol(const char* name) const;
    InitializeFn initialize() const { return reinterpret_cast<InitializeFn>(symbol("InitializePrintMonitor2")); }
    // Unloads now (process detach runs); false if the host refused.
    bool unload();

private:
    void* handle_ = nullptr;
    std::string error_;
};

// Makes the spooler calls fail the way they do under Wine, where no printer
// exists: OpenPrinterW returns FALSE (ERROR_INVALID_PRINTER_NAME). Under
// Windows and Wine this does nothing: the real winspool decides.
void preparePlatform();

// Runs `work` on a new thread whose stack reserve is `stackBytes` and waits
// for it; false if the thread could not be started.
bool runOnThread(std::size_t stackBytes, const std::function<void()>& work);

// From now on a stack overflow ends the process with exit code 3 at once
// (no crash dialog, no debugger) on Windows; elsewhere by SIGSEGV.
void exitOnStackOverflow();
constexpr int kStackOverflowExit = 3;

}  // namespace kestrova::wine_check
