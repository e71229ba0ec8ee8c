#include "tests/wine/module_host.h"

#include "standin/platform_standin.h"
#include "tests/wine/spooler_call_text.h"

#include <dlfcn.h>
#include <pthread.h>

namespace kestrova::wine_check {

Module::Module(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) error_ = dlerror();
}

Module::~Module() { unload(); }

void* Module::symbol(const char* name) const { return handle_ == nullptr ? nullptr : dlsym(handle_, name); }

bool Module::unload() {
    if (handle_ == nullptr) return true;
    const int closed = dlclose(handle_);
    handle_ = nullptr;
    return closed == 0;
}

bool startSpoolerStandin(std::string& /*why*/) {
    // Starts the calls afresh; the clock stays as it was.
    const standin::ClockMode mode = standin::clockMode();
    const bool perThread = standin::virtualClockPerThread();
    standin::reset();
    standin::setClockMode(mode);
    standin::setVirtualClockPerThread(perThread);
    standin::setRecordSleeps(false);
    return true;
}

void setSpoolerCallFails(const char* name, bool fails, DWORD error) {
    const BOOL result = fails ? FALSE : TRUE;
    const std::string call = name;
    if (call == "OpenPrinterW") {
        standin::setOpenPrinterResult(result);
        standin::setOpenPrinterError(error);
    } else if (call == "SetJobW") {
        standin::setSetJobResult(result);
    } else if (call == "ClosePrinter") {
        standin::setClosePrinterResult(result);
    }
}

std::string spoolerCallRecord() { return spoolerCallRecord(standin::calls()); }

void reportSpoolerCallsAtExit() { standin::reportSpoolerCallsAtExit(); }

void useFastestClock() {
    standin::setRecordSleeps(false);
    standin::setClockMode(standin::ClockMode::Virtual);
}

void useClockPerThread(bool perThread) { standin::setVirtualClockPerThread(perThread); }

namespace {

void* threadMain(void* work) {
    (*static_cast<const std::function<void()>*>(work))();
    return nullptr;
}

}  // namespace

bool runOnThread(std::size_t stackBytes, const std::function<void()>& work) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t thread;
    const int started =
        pthread_create(&thread, &attributes, &threadMain, const_cast<std::function<void()>*>(&work));
    pthread_attr_destroy(&attributes);
    if (started != 0) return false;
    pthread_join(thread, nullptr);
    return true;
}

void exitOnStackOverflow() {
    // Here an overflowing thread ends the process with SIGSEGV, which tells
    // the caller the same; the depth probe is meant for Windows threads.
}

}  // namespace kestrova::wine_check
