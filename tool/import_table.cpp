#include "tool/import_table.h"

#include "tool/image_bytes.h"

#include <cctype>

namespace kestrova::tool {

namespace {

constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kImportDirectory = 1;
constexpr std::size_t kDescriptorSize = 20;
// No DLL or function name of ours is longer; a longer one is not it.
constexpr std::size_t kLongestName = 256;

bool sameDllName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<ImportSlot> findImportSlot(const std::uint8_t* image, std::size_t size, const std::string& dll,
                                         const std::string& function, std::string& why) {
    const ImageBytes view(image, size, kLongestName);
    const auto fail = [&why](const std::string& text) {
        why = text;
        return std::nullopt;
    };
    const auto mz = view.number(0, 2);
    if (!mz || *mz != 0x5A4D) return fail("no MZ header");
    const auto pe = view.number(0x3C, 4);
    const auto signature = pe ? view.number(*pe, 4) : std::nullopt;
    if (!signature || *signature != 0x00004550) return fail("no PE header");
    const std::size_t optional = *pe + 24;
    const auto magic = view.number(optional, 2);
    if (!magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic)) return fail("no optional header");
    const bool plus = *magic == kPe32PlusMagic;
    const std::size_t width = plus ? 8 : 4;
    const std::size_t directories = optional + (plus ? 112 : 96);
    const auto directoryCount = view.number(directories - 4, 4);
    if (!directoryCount || *directoryCount <= kImportDirectory) return fail("no import directory");
    const auto importsAt = view.number(directories + 8 * kImportDirectory, 4);
    const auto importsSize = view.number(directories + 8 * kImportDirectory + 4, 4);
    if (!importsAt || !importsSize || *importsAt == 0) return fail("no import directory");
    const std::uint64_t ordinalFlag = std::uint64_t{1} << (8 * width - 1);

    bool dllFound = false;
    // The descriptors end with a null one, and within the image in any case.
    for (std::size_t at = *importsAt; view.has(at, kDescriptorSize); at += kDescriptorSize) {
        const auto names = view.number(at, 4);
        const auto dllName = view.number(at + 12, 4);
        const auto slots = view.number(at + 16, 4);
        if (*dllName == 0 && *slots == 0) break;
        const auto text = view.name(static_cast<std::size_t>(*dllName));
        if (!text) return fail("an import's DLL name lies outside the image");
        if (!sameDllName(*text, dll)) continue;
        dllFound = true;
        // The loader has overwritten the address table: only the name table tells.
        if (*names == 0) return fail(dll + " is imported without a name table");
        for (std::size_t i = 0;; ++i) {
            const std::size_t entryAt = static_cast<std::size_t>(*names) + i * width;
            const std::size_t slotAt = static_cast<std::size_t>(*slots) + i * width;
            const auto entry = view.number(entryAt, width);
            if (!entry) return fail("the import names of " + dll + " run past the image");
            if (*entry == 0) break;
            if (!view.has(slotAt, width)) return fail("the import addresses of " + dll + " run past the image");
            if ((*entry & ordinalFlag) != 0) continue;
            // A hint of two bytes, then the name.
            const auto name = view.name(static_cast<std::size_t>(*entry & 0x7FFFFFFF) + 2);
            if (!name) return fail("an import name of " + dll + " lies outside the image");
            if (*name == function) return ImportSlot{slotAt, width};
        }
    }
    return fail(dllFound ? dll + " does not import " + function + " by name" : "no import of " + dll);
}

}  // namespace kestrova::tool
