#include "control/xml_character.h"

#include <type_traits>

namespace kestrova {

bool isXmlCharacter(std::uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

int referenceDigit(std::uint32_t c, bool hex) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (hex && c >= 'a' && c <= 'f') return static_cast<int>(c - 'a') + 10;
    if (hex && c >= 'A' && c <= 'F') return static_cast<int>(c - 'A') + 10;
    return -1;
}

TreeString xmlCharactersOnly(const TreeString& text) {
    const auto valueAt = [&text](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<TreeChar>>(text[i]));
    };
    TreeString out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(valueAt(i)) && i + 1 < text.size() && isLowSurrogate(valueAt(i + 1))) {
            out.append(text, i, 2);
            ++i;
        } else {
            out.push_back(isXmlCharacter(valueAt(i)) ? text[i] : kReplacementCharacter);
        }
    }
    return out;
}

}  // namespace kestrova
