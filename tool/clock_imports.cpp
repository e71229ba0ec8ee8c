#include "tool/clock_imports.h"

#ifdef _WIN32
#include "standin/virtual_clock.h"
#include "tool/import_table.h"

#include <windows.h>

#include <cstring>
#include <optional>
#endif

namespace kestrova::tool {

#ifdef _WIN32
namespace {

// The module's pauses and clock readings, on the tool's clock. They run on
// the module's threads: nothing may unwind into the module.
VOID WINAPI virtualSleep(DWORD milliseconds) {
    try {
        standin::countSleep(milliseconds);
        standin::sleepOnClock(milliseconds);
    } catch (...) {
    }
}

// Wrapping at 2^32 ms as the kernel's does, and as the Linux stand-in's.
DWORD WINAPI virtualTickCount() { return static_cast<DWORD>(standin::nowMs()); }

// SizeOfImage, from headers the loader has mapped (read within the pages
// that hold them).
std::optional<std::size_t> imageSize(const std::uint8_t* base) {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(base, &region, sizeof region) == 0) return std::nullopt;
    const std::size_t mapped =
        static_cast<std::size_t>(static_cast<const std::uint8_t*>(region.BaseAddress) + region.RegionSize - base);
    std::uint32_t pe = 0;
    if (mapped < 0x40) return std::nullopt;
    std::memcpy(&pe, base + 0x3C, 4);
    // SizeOfImage lies at the same place in PE32 and PE32+ headers.
    const std::size_t at = std::size_t{pe} + 24 + 56;
    if (pe > mapped || mapped - pe < 24 + 60) return std::nullopt;
    std::uint32_t size = 0;
    std::memcpy(&size, base + at, 4);
    return size;
}

}  // namespace

bool ClockImports::redirect(void* module, std::string& why) {
    restore();
    const auto* base = static_cast<const std::uint8_t*>(module);
    const auto size = base != nullptr ? imageSize(base) : std::nullopt;
    if (!size) {
        why = "the module's headers cannot be read";
        return false;
    }
    struct Wanted {
        const char* name;
        std::uintptr_t replacement;
    } const wanted[] = {
        {"Sleep", reinterpret_cast<std::uintptr_t>(&virtualSleep)},
        {"GetTickCount", reinterpret_cast<std::uintptr_t>(&virtualTickCount)},
    };
    // Both found before either is changed.
    std::optional<ImportSlot> slots[2];
    for (std::size_t i = 0; i < 2; ++i) {
        slots[i] = findImportSlot(base, *size, "KERNEL32.dll", wanted[i].name, why);
        if (!slots[i]) return false;
        if (slots[i]->width != sizeof(void*)) {
            why = "the module is not of this program's architecture";
            return false;
        }
    }
    for (std::size_t i = 0; i < 2; ++i) {
        auto* slot = const_cast<std::uint8_t*>(base) + slots[i]->offset;
        DWORD protection = 0;
        if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection)) {
            why = "the module's import table cannot be written (error " + std::to_string(GetLastError()) + ")";
            restore();
            return false;
        }
        std::uintptr_t original = 0;
        std::memcpy(&original, slot, sizeof original);
        std::memcpy(slot, &wanted[i].replacement, sizeof original);
        DWORD ignored = 0;
        VirtualProtect(slot, sizeof(void*), protection, &ignored);
        redirected_.push_back({slot, original});
    }
    return true;
}

void ClockImports::restore() {
    // Put back although the module is about to be unloaded: FreeLibrary
    // only unmaps it when nobody else holds it (under Wine the spooler may,
    // in this very process), and it would then keep pausing on a clock the
    // tool no longer moves.
    for (const Redirected& each : redirected_) {
        DWORD protection = 0;
        if (!VirtualProtect(each.slot, sizeof(void*), PAGE_READWRITE, &protection)) continue;
        std::memcpy(each.slot, &each.original, sizeof each.original);
        DWORD ignored = 0;
        VirtualProtect(each.slot, sizeof(void*), protection, &ignored);
    }
    redirected_.clear();
}
#else
bool ClockImports::redirect(void*, std::string&) { return true; }
void ClockImports::restore() { redirected_.clear(); }
#endif

}  // namespace kestrova::tool
