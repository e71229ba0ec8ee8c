// Screening of a control request's text before the XML reader sees it.
//
// The reader takes much that is no XML document, recurses once per element
// level (a deeply nested text would exhaust the spooler thread's stack), and
// turns numeric character references into UTF-8 code units even in a wide
// tree. The screen bounds the size, finds lone surrogates, and reads the
// text once (readRequestXml): well-formed, nested within bounds, and made
// into the reader's text, each numeric character reference replaced by the
// UTF-16 units it stands for, so the tree holds the character the client meant.
#pragma once

#include "control/wide_text.h"
#include "platform/windows_types.h"

#include <cstddef>

namespace kestrova {

// Far above any real request.
constexpr std::size_t kMaxRequestUnits = 32 * 1024;  // 64 KiB of UTF-16
constexpr std::size_t kMaxRequestDepth = 64;

enum class RequestVerdict {
    Accepted,
    TooLarge,       // no terminating NUL within kMaxRequestUnits
    LoneSurrogate,  // a surrogate unit without its partner
    TooDeep,        // elements nested beyond kMaxRequestDepth
    Malformed,      // not a well-formed XML document (a numeric reference names no XML character, ...)
};

struct ScreenedRequest {
    RequestVerdict verdict = RequestVerdict::Malformed;
    TreeString text;  // for Accepted: what the reader gets
};

// `text` is NUL-terminated; nothing beyond the terminator (or beyond
// kMaxRequestUnits + 1 units) is read.
ScreenedRequest screenRequestText(const WCHAR* text);

}  // namespace kestrova
