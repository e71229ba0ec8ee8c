// A structural pre-scan of an XML text, so that an untrusted document can be
// refused before the XML reader (which recurses once per element level)
// meets it.
#pragma once

#include <string_view>

namespace kestrova {

// False when the reader would open more than `maxDepth` nested elements
// somewhere in `text`. The scan follows the reader's own lexing (names,
// quoted attribute values, comments, CDATA, processing instructions, DOCTYPE
// with its bracketed subset; a NUL ends the text) and stops where the reader
// would stop with an error, so it never counts fewer levels than the reader
// opens.
bool xmlNestingWithin(std::string_view text, int maxDepth);

}  // namespace kestrova
