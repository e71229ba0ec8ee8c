#include "production/xml_nesting.h"

#include <cstddef>

namespace kestrova {

namespace {

// The reader's character classes (bytes above 0x7F count as letters).
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isNameChar(char c) { return c != '\0' && !isSpace(c) && c != '/' && c != '>' && c != '?'; }
bool isAttributeNameChar(char c) { return isNameChar(c) && c != '<' && c != '=' && c != '!'; }

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return position_ >= text_.size(); }
    char peek(std::size_t ahead = 0) const {
        const std::size_t at = position_ + ahead;
        return at < text_.size() ? text_[at] : '\0';
    }
    bool lookingAt(std::string_view word) const { return text_.substr(position_).substr(0, word.size()) == word; }
    void skip(std::size_t count) { position_ += count; }

    template <typename Predicate>
    void skipWhile(Predicate predicate) {
        while (!atEnd() && predicate(text_[position_])) ++position_;
    }
    void skipSpaces() { skipWhile(isSpace); }

    // Moves past the next `terminator`; false (at the end) when there is none.
    bool skipPast(std::string_view terminator) {
        const std::size_t at = text_.find(terminator, position_);
        if (at == std::string_view::npos) {
            position_ = text_.size();
            return false;
        }
        position_ = at + terminator.size();
        return true;
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

// What follows "<!" that is not a comment or CDATA: a DOCTYPE runs to the
// first '>' outside its bracketed subset, anything else to the first '>'.
bool skipDeclaration(Cursor& cursor) {
    if (cursor.lookingAt("DOCTYPE") && isSpace(cursor.peek(7))) {
        cursor.skip(8);
        while (cursor.peek() != '>') {
            if (cursor.atEnd()) return false;
            if (cursor.peek() == '[') {
                cursor.skip(1);
                for (int brackets = 1; brackets > 0; cursor.skip(1)) {
                    if (cursor.atEnd()) return false;
                    if (cursor.peek() == '[') ++brackets;
                    if (cursor.peek() == ']') --brackets;
                }
            } else {
                cursor.skip(1);
            }
        }
        cursor.skip(1);
        return true;
    }
    return cursor.skipPast(">");
}

// The attributes of a start tag, up to its '>' or "/>"; false where the
// reader would report an error.
bool skipAttributes(Cursor& cursor) {
    while (isAttributeNameChar(cursor.peek())) {
        cursor.skipWhile(isAttributeNameChar);
        cursor.skipSpaces();
        if (cursor.peek() != '=') return false;
        cursor.skip(1);
        cursor.skipSpaces();
        const char quote = cursor.peek();
        if (quote != '"' && quote != '\'') return false;
        cursor.skip(1);
        if (!cursor.skipPast(std::string_view(&quote, 1))) return false;
        cursor.skipSpaces();
    }
    return true;
}

}  // namespace

bool xmlNestingWithin(std::string_view text, int maxDepth) {
    // The reader stops at a NUL as at the end of its buffer.
    Cursor cursor(text.substr(0, text.find('\0')));
    int depth = 0;
    // Every `return true` below is a place where the reader stops (at the end
    // or with an error) no deeper than the levels counted so far.
    for (;;) {
        cursor.skipSpaces();
        if (cursor.atEnd()) return true;
        if (cursor.peek() != '<') {
            if (depth == 0) return true;
            cursor.skipWhile([](char c) { return c != '<'; });  // text content
            continue;
        }
        if (cursor.peek(1) == '/') {
            if (depth == 0) return true;
            cursor.skip(2);
            cursor.skipWhile(isNameChar);
            cursor.skipSpaces();
            if (cursor.peek() != '>') return true;
            cursor.skip(1);
            --depth;
            continue;
        }
        cursor.skip(1);
        if (cursor.peek() == '?') {
            cursor.skip(1);
            if (!cursor.skipPast("?>")) return true;
        } else if (cursor.lookingAt("!--")) {
            cursor.skip(3);
            if (!cursor.skipPast("-->")) return true;
        } else if (cursor.lookingAt("![CDATA[")) {
            cursor.skip(8);
            if (!cursor.skipPast("]]>")) return true;
        } else if (cursor.peek() == '!') {
            cursor.skip(1);
            if (!skipDeclaration(cursor)) return true;
        } else {
            if (!isNameChar(cursor.peek())) return true;
            cursor.skipWhile(isNameChar);
            cursor.skipSpaces();
            if (!skipAttributes(cursor)) return true;
            if (cursor.peek() == '>') {
                cursor.skip(1);
                if (++depth > maxDepth) return false;
            } else if (cursor.lookingAt("/>")) {
                cursor.skip(2);
            } else {
                return true;
            }
        }
    }
}

}  // namespace kestrova
