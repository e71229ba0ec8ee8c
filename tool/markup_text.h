// Job bytes as text in an XML or HTML document: each byte the Latin-1
// character it is sent as, escaped for markup. Control bytes, which XML
// cannot hold, are drawn as their control pictures (U+2400...).
#pragma once

#include <string>
#include <string_view>

namespace kestrova::tool {

std::string markupFromLatin1(std::string_view bytes);

}  // namespace kestrova::tool
