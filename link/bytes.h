// Byte strings of the link and the job: bytes stay exactly as they came.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrova {

using Bytes = std::vector<std::uint8_t>;

}  // namespace kestrova
