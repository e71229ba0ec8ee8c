#include "production/payload_texts.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace kestrova {

namespace {

// The widest number a field takes: a 64-bit value with its sign.
constexpr std::size_t kMostDigits = 20;
// Four numbers per item (ci * 10 may need 64 bits) and the separator.
constexpr std::size_t kItemFieldsBound = 4 * kMostDigits + 1;
constexpr std::size_t kSetupTextBound = 2 * (5 + kMostDigits);

void appendText(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// Decimal, zero-filled on the left of everything (a minus sign included) up to
// `width`; a wider number is written in full. Written through a buffer on the
// stack: no allocation.
void appendFilled(Bytes& out, std::int64_t value, std::size_t width) {
    char digits[kMostDigits + 1];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    const auto length = static_cast<std::size_t>(written.ptr - digits);
    if (length < width) out.insert(out.end(), width - length, '0');
    appendText(out, std::string_view(digits, length));
}

}  // namespace

void writeRecordSetupText(const JobRecord& record, Bytes& out) {
    out.clear();
    out.reserve(kSetupTextBound);
    appendText(out, "06SZX");
    appendFilled(out, record.sx(), 0);
    appendText(out, "06SZY");
    appendFilled(out, record.sy(), 0);
}

void writePersonalisationText(const JobRecord& record, Bytes& out) {
    const auto& items = record.items();
    const auto& lines = record.lines();
    const std::size_t n = std::min(items.size(), lines.size());
    out.clear();
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
}

Bytes recordSetupText(const JobRecord& record) {
    Bytes out;
    writeRecordSetupText(record, out);
    return out;
}

Bytes personalisationText(const JobRecord& record) {
    Bytes out;
    writePersonalisationText(record, out);
    return out;
}

std::size_t payloadTextBound(std::size_t items, std::size_t textBytes) {
    return std::max(kSetupTextBound, 1 + items * kItemFieldsBound + textBytes);
}

}  // namespace kestrova
