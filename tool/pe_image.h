// What the header of a Windows executable file tells before it is used:
// its machine type, whether it is a DLL, and the names it exports. kestrova
// install reads it so that only a DLL the spooler can take is copied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::tool {

constexpr std::uint16_t kPeMachineI386 = 0x014C;
constexpr std::uint16_t kPeMachineAmd64 = 0x8664;
constexpr std::uint16_t kPeMachineArm64 = 0xAA64;

struct PeImage {
    bool valid = false;         // a PE file whose headers could be read
    std::string problem;        // why not, when not valid
    std::uint16_t machine = 0;  // IMAGE_FILE_HEADER.Machine
    bool dll = false;           // IMAGE_FILE_DLL is set
    std::vector<std::string> exports;  // the export directory's names
};

// Every offset is checked against the file: a damaged or hostile file gives
// a problem, never a read outside `bytes`.
PeImage readPeImage(const std::vector<std::uint8_t>& bytes);

// "x86", "x64", "ARM64", or "machine type 0x1234".
std::string peMachineName(std::uint16_t machine);

}  // namespace kestrova::tool
