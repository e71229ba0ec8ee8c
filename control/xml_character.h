// The characters XML allows in a document, and text from outside the request
// (the machine's module information, the spooler's document name) made fit
// to stand in the result document.
#pragma once

#include "control/wide_text.h"

#include <cstdint>

namespace kestrova {

// Tab, line feed, carriage return, U+0020-U+D7FF, U+E000-U+FFFD and
// U+10000-U+10FFFF: nothing else may appear anywhere in a document, not even
// as a character reference.
bool isXmlCharacter(std::uint32_t codePoint);

// The value of a digit of a character reference (`hex` for "&#x"), or -1.
int referenceDigit(std::uint32_t c, bool hex);

constexpr TreeChar kReplacementCharacter = 0xFFFD;

// `text` with every unit that stands for no XML character (a control
// character other than tab, line feed and carriage return, U+FFFE, U+FFFF,
// a surrogate without its partner) replaced by U+FFFD, so that the entry is
// kept and the client can see that something in it could not be shown.
// Surrogate pairs and every other unit stay as they are.
TreeString xmlCharactersOnly(const TreeString& text);

}  // namespace kestrova
