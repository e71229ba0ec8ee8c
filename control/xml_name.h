// XML names: the characters they are made of, and whether tree keys can
// stand as element names in the result document.
#pragma once

#include "control/wide_text.h"

#include <cstdint>

namespace kestrova {

// The name characters that both XML 1.0 tables allow, that of the fourth
// edition and the wider one of the fifth, ':' included: a name made of them
// is read by every parser. None lies beyond U+FFFF.
bool isNameStartCharacter(std::uint32_t c);
bool isNameCharacter(std::uint32_t c);

// An XML name that needs no namespace declaration: a letter or '_' first,
// then letters, digits, '-', '.', '_' or U+00B7 (':' is left out).
bool isXmlName(const TreeString& name);

// Every '.'-separated part is such a name (so none is empty).
bool isElementPath(const TreeString& path);

}  // namespace kestrova
