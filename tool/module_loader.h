// Loads the monitor module (libKestrovaLM.so, or KestrovaLM.dll on Windows)
// and finds its one export, as the spooler does.
#pragma once

#include "platform/spooler_monitor.h"
#include "tool/clock_imports.h"

#include <string>
#include <vector>

namespace kestrova::tool {

using InitializePrintMonitor2Fn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);

class LoadedModule {
public:
    LoadedModule() = default;
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    // False with the reason in error().
    bool load(const std::string& path);
    void unload();

    // Puts the loaded module's Sleep and GetTickCount on the tool's virtual
    // clock (clock_imports.h); false with the reason where they cannot be.
    // Before InitializePrintMonitor2, while no thread of the module runs.
    bool runOnVirtualClock(std::string& why);

    InitializePrintMonitor2Fn entry() const { return entry_; }
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    ClockImports clockImports_;
    InitializePrintMonitor2Fn entry_ = nullptr;
    std::string path_;
    std::string error_;
};

// Where to look for the module when --module is not given: beside the tool,
// then the installed one (System32 on Windows, the loader's search path
// elsewhere). Never a path of the machine the tool was built on.
std::vector<std::string> moduleCandidates();

// Loads the given path, or else the first candidate that loads; false with
// every reason in `error`.
bool loadModule(LoadedModule& module, const std::string& path, std::string& error);

}  // namespace kestrova::tool
