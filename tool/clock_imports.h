// Puts a loaded module on the tool's virtual clock. On Linux the module's
// Sleep and GetTickCount come from the stand-in platform library, which runs
// that clock already; on Windows they come from KERNEL32, and the module's
// import address table entries for them are pointed at the tool's own
// functions, which run the same clock (standin/virtual_clock.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::tool {

class ClockImports {
public:
    ClockImports() = default;
    ~ClockImports() { restore(); }
    ClockImports(const ClockImports&) = delete;
    ClockImports& operator=(const ClockImports&) = delete;

    // `module` is the loaded module's handle. Both imports or neither: false
    // with the reason when either cannot be found, and nothing is changed.
    bool redirect(void* module, std::string& why);
    // The module's own entries again (before it is unloaded).
    void restore();

private:
    struct Redirected {
        void* slot;
        std::uintptr_t original;
    };
    std::vector<Redirected> redirected_;
};

}  // namespace kestrova::tool
