// The machine's module information: key to text, read from the reply to
// ModuleInfo. Keys are 3 bytes, texts any bytes (';' and NUL included).
#pragma once

#include "link/bytes.h"

#include <map>
#include <string>

namespace kestrova {

// std::string compares its bytes as unsigned char, so the table is in
// ascending unsigned byte order of the keys.
using ModuleInfoTable = std::map<std::string, std::string>;

// Reads the reply payload entry by entry; stops at the first malformed entry
// and keeps those before it. Never fails: an unreadable payload gives an
// empty table. A key that comes again keeps its first text.
ModuleInfoTable readModuleInfo(const Bytes& payload);

}  // namespace kestrova
