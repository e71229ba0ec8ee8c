#include "production/payload_texts.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

namespace {

void appendText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// Decimal, zero-filled on the left of everything (a minus sign included) up to
// `width`; a wider number is written in full.
void appendFilled(Bytes& out, std::int64_t value, std::size_t width) {
    const std::string digits = std::to_string(value);
    if (digits.size() < width) out.insert(out.end(), width - digits.size(), '0');
    appendText(out, digits);
}

}  // namespace

Bytes recordSetupText(const JobRecord& record) {
    Bytes out;
    out.reserve(32);
    appendText(out, "06SZX");
    appendText(out, std::to_string(record.sx()));
    appendText(out, "06SZY");
    appendText(out, std::to_string(record.sy()));
    return out;
}

Bytes personalisationText(const JobRecord& record) {
    const auto& items = record.items();
    const auto& lines = record.lines();
    const std::size_t n = std::min(items.size(), lines.size());
    Bytes out;
    out.push_back('A');
    for (std::size_t i = 0; i < n; ++i) {
        const JobItem& item = items[i];
        appendFilled(out, item.x, 4);
        appendFilled(out, item.y, 4);
        appendFilled(out, item.f, 1);
        // ci * 10 leaves 32 bits for |ci| above 214748364: widen first.
        appendFilled(out, static_cast<std::int64_t>(item.ci) * 10, 3);
        appendText(out, lines[i]);
        if (i + 1 < n) out.push_back(';');
    }
    return out;
}

}  // namespace kestrova
