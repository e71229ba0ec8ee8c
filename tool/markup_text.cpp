#include "tool/markup_text.h"

#include "tool/text_encoding.h"

namespace kestrova::tool {

std::string markupFromLatin1(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default:
                if (c < 0x20) {
                    appendUtf8(out, 0x2400 + c);
                } else if (c == 0x7F) {
                    appendUtf8(out, 0x2421);
                } else {
                    appendUtf8(out, c);
                }
        }
    }
    return out;
}

}  // namespace kestrova::tool
