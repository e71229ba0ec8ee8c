// Text exchanged with the spooler: UTF-16 units in the platform's WCHAR.
#pragma once

#include "platform/windows_types.h"

#include <cstddef>
#include <string>

namespace kestrova {

using WideString = std::basic_string<WCHAR>;

// Copies a NUL-terminated wide text; a null pointer gives an empty string.
inline WideString wideFrom(const WCHAR* text) {
    return text == nullptr ? WideString() : WideString(text);
}

// Builds a wide text from ASCII (for fixed names and tests).
inline WideString wideFromAscii(const char* text) {
    WideString out;
    for (; *text != '\0'; ++text) out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*text)));
    return out;
}

// An ASCII text as a NUL-terminated wide string made at compile time, for
// what must be said even when memory has run out.
template <std::size_t N>
struct WideText {
    constexpr explicit WideText(const char (&ascii)[N]) : text{} {
        for (std::size_t i = 0; i < N; ++i) text[i] = static_cast<WCHAR>(ascii[i]);
    }
    WCHAR text[N];
};

}  // namespace kestrova
