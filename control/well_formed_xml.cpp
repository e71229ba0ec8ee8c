#include "control/well_formed_xml.h"

#include "control/wide_text.h"
#include "control/xml_character.h"
#include "control/xml_name.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

namespace kestrova {

namespace {

using Units = std::basic_string_view<WCHAR>;

bool same(Units text, std::string_view ascii) {
    return std::equal(text.begin(), text.end(), ascii.begin(), ascii.end(),
                      [](WCHAR unit, char c) { return static_cast<std::uint32_t>(unit) == static_cast<unsigned char>(c); });
}

bool isSpace(std::uint32_t c) { return c == 0x20 || c == 0x9 || c == 0xA || c == 0xD; }

bool isPublicIdCharacter(std::uint32_t c) {
    return c == 0x20 || c == 0xD || c == 0xA || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || (c < 0x80 && std::string_view("-'()+,./:=?;!*#@$_%").find(char(c)) !=
                                                      std::string_view::npos);
}

constexpr std::string_view kAttributeTypes[] = {"CDATA",  "ID",       "IDREF",   "IDREFS",
                                                "ENTITY", "ENTITIES", "NMTOKEN", "NMTOKENS"};

// One pass over the text; each production returns false where the text
// leaves the grammar, with `at_` at that point.
class DocumentCheck {
public:
    explicit DocumentCheck(Units text) : text_(text) {}

    // A request: the reader's text goes to `readerText`.
    DocumentCheck(Units text, std::size_t maxDepth, TreeString& readerText)
        : text_(text), request_(true), maxDepth_(maxDepth), readerText_(&readerText) {
        readerText.clear();
        readerText.reserve(text.size());
    }

    std::optional<std::size_t> run() {
        if (!onlyXmlCharacters() || !document()) return at_;
        passUpTo(text_.size());
        return std::nullopt;
    }

    bool tooDeep() const { return tooDeep_; }

private:
    // --- the reader's text -------------------------------------------------------

    // The units from where the reader's text stands up to `end` go over as they are.
    void passUpTo(std::size_t end) {
        if (readerText_ == nullptr) return;
        for (; passed_ < end; ++passed_) readerText_->push_back(static_cast<TreeChar>(text_[passed_]));
    }
    // The units from where the reader's text stands up to `end` are left out.
    void skipUpTo(std::size_t end) {
        if (readerText_ != nullptr) passed_ = end;
    }
    // The character reference just read (from `start`) becomes what it names.
    void replaceReference(std::size_t start, std::uint32_t c) {
        if (readerText_ == nullptr) return;
        passUpTo(start);
        passed_ = at_;
        TreeString& out = *readerText_;
        switch (c) {
            case '<': out += L"&lt;"; return;
            case '>': out += L"&gt;"; return;
            case '&': out += L"&amp;"; return;
            case '"': out += L"&quot;"; return;
            case '\'': out += L"&apos;"; return;
            default: break;
        }
        if (c <= 0xFFFF) {
            out.push_back(static_cast<TreeChar>(c));
        } else {
            const std::uint32_t offset = c - 0x10000;
            out.push_back(static_cast<TreeChar>(0xD800 + (offset >> 10)));
            out.push_back(static_cast<TreeChar>(0xDC00 + (offset & 0x3FF)));
        }
    }

    // 0 past the end: NUL is no XML character, so it never stands in the text.
    std::uint32_t unit(std::size_t ahead = 0) const {
        return at_ + ahead < text_.size() ? static_cast<std::uint32_t>(text_[at_ + ahead]) : 0;
    }
    bool startsWith(std::string_view ascii) const {
        for (std::size_t k = 0; k < ascii.size(); ++k) {
            if (unit(k) != static_cast<unsigned char>(ascii[k])) return false;
        }
        return true;
    }
    bool literal(std::string_view ascii) {
        if (!startsWith(ascii)) return false;
        at_ += ascii.size();
        return true;
    }
    // The code point at `at_` and how many units it takes.
    std::uint32_t codePoint(std::size_t& width) const {
        const std::uint32_t first = unit();
        if (isHighSurrogate(first) && isLowSurrogate(unit(1))) {
            width = 2;
            return 0x10000 + ((first - 0xD800) << 10) + (unit(1) - 0xDC00);
        }
        width = 1;
        return first;
    }
    bool skipSpace() {
        const std::size_t start = at_;
        while (isSpace(unit())) ++at_;
        return at_ != start;
    }
    Units since(std::size_t start) const { return text_.substr(start, at_ - start); }

    bool onlyXmlCharacters() {
        for (at_ = 0; at_ < text_.size();) {
            std::size_t width = 1;
            if (!isXmlCharacter(codePoint(width))) return false;
            at_ += width;
        }
        at_ = 0;
        return true;
    }

    // Name, or Nmtoken when `anyFirst`.
    bool name(bool anyFirst = false) {
        const std::size_t start = at_;
        for (;;) {
            std::size_t width = 1;
            const std::uint32_t c = codePoint(width);
            const bool first = at_ == start && !anyFirst;
            if (!(first ? isNameStartCharacter(c) : isNameCharacter(c))) break;
            at_ += width;
        }
        return at_ != start;
    }

    bool quoted(Units& content) {
        const std::uint32_t quote = unit();
        if (quote != '"' && quote != '\'') return false;
        const std::size_t start = ++at_;
        while (unit() != quote) {
            if (unit() == 0) return false;
            ++at_;
        }
        content = since(start);
        ++at_;
        return true;
    }

    bool equals() {
        skipSpace();
        if (!literal("=")) return false;
        skipSpace();
        return true;
    }

    // At '&': a character reference naming an XML character, or one of the
    // predefined entities (any name where `anyEntity`).
    bool reference(bool anyEntity) {
        const std::size_t start = at_++;
        if (literal("#")) {
            const bool hex = literal("x");
            std::uint32_t value = 0;
            const std::size_t firstDigit = at_;
            for (int d = referenceDigit(unit(), hex); d >= 0; d = referenceDigit(unit(), hex)) {
                value = value * (hex ? 16U : 10U) + static_cast<std::uint32_t>(d);
                if (value > 0x10FFFF) return false;
                ++at_;
            }
            if (at_ == firstDigit || !isXmlCharacter(value) || !literal(";")) return false;
            // Comments, CDATA, instructions and the document type keep theirs: the reader expands none there.
            if (!inDocumentType_) replaceReference(start, value);
            return true;
        }
        const std::size_t nameStart = at_;
        if (!name()) return false;
        const Units entity = since(nameStart);
        const bool predefined = same(entity, "lt") || same(entity, "gt") || same(entity, "amp") ||
                                same(entity, "apos") || same(entity, "quot");
        return (predefined || anyEntity) && literal(";");
    }

    // A quoted literal in which `forbidden` may not stand and every '&'
    // starts a reference (to any entity where `anyEntity`).
    bool literalWithReferences(std::uint32_t forbidden, bool anyEntity) {
        const std::uint32_t quote = unit();
        if (quote != '"' && quote != '\'') return false;
        ++at_;
        for (std::uint32_t c = unit(); c != quote; c = unit()) {
            if (c == 0 || c == forbidden) return false;
            if (c == '&') {
                if (!reference(anyEntity)) return false;
            } else {
                ++at_;
            }
        }
        ++at_;
        return true;
    }

    bool attributeValue() { return literalWithReferences('<', false); }

    // --- the document --------------------------------------------------------

    bool document() {
        if (unit() == 0xFEFF) ++at_;
        if (request_) skipSpace();
        if (startsWith("<?xml") && isSpace(unit(5)) && !declaration()) return false;
        bool documentType = false;
        bool root = false;
        for (;;) {
            skipSpace();
            if (unit() == 0) return root;
            bool ok = false;
            if (startsWith("<!--")) {
                ok = comment();
            } else if (startsWith("<?")) {
                ok = processingInstruction();
            } else if (startsWith("<!DOCTYPE") && !documentType && !root) {
                ok = documentTypeDeclaration();
                documentType = true;
            } else if (unit() == '<' && !root) {
                ok = element();
                root = true;
            }
            if (!ok) return false;
        }
    }

    bool declaration() {
        at_ += 5;
        Units value;
        skipSpace();
        if (!literal("version") || !equals() || !quoted(value) || value.size() < 3 || !same(value.substr(0, 2), "1."))
            return false;
        if (!std::all_of(value.begin() + 2, value.end(), [](WCHAR c) { return c >= '0' && c <= '9'; })) return false;
        bool space = skipSpace();
        if (space && literal("encoding")) {
            if (!equals() || !quoted(value) || value.empty()) return false;
            const auto letter = [](WCHAR c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
            if (!letter(value.front())) return false;
            if (!std::all_of(value.begin(), value.end(), [&](WCHAR c) {
                    return letter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
                })) {
                return false;
            }
            space = skipSpace();
        }
        if (space && literal("standalone")) {
            if (!equals() || !quoted(value) || (!same(value, "yes") && !same(value, "no"))) return false;
            skipSpace();
        }
        return literal("?>");
    }

    bool comment() {
        at_ += 4;
        while (!startsWith("--")) {
            if (unit() == 0) return false;
            ++at_;
        }
        return literal("-->");
    }

    bool processingInstruction() {
        at_ += 2;
        const std::size_t start = at_;
        if (!name()) return false;
        const Units target = since(start);
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l')
            return false;  // reserved; the declaration is only at the start
        if (literal("?>")) return true;
        if (!skipSpace()) return false;
        return skipPast("?>");
    }

    bool skipPast(std::string_view end) {
        while (!startsWith(end)) {
            if (unit() == 0) return false;
            ++at_;
        }
        at_ += end.size();
        return true;
    }

    // --- elements --------------------------------------------------------------

    bool element() {
        std::vector<Units> open;
        if (!startTag(open)) return false;
        while (!open.empty()) {
            bool ok = true;
            if (startsWith("</")) {
                ok = endTag(open);
            } else if (startsWith("<!--")) {
                ok = comment();
            } else if (literal("<![CDATA[")) {
                ok = skipPast("]]>");
            } else if (startsWith("<?")) {
                ok = processingInstruction();
            } else if (unit() == '<') {
                ok = startTag(open);
            } else if (unit() == '&') {
                ok = reference(false);
            } else if (unit() == 0 || startsWith("]]>")) {
                ok = false;
            } else {
                ++at_;
            }
            if (!ok) return false;
        }
        return true;
    }

    // At '<'; an element that is not empty joins `open`.
    bool startTag(std::vector<Units>& open) {
        ++at_;
        const std::size_t start = at_;
        if (!name()) return false;
        const Units element = since(start);
        attributes_.clear();
        for (;;) {
            const bool space = skipSpace();
            if (literal("/>")) break;
            if (literal(">")) {
                open.push_back(element);
                if (open.size() > maxDepth_) {
                    tooDeep_ = true;
                    return false;
                }
                break;
            }
            const std::size_t attributeStart = at_;
            if (!space || !name()) return false;
            attributes_.push_back(since(attributeStart));
            if (!equals() || !attributeValue()) return false;
        }
        std::sort(attributes_.begin(), attributes_.end());
        return std::adjacent_find(attributes_.begin(), attributes_.end()) == attributes_.end();
    }

    bool endTag(std::vector<Units>& open) {
        at_ += 2;
        const std::size_t start = at_;
        if (!name() || since(start) != open.back()) return false;
        skipSpace();
        open.pop_back();
        return literal(">");
    }

    // --- the document type -----------------------------------------------------

    bool documentTypeDeclaration() {
        passUpTo(at_);
        inDocumentType_ = true;
        at_ += 9;
        if (!skipSpace() || !name()) return false;
        if (skipSpace() && (startsWith("SYSTEM") || startsWith("PUBLIC"))) {
            if (!externalId(true)) return false;
            skipSpace();
        }
        if (literal("[")) {
            if (!internalSubset()) return false;
            skipSpace();
        }
        if (!literal(">")) return false;
        inDocumentType_ = false;
        skipUpTo(at_);
        return true;
    }

    // SYSTEM "uri", or PUBLIC "id" followed by "uri" (optional for a notation).
    bool externalId(bool systemRequired) {
        Units value;
        if (literal("SYSTEM")) return skipSpace() && quoted(value);
        if (!literal("PUBLIC") || !skipSpace() || !quoted(value)) return false;
        if (!std::all_of(value.begin(), value.end(), [](WCHAR c) { return isPublicIdCharacter(c); })) return false;
        const std::size_t mark = at_;
        if (skipSpace() && (unit() == '"' || unit() == '\'')) return quoted(value);
        at_ = mark;
        return !systemRequired;
    }

    // Up to and through the closing ']'.
    bool internalSubset() {
        for (;;) {
            skipSpace();
            bool ok = false;
            if (literal("]")) return true;
            if (literal("%")) {
                ok = name() && literal(";");
            } else if (startsWith("<!--")) {
                ok = comment();
            } else if (startsWith("<?")) {
                ok = processingInstruction();
            } else if (literal("<!ELEMENT")) {
                ok = elementDeclaration();
            } else if (literal("<!ATTLIST")) {
                ok = attributeListDeclaration();
            } else if (literal("<!ENTITY")) {
                ok = entityDeclaration();
            } else if (literal("<!NOTATION")) {
                ok = skipSpace() && name() && skipSpace() && externalId(false) && declarationEnd();
            }
            if (!ok) return false;
        }
    }

    bool declarationEnd() {
        skipSpace();
        return literal(">");
    }

    bool elementDeclaration() {
        if (!skipSpace() || !name() || !skipSpace()) return false;
        const bool ok = literal("EMPTY") || literal("ANY") || (literal("(") && contentModel());
        return ok && declarationEnd();
    }

    void occurrence() {
        if (unit() == '?' || unit() == '*' || unit() == '+') ++at_;
    }

    // After the first '(': mixed content, or groups of names joined either
    // by '|' or by ',' (one kind per group), each with its open groups kept
    // in `separators`.
    bool contentModel() {
        skipSpace();
        if (literal("#PCDATA")) return mixedContent();
        std::vector<std::uint32_t> separators{0};
        for (;;) {
            skipSpace();
            if (literal("(")) {
                separators.push_back(0);
                continue;
            }
            if (!name()) return false;
            occurrence();
            for (;;) {  // after a particle
                skipSpace();
                const std::uint32_t c = unit();
                if (c == '|' || c == ',') {
                    if (separators.back() != 0 && separators.back() != c) return false;
                    separators.back() = c;
                    ++at_;
                    break;
                }
                if (!literal(")")) return false;
                separators.pop_back();
                occurrence();
                if (separators.empty()) return true;
            }
        }
    }

    // After "#PCDATA": ")" or ")*", or names joined by '|' and then ")*".
    bool mixedContent() {
        skipSpace();
        if (literal(")")) {
            literal("*");
            return true;
        }
        while (literal("|")) {
            skipSpace();
            if (!name()) return false;
            skipSpace();
        }
        return literal(")*");
    }

    bool attributeListDeclaration() {
        if (!skipSpace() || !name()) return false;
        for (;;) {
            const bool space = skipSpace();
            if (literal(">")) return true;
            if (!space || !name() || !skipSpace() || !attributeType() || !skipSpace() || !defaultValue()) return false;
        }
    }

    bool attributeType() {
        if (literal("(")) return enumeration(true);
        const std::size_t start = at_;
        if (!name()) return false;
        const Units type = since(start);
        if (same(type, "NOTATION")) return skipSpace() && literal("(") && enumeration(false);
        return std::any_of(std::begin(kAttributeTypes), std::end(kAttributeTypes),
                           [type](std::string_view known) { return same(type, known); });
    }

    // After '(': names or name tokens joined by '|', then ')'.
    bool enumeration(bool tokens) {
        do {
            skipSpace();
            if (!name(tokens)) return false;
            skipSpace();
        } while (literal("|"));
        return literal(")");
    }

    bool defaultValue() {
        if (literal("#REQUIRED") || literal("#IMPLIED")) return true;
        if (literal("#FIXED") && !skipSpace()) return false;
        return attributeValue();
    }

    bool entityDeclaration() {
        if (!skipSpace()) return false;
        const bool parameter = literal("%");
        if ((parameter && !skipSpace()) || !name() || !skipSpace()) return false;
        if (unit() == '"' || unit() == '\'') return entityValue() && declarationEnd();
        if (!externalId(true)) return false;
        const std::size_t mark = at_;
        if (!parameter && skipSpace() && literal("NDATA")) {
            if (!skipSpace() || !name()) return false;
        } else {
            at_ = mark;
        }
        return declarationEnd();
    }

    // A parameter entity reference may not stand inside a declaration of the
    // internal subset; general entity references are kept, not expanded.
    bool entityValue() { return literalWithReferences('%', true); }

    Units text_;
    std::size_t at_ = 0;
    std::vector<Units> attributes_;
    const bool request_ = false;
    const std::size_t maxDepth_ = SIZE_MAX;
    bool tooDeep_ = false;
    bool inDocumentType_ = false;
    TreeString* readerText_ = nullptr;
    std::size_t passed_ = 0;  // the units before this are in the reader's text, or left out
};

}  // namespace

std::optional<std::size_t> firstXmlFault(const WCHAR* units, std::size_t count) {
    return DocumentCheck(Units(units, count)).run();
}

RequestXml readRequestXml(const WCHAR* units, std::size_t count, std::size_t maxDepth, TreeString& readerText) {
    DocumentCheck check(Units(units, count), maxDepth, readerText);
    if (!check.run()) return RequestXml::WellFormed;
    readerText.clear();
    return check.tooDeep() ? RequestXml::TooDeep : RequestXml::NotWellFormed;
}

}  // namespace kestrova
