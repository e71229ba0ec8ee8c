#include "simulator/card_log.h"

#include <string_view>

namespace kestrova::simulator {

namespace {

constexpr std::string_view kSetupX = "06SZX";
constexpr std::string_view kSetupY = "06SZY";
constexpr std::size_t kFieldChars = 12;  // x(4) y(4) f(1) ci×10(3)

bool isFieldChar(std::uint8_t c) { return (c >= '0' && c <= '9') || c == '-'; }

// A left zero-filled decimal field: "0120" is 120, "00-5" is -5.
std::optional<std::int32_t> readFilled(std::string_view field) {
    std::size_t at = 0;
    while (at + 1 < field.size() && field[at] == '0') ++at;
    bool negative = false;
    if (at < field.size() && field[at] == '-') {
        negative = true;
        ++at;
    }
    if (at >= field.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; at < field.size(); ++at) {
        if (field[at] < '0' || field[at] > '9') return std::nullopt;
        value = value * 10 + (field[at] - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> readDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::size_t at = 0;
    bool negative = false;
    if (text[0] == '-') {
        negative = true;
        at = 1;
    }
    if (at >= text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9') return std::nullopt;
        value = value * 10 + (text[at] - '0');
        if (value > 2147483648LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

void appendFilled(Bytes& out, std::int64_t value, std::size_t width) {
    const std::string digits = std::to_string(value);
    if (digits.size() < width) out.insert(out.end(), width - digits.size(), '0');
    out.insert(out.end(), digits.begin(), digits.end());
}

bool fieldsAt(std::string_view text, std::size_t at) {
    if (at + kFieldChars > text.size()) return false;
    for (std::size_t i = at; i < at + kFieldChars; ++i) {
        if (!isFieldChar(static_cast<std::uint8_t>(text[i]))) return false;
    }
    return true;
}

}  // namespace

bool PersonalisedItem::operator==(const PersonalisedItem& other) const {
    return x == other.x && y == other.y && f == other.f && ci10 == other.ci10 && text == other.text;
}

std::vector<std::string> PersonalisedCard::texts() const {
    std::vector<std::string> out;
    out.reserve(items.size());
    for (const auto& item : items) out.push_back(item.text);
    return out;
}

std::optional<CardSetup> decodeSetupText(const Bytes& bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.substr(0, kSetupX.size()) != kSetupX) return std::nullopt;
    // The digits of sx cannot hold letters, so the last marker is the one.
    const auto y = text.rfind(kSetupY);
    if (y == std::string_view::npos || y < kSetupX.size()) return std::nullopt;
    const auto sx = readDecimal(text.substr(kSetupX.size(), y - kSetupX.size()));
    const auto sy = readDecimal(text.substr(y + kSetupY.size()));
    if (!sx || !sy) return std::nullopt;
    return CardSetup{*sx, *sy};
}

DecodedPersonalisation decodePersonalisationText(const Bytes& bytes) {
    DecodedPersonalisation out;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.empty() || text[0] != 'A') return out;
    std::size_t at = 1;
    while (at < text.size()) {
        if (!fieldsAt(text, at)) return out;
        PersonalisedItem item;
        const auto x = readFilled(text.substr(at, 4));
        const auto y = readFilled(text.substr(at + 4, 4));
        const auto f = readFilled(text.substr(at + 8, 1));
        const auto ci = readFilled(text.substr(at + 9, 3));
        if (!x || !y || !f || !ci) return out;
        item.x = *x;
        item.y = *y;
        item.f = *f;
        item.ci10 = *ci;
        at += kFieldChars;
        // The text runs to the ';' that starts the next item.
        std::size_t end = at;
        for (;;) {
            end = text.find(';', end);
            if (end == std::string_view::npos || fieldsAt(text, end + 1)) break;
            ++end;
        }
        if (end == std::string_view::npos) {
            item.text.assign(text.substr(at));
            at = text.size();
        } else {
            item.text.assign(text.substr(at, end - at));
            at = end + 1;
        }
        out.items.push_back(std::move(item));
    }
    out.exact = encodePersonalisationText(out.items) == bytes;
    return out;
}

Bytes encodePersonalisationText(const std::vector<PersonalisedItem>& items) {
    Bytes out{'A'};
    for (std::size_t i = 0; i < items.size(); ++i) {
        const PersonalisedItem& item = items[i];
        appendFilled(out, item.x, 4);
        appendFilled(out, item.y, 4);
        appendFilled(out, item.f, 1);
        appendFilled(out, item.ci10, 3);
        out.insert(out.end(), item.text.begin(), item.text.end());
        if (i + 1 < items.size()) out.push_back(';');
    }
    return out;
}

}  // namespace kestrova::simulator
