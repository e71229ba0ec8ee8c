// The machine's module information reply: entries of a two-digit length
// (3 + the text's length), a three-character key, the text and ';'.
#pragma once

#include "link/bytes.h"

#include <string>
#include <utility>
#include <vector>

namespace kestrova::simulator {

using ModuleInfoEntries = std::vector<std::pair<std::string, std::string>>;

// Keys must be 3 bytes and texts at most 96 bytes; longer texts are cut.
Bytes moduleInfoText(const ModuleInfoEntries& entries);

}  // namespace kestrova::simulator
