#include "control/request_text.h"

#include "control/xml_character.h"

#include <cstdint>

namespace kestrova {

namespace {

bool isSpace(TreeChar c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r'; }

// The reader's own character classes: an element name runs until one of
// these, an attribute name until one of a few more.
bool isNameUnit(TreeChar c) { return c != 0 && !isSpace(c) && c != L'/' && c != L'>' && c != L'?'; }
bool isAttributeNameUnit(TreeChar c) {
    return isNameUnit(c) && c != L'!' && c != L'<' && c != L'=';
}

// Walks the text as the reader's parser does, but with a depth counter in
// place of its recursion, copying it and rewriting numeric references where
// the reader would expand them (text and attribute values; not comments,
// CDATA, processing instructions or the document type).
class RequestScanner {
public:
    explicit RequestScanner(const TreeString& in) : in_(in) { out_.reserve(in.size()); }

    RequestVerdict run() {
        if (peek() == 0xFEFF) copy(1);  // the reader drops it
        for (;;) {
            RequestVerdict verdict = RequestVerdict::Accepted;
            if (depth_ == 0) {
                skipSpace();
                if (peek() == 0) return RequestVerdict::Accepted;
                if (peek() != L'<') return RequestVerdict::Malformed;
                copy(1);
                verdict = node();
            } else if (peek() == L'<' && peek(1) == L'/') {
                verdict = closingTag();
            } else if (peek() == L'<') {
                copy(1);
                verdict = node();
            } else if (peek() == 0) {
                return RequestVerdict::Malformed;
            } else {
                verdict = characterData(0);
            }
            if (verdict != RequestVerdict::Accepted) return verdict;
        }
    }

    TreeString take() { return std::move(out_); }

private:
    TreeChar peek(std::size_t ahead = 0) const {
        return at_ + ahead < in_.size() ? in_[at_ + ahead] : TreeChar(0);
    }
    void copy(std::size_t count) {
        out_.append(in_, at_, count);
        at_ += count;
    }
    void skipSpace() {
        while (isSpace(peek())) copy(1);
    }
    bool startsWith(std::size_t ahead, const wchar_t* literal) const {
        for (std::size_t k = 0; literal[k] != 0; ++k) {
            if (peek(ahead + k) != literal[k]) return false;
        }
        return true;
    }
    // Copies through the first occurrence of `terminator`.
    RequestVerdict skipPast(const wchar_t* terminator) {
        while (!startsWith(0, terminator)) {
            if (peek() == 0) return RequestVerdict::Malformed;
            copy(1);
        }
        copy(std::char_traits<wchar_t>::length(terminator));
        return RequestVerdict::Accepted;
    }

    // After '<'.
    RequestVerdict node() {
        if (peek() == L'?') {
            copy(1);
            return skipPast(L"?>");  // declaration or processing instruction
        }
        if (peek() != L'!') return element();
        if (startsWith(1, L"--")) {
            copy(3);
            return skipPast(L"-->");
        }
        if (startsWith(1, L"[CDATA[")) {
            copy(8);
            return skipPast(L"]]>");
        }
        if (startsWith(1, L"DOCTYPE") && isSpace(peek(8))) {
            copy(9);
            return documentType();
        }
        copy(1);
        return skipPast(L">");
    }

    RequestVerdict documentType() {
        while (peek() != L'>') {
            if (peek() == 0) return RequestVerdict::Malformed;
            if (peek() != L'[') {
                copy(1);
                continue;
            }
            copy(1);
            for (std::size_t brackets = 1; brackets > 0; copy(1)) {
                if (peek() == 0) return RequestVerdict::Malformed;
                if (peek() == L'[') ++brackets;
                if (peek() == L']') --brackets;
            }
        }
        copy(1);
        return RequestVerdict::Accepted;
    }

    RequestVerdict element() {
        if (!isNameUnit(peek())) return RequestVerdict::Malformed;
        while (isNameUnit(peek())) copy(1);
        skipSpace();
        while (isAttributeNameUnit(peek())) {
            while (isAttributeNameUnit(peek())) copy(1);
            skipSpace();
            if (peek() != L'=') return RequestVerdict::Malformed;
            copy(1);
            skipSpace();
            const TreeChar quote = peek();
            if (quote != L'"' && quote != L'\'') return RequestVerdict::Malformed;
            copy(1);
            const RequestVerdict verdict = characterData(quote);
            if (verdict != RequestVerdict::Accepted) return verdict;
            if (peek() != quote) return RequestVerdict::Malformed;
            copy(1);
            skipSpace();
        }
        if (peek() == L'>') {
            copy(1);
            if (++depth_ > kMaxRequestDepth) return RequestVerdict::TooDeep;
            return RequestVerdict::Accepted;
        }
        if (peek() == L'/' && peek(1) == L'>') {
            copy(2);
            return RequestVerdict::Accepted;
        }
        return RequestVerdict::Malformed;
    }

    // At "</"; the reader does not compare the name with the opening tag's.
    RequestVerdict closingTag() {
        copy(2);
        while (isNameUnit(peek())) copy(1);
        skipSpace();
        if (peek() != L'>') return RequestVerdict::Malformed;
        copy(1);
        --depth_;
        return RequestVerdict::Accepted;
    }

    // Text content (quote 0: up to '<') or an attribute value (up to the quote).
    RequestVerdict characterData(TreeChar quote) {
        for (;;) {
            const TreeChar c = peek();
            if (c == 0 || (quote == 0 ? c == L'<' : c == quote)) return RequestVerdict::Accepted;
            if (c == L'&' && peek(1) == L'#') {
                if (!numericReference()) return RequestVerdict::Malformed;
            } else {
                copy(1);
            }
        }
    }

    // At "&#": "&#" digits ";" or "&#x" hex digits ";", naming an XML character.
    bool numericReference() {
        std::size_t k = 2;
        const bool hex = peek(k) == L'x';
        if (hex) ++k;
        const std::size_t firstDigit = k;
        std::uint32_t value = 0;
        const auto digitAt = [&](std::size_t i) { return referenceDigit(static_cast<std::uint32_t>(peek(i)), hex); };
        for (int d = digitAt(k); d >= 0; d = digitAt(k)) {
            value = value * (hex ? 16U : 10U) + static_cast<std::uint32_t>(d);
            if (value > 0x10FFFF) return false;  // also keeps the sum from overflowing
            ++k;
        }
        if (k == firstDigit || peek(k) != L';' || !isXmlCharacter(value)) return false;
        at_ += k + 1;
        emitCharacter(value);
        return true;
    }

    // The markup characters go in as the entities the reader expands
    // correctly, so a reference never changes the document's structure.
    void emitCharacter(std::uint32_t c) {
        switch (c) {
            case '<': out_ += L"&lt;"; return;
            case '>': out_ += L"&gt;"; return;
            case '&': out_ += L"&amp;"; return;
            case '"': out_ += L"&quot;"; return;
            case '\'': out_ += L"&apos;"; return;
            default: break;
        }
        if (c <= 0xFFFF) {
            out_.push_back(static_cast<TreeChar>(c));
        } else {
            const std::uint32_t offset = c - 0x10000;
            out_.push_back(static_cast<TreeChar>(0xD800 + (offset >> 10)));
            out_.push_back(static_cast<TreeChar>(0xDC00 + (offset & 0x3FF)));
        }
    }

    const TreeString& in_;
    TreeString out_;
    std::size_t at_ = 0;
    std::size_t depth_ = 0;
};

}  // namespace

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

    const TreeString units = treeTextFromWide(text, length);
    RequestScanner scanner(units);
    const RequestVerdict verdict = scanner.run();
    if (verdict != RequestVerdict::Accepted) return {verdict, {}};
    return {RequestVerdict::Accepted, scanner.take()};
}

}  // namespace kestrova
