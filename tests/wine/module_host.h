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

// The spooler client calls the module makes (OpenPrinterW, SetJobW,
// ClosePrinter) reach a stand-in of ours on every host: the platform
// stand-in library natively, our winspool.drv under Wine (run.sh sets
// WINEDLLOVERRIDES="winspool.drv=n" and puts it beside the program). Both
// record the calls as the same lines of text (spooler_call_text.h).
//
// Finds the stand-in and starts it afresh (no calls, all succeed, handles
// from 0x1000); false, with the reason, if the real winspool.drv is loaded.
bool startSpoolerStandin(std::string& why);
// From now on the named call fails with `error` as its last error, or
// succeeds again with `fails` false.
void setSpoolerCallFails(const char* name, bool fails, DWORD error = 0);
// Every spooler call since the start, one line each.
std::string spoolerCallRecord();
// When the process ends, the spooler calls made from now on are written to
// standard output by the stand-in (under Wine; natively nothing).
void reportSpoolerCallsAtExit();

// Makes the module's pauses pass at once where the host has a virtual
// clock (natively); under Wine they are real.
void useFastestClock();
// One virtual clock per thread (true), or one for all again (false), where
// the clock is virtual (natively; under Wine it is real). With one for all,
// every thread's pauses move it: where two ports produce at once, the first
// one's pauses while it waits halted would age the second one's reply past
// the link's bound on a reply.
void useClockPerThread(bool perThread);

// Runs `work` on a new thread whose stack reserve is `stackBytes` and waits
// for it; false if the thread could not be started.
bool runOnThread(std::size_t stackBytes, const std::function<void()>& work);

// From now on a stack overflow ends the process with exit code 3 at once
// (no crash dialog, no debugger) on Windows; elsewhere by SIGSEGV.
void exitOnStackOverflow();
constexpr int kStackOverflowExit = 3;

}  // namespace kestrova::wine_check
