#include "control/xml_name.h"

#include <type_traits>

namespace kestrova {

bool isNameStartCharacter(std::uint32_t c) {
    return c == ':' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameCharacter(std::uint32_t c) {
    return isNameStartCharacter(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool isXmlName(const TreeString& name) {
    const auto valueOf = [](TreeChar c) {
        return static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<TreeChar>>(c));
    };
    if (name.empty() || !isNameStartCharacter(valueOf(name.front()))) return false;
    for (const TreeChar c : name) {
        // Tree keys hold single units: a surrogate or wider value is no name character here.
        if (c == L':' || valueOf(c) > 0xFFFF || !isNameCharacter(valueOf(c))) return false;
    }
    return true;
}

bool isElementPath(const TreeString& path) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = path.find(L'.', start);
        if (!isXmlName(path.substr(start, dot == TreeString::npos ? TreeString::npos : dot - start))) return false;
        if (dot == TreeString::npos) return true;
        start = dot + 1;
    }
}

}  // namespace kestrova
