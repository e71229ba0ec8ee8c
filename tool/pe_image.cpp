#include "tool/pe_image.h"

#include "tool/image_bytes.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace kestrova::tool {

namespace {

constexpr std::uint16_t kImageFileDll = 0x2000;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kSectionHeaderSize = 40;
// Names longer than this are no export of ours and not worth reading on.
constexpr std::size_t kLongestName = 512;

struct Section {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
    std::uint32_t fileOffset = 0;
};

std::optional<std::size_t> fileOffset(const std::vector<Section>& sections, std::uint32_t rva) {
    for (const Section& s : sections) {
        if (rva >= s.address && rva - s.address < s.size) return std::size_t{s.fileOffset} + (rva - s.address);
    }
    return std::nullopt;
}

PeImage invalid(const char* why) {
    PeImage out;
    out.problem = why;
    return out;
}

}  // namespace

PeImage readPeImage(const std::vector<std::uint8_t>& bytes) {
    const ImageBytes read(bytes.data(), bytes.size(), kLongestName);
    if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return invalid("no MZ header");
    const auto pe = read.u32(0x3C);
    const auto signature = pe ? read.u32(*pe) : std::nullopt;
    if (!signature || *signature != 0x00004550) return invalid("no PE header");
    const std::size_t coff = *pe + 4;
    const auto machine = read.u16(coff);
    const auto sectionCount = read.u16(coff + 2);
    const auto optionalSize = read.u16(coff + 16);
    const auto characteristics = read.u16(coff + 18);
    if (!machine || !sectionCount || !optionalSize || !characteristics) return invalid("the file header is cut short");
    PeImage out;
    out.machine = static_cast<std::uint16_t>(*machine);
    out.dll = (*characteristics & kImageFileDll) != 0;

    const std::size_t optional = coff + 20;
    const auto magic = read.u16(optional);
    if (!magic || (*magic != kPe32Magic && *magic != kPe32PlusMagic)) return invalid("no optional header");
    const std::size_t directories = optional + (*magic == kPe32Magic ? 96 : 112);
    const auto directoryCount = read.u32(directories - 4);
    std::vector<Section> sections;
    const std::size_t table = optional + *optionalSize;
    for (std::uint32_t i = 0; i < *sectionCount; ++i) {
        const std::size_t at = table + i * kSectionHeaderSize;
        const auto virtualSize = read.u32(at + 8);
        const auto address = read.u32(at + 12);
        const auto rawSize = read.u32(at + 16);
        const auto rawOffset = read.u32(at + 20);
        if (!virtualSize || !address || !rawSize || !rawOffset) return invalid("the section table is cut short");
        sections.push_back({*address, std::min(*virtualSize, *rawSize), *rawOffset});
    }
    out.valid = true;
    if (!directoryCount || *directoryCount == 0) return out;
    const auto exportRva = read.u32(directories);
    const auto exportSize = read.u32(directories + 4);
    if (!exportRva || !exportSize || *exportRva == 0) return out;
    const auto exportAt = fileOffset(sections, *exportRva);
    const auto nameCount = exportAt ? read.u32(*exportAt + 24) : std::nullopt;
    const auto namesRva = exportAt ? read.u32(*exportAt + 32) : std::nullopt;
    const auto namesAt = namesRva ? fileOffset(sections, *namesRva) : std::nullopt;
    if (!nameCount || !namesAt) return invalid("the export directory is damaged");
    for (std::uint32_t i = 0; i < *nameCount; ++i) {
        const auto nameRva = read.u32(*namesAt + std::size_t{i} * 4);
        const auto nameAt = nameRva ? fileOffset(sections, *nameRva) : std::nullopt;
        const auto name = nameAt ? read.name(*nameAt) : std::nullopt;
        if (!name) return invalid("the export directory is damaged");
        out.exports.push_back(*name);
    }
    return out;
}

std::string peMachineName(std::uint16_t machine) {
    switch (machine) {
        case kPeMachineI386: return "x86";
        case kPeMachineAmd64: return "x64";
        case kPeMachineArm64: return "ARM64";
        default: {
            char text[32];
            std::snprintf(text, sizeof text, "machine type 0x%04X", static_cast<unsigned>(machine));
            return text;
        }
    }
}

}  // namespace kestrova::tool
