// Whether a text is one well-formed XML 1.0 document. The Boost reader takes
// much that XML does not (any character, names that are no names, repeated
// attributes, unmatched closing tags, text beside the root, "--" in a
// comment), and its writer echoes it, so a control request is checked with
// this before it is read and the answer once more before it leaves.
//
// Checked: every character is one XML allows (a lone surrogate is none);
// one optional XML declaration at the very start (after a byte-order mark);
// comments, processing instructions and white space around exactly one root
// element, at most one document type declaration before it, no text or CDATA
// outside it; element and attribute names that are XML names (':' allowed);
// no attribute twice in one tag; closing tags that match; no '<' in an
// attribute value; no "]]>" in text; every '&' starting a reference; the
// document type's internal subset declaration by declaration.
//
// Stricter than XML on purpose: the only entity references taken are the
// five predefined ones and character references, which is what the reader
// expands. A reference to an entity of the document's own DTD would reach
// the monitor unexpanded, so it would read another request than the client
// wrote; such a text counts as not well-formed.
//
// Nothing recurses: nested elements and content models are tracked on the
// heap, so any depth costs one pass.
#pragma once

#include "control/wide_text.h"
#include "platform/wide_string.h"
#include "platform/windows_types.h"

#include <cstddef>
#include <optional>

namespace kestrova {

// The unit at which `count` units of UTF-16 stop being a well-formed
// document (`count` for a text that ends too early); nullopt when they are one.
std::optional<std::size_t> firstXmlFault(const WCHAR* units, std::size_t count);

inline bool isWellFormedXml(const WideString& text) { return !firstXmlFault(text.data(), text.size()); }

// A control request's one reading: the check above, in the same single pass
// that makes the text the XML reader gets, so that the text read is the text
// checked. Two differences from the check of an answer: white space may
// stand before the XML declaration (clients send it, and the reader skips
// it), and elements nest at most `maxDepth` deep. The reader's text is the
// request without its document type declaration (the reader skips one by
// counting brackets, blind to quotes, and keeps nothing of it), with each
// numeric character reference in text and attribute values replaced by the
// character it names (the reader would make UTF-8 of it), the markup
// characters by the predefined entities.
enum class RequestXml { WellFormed, NotWellFormed, TooDeep };
RequestXml readRequestXml(const WCHAR* units, std::size_t count, std::size_t maxDepth, TreeString& readerText);

}  // namespace kestrova
