// Job bytes as a line of the tool's output: printable ASCII, other bytes as
// \xNN, and a long text cut with its length, so that one 5 MB line neither
// floods a terminal nor hides the rest of the report.
#pragma once

#include "link/bytes.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova::tool {

// Texts longer than this many bytes are cut.
constexpr std::size_t kShownBytes = 200;

// "ANNA", "A\x01B", or "AAAA... (5242880 bytes, the first 200 shown)".
std::string shownText(std::string_view bytes);
std::string shownText(const Bytes& bytes);

}  // namespace kestrova::tool
