// kestrova.exe points the DLL's Sleep and GetTickCount at its own clock: the
// import table slots are found in images laid out as the loader maps them,
// built here byte by byte, both PE32 and PE32+.
#include "tool/import_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using tool::findImportSlot;

void put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    if (bytes.size() < at + width) bytes.resize(at + width);
    for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct Import {
    std::string dll;
    std::vector<std::string> functions;  // "#N": by ordinal N
    bool nameTable = true;
};

constexpr std::size_t kPe = 0x80;
constexpr std::size_t kDescriptors = 0x400;
constexpr std::size_t kImageSize = 0x2000;

// A mapped image: an RVA is an offset. Descriptors at 0x400, name tables
// from 0x600, address tables from 0x900, names from 0xC00. `slots` gets
// each "DLL!function" slot's offset.
std::vector<std::uint8_t> mappedImage(bool plus, const std::vector<Import>& imports,
                                      std::map<std::string, std::size_t>* slots = nullptr) {
    std::vector<std::uint8_t> bytes(kImageSize, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put(bytes, 0x3C, kPe, 4);
    put(bytes, kPe, 0x00004550, 4);
    const std::size_t optional = kPe + 24;
    put(bytes, optional, plus ? 0x20B : 0x10B, 2);
    const std::size_t directories = optional + (plus ? 112 : 96);
    put(bytes, directories - 4, 16, 4);
    put(bytes, directories + 8, kDescriptors, 4);
    put(bytes, directories + 12, (imports.size() + 1) * 20, 4);
    const std::size_t width = plus ? 8 : 4;
    std::size_t names = 0x600;
    std::size_t addresses = 0x900;
    std::size_t text = 0xC00;
    auto string = [&](const std::string& s) {
        const std::size_t at = text;
        for (std::size_t i = 0; i < s.size(); ++i) bytes[at + i] = static_cast<std::uint8_t>(s[i]);
        text += s.size() + 1;
        return at;
    };
    for (std::size_t d = 0; d < imports.size(); ++d) {
        const Import& import = imports[d];
        const std::size_t descriptor = kDescriptors + d * 20;
        put(bytes, descriptor, import.nameTable ? names : 0, 4);
        put(bytes, descriptor + 12, string(import.dll), 4);
        put(bytes, descriptor + 16, addresses, 4);
        for (std::size_t i = 0; i < import.functions.size(); ++i) {
            const std::string& f = import.functions[i];
            std::uint64_t entry;
            if (f[0] == '#') {
                entry = (std::uint64_t{1} << (8 * width - 1)) | std::stoul(f.substr(1));
            } else {
                text += 2;  // the hint
                entry = string(f) - 2;
            }
            put(bytes, names + i * width, entry, width);
            // The loader's bound address: nothing the search may read as a name.
            put(bytes, addresses + i * width, 0xFFFFFFF0u - i, width);
            if (slots != nullptr) (*slots)[import.dll + "!" + f] = addresses + i * width;
        }
        names += (import.functions.size() + 1) * width;
        addresses += (import.functions.size() + 1) * width;
    }
    return bytes;
}

const std::vector<Import> kModuleImports = {
    {"msvcrt.dll", {"malloc", "Sleep"}},
    {"KERNEL32.dll", {"#17", "GetTickCount64", "SleepEx", "Sleep", "GetTickCount", "WaitForSingleObject"}},
    {"WINSPOOL.DRV", {"OpenPrinterW", "GetTickCount"}},
};

TEST(ImportTable, FindsTheSlotOfEachFunctionByNameInPe32AndPe32Plus) {
    struct Case {
        const char* dll;
        const char* function;
        const char* slotOf;
    } const cases[] = {
        {"KERNEL32.dll", "Sleep", "KERNEL32.dll!Sleep"},
        {"KERNEL32.dll", "GetTickCount", "KERNEL32.dll!GetTickCount"},
        {"kernel32.DLL", "GetTickCount64", "KERNEL32.dll!GetTickCount64"},
        {"WINSPOOL.DRV", "GetTickCount", "WINSPOOL.DRV!GetTickCount"},
        {"msvcrt.dll", "Sleep", "msvcrt.dll!Sleep"},
    };
    for (const bool plus : {false, true}) {
        std::map<std::string, std::size_t> slots;
        const std::vector<std::uint8_t> image = mappedImage(plus, kModuleImports, &slots);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(plus ? "PE32+ " : "PE32 ") + c.dll + " " + c.function);
            std::string why;
            const auto slot = findImportSlot(image.data(), image.size(), c.dll, c.function, why);
            ASSERT_TRUE(slot) << why;
            EXPECT_EQ(slot->offset, slots.at(c.slotOf));
            EXPECT_EQ(slot->width, plus ? 8u : 4u);
        }
    }
}

TEST(ImportTable, WhatIsNotThereOrDamagedGivesNothingNeverAReadBeyond) {
    const std::vector<std::uint8_t> good = mappedImage(false, kModuleImports);
    auto with = [&good](std::size_t at, std::uint64_t value, std::size_t width) {
        std::vector<std::uint8_t> bytes = good;
        put(bytes, at, value, width);
        return bytes;
    };
    const std::size_t directories = kPe + 24 + 96;
    const std::size_t kernel32 = kDescriptors + 20;
    const std::size_t kernel32Names = 0x600 + 3 * 4;  // after msvcrt.dll's two and their end
    std::vector<std::uint8_t> unended = with(kernel32Names + 4, kImageSize - 6, 4);
    for (std::size_t i = kImageSize - 4; i < kImageSize; ++i) unended[i] = 'x';
    // An import by ordinal whose number, read as a name's address, would lead
    // to another DLL's "Sleep": in PE32+ the ordinal flag is bit 63.
    const std::vector<std::uint8_t> sleepOfMsvcrt = mappedImage(true, {{"msvcrt.dll", {"Sleep"}}});
    const std::size_t hint = std::string(sleepOfMsvcrt.begin(), sleepOfMsvcrt.end()).find("Sleep") - 2;
    const std::vector<std::uint8_t> byOrdinal64 =
        mappedImage(true, {{"msvcrt.dll", {"Sleep"}}, {"KERNEL32.dll", {"#" + std::to_string(hint)}}});
    struct Case {
        const char* name;
        std::vector<std::uint8_t> image;
        const char* function;
        const char* why;
    } const cases[] = {
        {"a name that only begins alike", good, "Slee", "does not import Slee by name"},
        {"imported by ordinal only", mappedImage(false, {{"KERNEL32.dll", {"#1410", "GetTickCount"}}}), "Sleep",
         "does not import Sleep by name"},
        {"PE32+: by an ordinal that could pass for a name", byOrdinal64, "Sleep", "does not import Sleep by name"},
        {"no import of the DLL", mappedImage(true, {{"msvcrt.dll", {"Sleep"}}}), "Sleep", "no import of KERNEL32.dll"},
        {"no name table", mappedImage(false, {{"KERNEL32.dll", {"Sleep"}, false}}), "Sleep", "without a name table"},
        {"empty", {}, "Sleep", "no MZ header"},
        {"PE header beyond the image", with(0x3C, 0x7FFFFFF0, 4), "Sleep", "no PE header"},
        {"no optional header", with(kPe + 24, 0x1234, 2), "Sleep", "no optional header"},
        {"no import directory among the directories", with(directories - 4, 1, 4), "Sleep", "no import directory"},
        {"import directory beyond the image", with(directories + 8, 0x7FFFFF00, 4), "Sleep", "no import of"},
        {"a DLL name beyond the image", with(kernel32 + 12, 0x7FFFFFFF, 4), "Sleep", "outside the image"},
        {"names beyond the image", with(kernel32, kImageSize - 2, 4), "Sleep", "run past the image"},
        {"addresses beyond the image", with(kernel32 + 16, kImageSize - 2, 4), "Sleep", "run past the image"},
        {"a function name beyond the image", with(kernel32Names + 4, 0x7FFFFFF0, 4), "Sleep", "outside the image"},
        {"a function name cut off by the image's end", unended, "Sleep", "outside the image"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string why;
        const auto slot = findImportSlot(c.image.data(), c.image.size(), "KERNEL32.dll", c.function, why);
        EXPECT_FALSE(slot) << "found at " << slot->offset;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
    // Cut anywhere, the image is read only within what is left of it (each
    // cut in a buffer of its own size, for the sanitizers), and the slot is
    // found once everything it takes is there, never before.
    std::size_t firstFound = 0;
    for (std::size_t size = 0; size <= good.size(); ++size) {
        const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
        std::string why;
        const bool found = findImportSlot(cut.data(), cut.size(), "KERNEL32.dll", "WaitForSingleObject", why).has_value();
        if (found && firstFound == 0) firstFound = size;
        EXPECT_EQ(found, firstFound != 0) << "cut at " << size;
    }
    // The end of the name "WaitForSingleObject", the last thing read.
    const std::string names(good.begin(), good.end());
    EXPECT_EQ(firstFound, names.find("WaitForSingleObject") + sizeof "WaitForSingleObject");
}

}  // namespace
}  // namespace kestrova::testing
