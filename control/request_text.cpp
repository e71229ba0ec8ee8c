#include "control/request_text.h"

#include "control/well_formed_xml.h"

#include <cstdint>

namespace kestrova {

ScreenedRequest screenRequestText(const WCHAR* text) {
    std::size_t length = 0;
    while (length <= kMaxRequestUnits && text[length] != 0) ++length;
    if (length > kMaxRequestUnits) return {RequestVerdict::TooLarge, {}};

    for (std::size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<std::uint32_t>(text[i]);
        if (isHighSurrogate(unit) && i + 1 < length && isLowSurrogate(static_cast<std::uint32_t>(text[i + 1]))) {
            ++i;
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            return {RequestVerdict::LoneSurrogate, {}};
        }
    }

    // One pass over the grammar both checks the request and makes what the
    // reader gets, so the two cannot read it differently.
    ScreenedRequest screened;
    switch (readRequestXml(text, length, kMaxRequestDepth, screened.text)) {
        case RequestXml::WellFormed: screened.verdict = RequestVerdict::Accepted; break;
        case RequestXml::TooDeep: screened.verdict = RequestVerdict::TooDeep; break;
        case RequestXml::NotWellFormed: screened.verdict = RequestVerdict::Malformed; break;
    }
    return screened;
}

}  // namespace kestrova
