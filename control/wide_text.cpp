#include "control/wide_text.h"

#include <string>
#include <type_traits>

namespace kestrova {

TreeString treeTextFromWide(const WCHAR* units, std::size_t count) {
    TreeString out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<TreeChar>(units[i]));
    return out;
}

TreeString treeTextFromWide(const WideString& text) { return treeTextFromWide(text.data(), text.size()); }

WideString wideFromTreeText(const TreeString& text) {
    WideString out;
    out.reserve(text.size());
    for (const TreeChar ch : text) {
        const auto value = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<TreeChar>>(ch));
        if (value <= 0xFFFF) {
            out.push_back(static_cast<WCHAR>(value));
        } else if (value <= 0x10FFFF) {
            const std::uint32_t offset = value - 0x10000;
            out.push_back(static_cast<WCHAR>(0xD800 + (offset >> 10)));
            out.push_back(static_cast<WCHAR>(0xDC00 + (offset & 0x3FF)));
        } else {
            out.push_back(static_cast<WCHAR>(0xFFFD));
        }
    }
    return out;
}

TreeString treeTextFromBytes(std::string_view bytes) {
    TreeString out;
    out.reserve(bytes.size());
    for (const char byte : bytes) out.push_back(static_cast<TreeChar>(static_cast<unsigned char>(byte)));
    return out;
}

TreeString treeDecimal(std::int64_t value) {
    const std::string digits = std::to_string(value);
    return TreeString(digits.begin(), digits.end());
}

}  // namespace kestrova
