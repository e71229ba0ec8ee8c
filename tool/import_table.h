// Finds a function's slot in the import address table of a module as the
// loader has mapped it, so that kestrova.exe can point the DLL's Sleep and
// GetTickCount at its own clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrova::tool {

struct ImportSlot {
    std::size_t offset = 0;  // from the image's base
    std::size_t width = 0;   // 4 in a PE32 image, 8 in a PE32+ one
};

// `image` is the mapped image, `size` its SizeOfImage. The function is found
// by name in the named DLL's imports (the DLL's name in any case); an import
// by ordinal is never it. Every offset is checked against `size`: a damaged
// image gives nothing and the reason in `why`, never a read outside it.
std::optional<ImportSlot> findImportSlot(const std::uint8_t* image, std::size_t size, const std::string& dll,
                                         const std::string& function, std::string& why);

}  // namespace kestrova::tool
