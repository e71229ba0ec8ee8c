// kestrova install reads a DLL's header before it copies anything: machine
// type, DLL or program, and its exports, from files built here byte by byte.
#include "tool/pe_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using tool::PeImage;

struct Shape {
    std::uint16_t machine = tool::kPeMachineAmd64;
    bool dll = true;
    bool pe32Plus = true;
    std::vector<std::string> exports = {"InitializePrintMonitor2"};
};

void put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, std::size_t width) {
    if (bytes.size() < at + width) bytes.resize(at + width);
    for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// MZ stub, PE header, optional header with 16 directories, one section at
// RVA 0x1000 (file offset 0x400) holding the export directory and its names.
std::vector<std::uint8_t> peFile(const Shape& shape) {
    std::vector<std::uint8_t> bytes(0x400, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    const std::size_t pe = 0x80;
    put(bytes, 0x3C, pe, 4);
    put(bytes, pe, 0x00004550, 4);
    const std::size_t optionalSize = shape.pe32Plus ? 240 : 224;
    put(bytes, pe + 4, shape.machine, 2);
    put(bytes, pe + 6, 1, 2);
    put(bytes, pe + 20, optionalSize, 2);
    put(bytes, pe + 22, shape.dll ? 0x2022 : 0x0022, 2);
    const std::size_t optional = pe + 24;
    put(bytes, optional, shape.pe32Plus ? 0x20B : 0x10B, 2);
    const std::size_t directories = optional + (shape.pe32Plus ? 112 : 96);
    put(bytes, directories - 4, 16, 4);
    put(bytes, directories, 0x1000, 4);  // export directory RVA
    put(bytes, directories + 4, 40, 4);
    const std::size_t section = optional + optionalSize;
    put(bytes, section + 8, 0x400, 4);   // virtual size
    put(bytes, section + 12, 0x1000, 4);  // RVA
    put(bytes, section + 16, 0x400, 4);   // raw size
    put(bytes, section + 20, 0x400, 4);   // raw offset
    bytes.resize(0x800, 0);
    const std::size_t exports = 0x400;
    put(bytes, exports + 24, static_cast<std::uint32_t>(shape.exports.size()), 4);
    put(bytes, exports + 32, 0x1000 + 0x40, 4);  // names array
    std::uint32_t name = 0x1000 + 0x80;
    for (std::size_t i = 0; i < shape.exports.size(); ++i) {
        put(bytes, exports + 0x40 + i * 4, name, 4);
        for (std::size_t k = 0; k <= shape.exports[i].size(); ++k) {
            bytes[0x400 + (name - 0x1000) + k] = k < shape.exports[i].size() ? shape.exports[i][k] : 0;
        }
        name += static_cast<std::uint32_t>(shape.exports[i].size() + 1);
    }
    return bytes;
}

TEST(PeImage, ReadsMachineKindAndExports) {
    struct Case {
        const char* name;
        Shape shape;
    } cases[] = {
        {"x64 monitor DLL", {}},
        {"x86 monitor DLL", {tool::kPeMachineI386, true, false, {"InitializePrintMonitor2"}}},
        {"a program", {tool::kPeMachineAmd64, false, true, {}}},
        {"a DLL with other exports", {tool::kPeMachineAmd64, true, true, {"DllMain", "Other"}}},
        {"an ARM64 DLL", {tool::kPeMachineArm64, true, true, {"InitializePrintMonitor2"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PeImage image = tool::readPeImage(peFile(c.shape));
        ASSERT_TRUE(image.valid) << image.problem;
        EXPECT_EQ(image.machine, c.shape.machine);
        EXPECT_EQ(image.dll, c.shape.dll);
        EXPECT_EQ(image.exports, c.shape.exports);
    }
    EXPECT_EQ(tool::peMachineName(tool::kPeMachineI386), "x86");
    EXPECT_EQ(tool::peMachineName(0x1C0), "machine type 0x01C0");
}

TEST(PeImage, DamagedFilesAreRefusedNeverReadBeyond) {
    const std::vector<std::uint8_t> good = peFile({});
    auto with = [&good](std::size_t at, std::uint32_t value, std::size_t width) {
        std::vector<std::uint8_t> bytes = good;
        put(bytes, at, value, width);
        return bytes;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* problem;
    } cases[] = {
        {"empty", {}, "no MZ header"},
        {"text", std::vector<std::uint8_t>(100, 'x'), "no MZ header"},
        {"PE offset beyond the file", with(0x3C, 0x7FFFFFF0, 4), "no PE header"},
        {"cut after the signature", std::vector<std::uint8_t>(good.begin(), good.begin() + 0x86), "cut short"},
        {"no optional header", with(0x80 + 24, 0x1234, 2), "no optional header"},
        {"sections beyond the file", with(0x80 + 6, 0xFFFF, 2), "section table is cut short"},
        {"names beyond the file", with(0x400 + 32, 0x7FFF0000, 4), "export directory is damaged"},
        {"a name count beyond the file", with(0x400 + 24, 0xFFFFFFFF, 4), "export directory is damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PeImage image = tool::readPeImage(c.bytes);
        EXPECT_FALSE(image.valid);
        EXPECT_NE(image.problem.find(c.problem), std::string::npos) << image.problem;
    }
}

}  // namespace
}  // namespace kestrova::testing
