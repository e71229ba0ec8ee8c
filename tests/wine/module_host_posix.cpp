#include "tests/wine/module_host.h"

#include "standin/platform_standin.h"

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

void preparePlatform() {
    standin::reset();
    // What OpenPrinterW does under Wine for a printer that does not exist.
    constexpr DWORD kInvalidPrinterName = 1801;
    standin::setOpenPrinterResult(FALSE);
    standin::setOpenPrinterError(kInvalidPrinterName);
    standin::setSetJobResult(FALSE);
    standin::setClosePrinterResult(FALSE);
    // Same sequence of calls as under Wine, without waiting for the pauses.
    standin::setClockMode(standin::ClockMode::Virtual);
}

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
