// UTF-8 on the command line and the control channel, UTF-16 towards the
// module.
#pragma once

#include "platform/wide_string.h"

#include <string>

namespace kestrova::tool {

// One code point as UTF-8.
void appendUtf8(std::string& out, char32_t c);
// Malformed sequences become U+FFFD.
WideString utf16FromUtf8(const std::string& text);
// Lone surrogates become U+FFFD.
std::string utf8FromUtf16(const WideString& text);

}  // namespace kestrova::tool
