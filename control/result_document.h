// The result document: result values put into the request's own tree, the
// tree written as XML text, and that text copied into the caller's buffer.
#pragma once

#include "control/control_tree.h"
#include "platform/wide_string.h"
#include "platform/windows_types.h"

#include <cstdint>
#include <optional>
#include <ostream>

namespace kestrova {

// Puts `value` as the attribute `value` of the element at
// "kx_api.result." + `path` ('.'-separated). Missing elements are appended
// after their parent's children; the first existing one of a name is reused.
// A character XML does not allow becomes U+FFFD (xmlCharactersOnly).
void putResult(ControlTree& tree, const TreeString& path, const TreeString& value);
void putResultNumber(ControlTree& tree, const TreeString& path, std::int64_t value);

// The XML writer's text (3-space indent, "utf-8" declaration) into `out`,
// flushed; false when the writer or the stream failed at any point.
bool writeResultDocument(const ControlTree& tree, std::basic_ostream<TreeChar>& out);

// The document as UTF-16 units; nullopt when serialisation failed.
std::optional<WideString> serialiseResultDocument(const ControlTree& tree);

// Copies the document without a terminator. The count becomes the size
// needed in bytes; a buffer smaller than that is left untouched and the
// result is FALSE with ERROR_INSUFFICIENT_BUFFER.
BOOL copyResultDocument(const WideString& document, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned);

// The answer to a handled request: the tree serialised, checked to be one
// well-formed XML document, and copied. A document that fails the check is
// withheld: FALSE with ERROR_INTERNAL_ERROR, a message on the debug output,
// the count left at 0. A failed serialisation is FALSE with the count at 0.
BOOL deliverResultDocument(const ControlTree& tree, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned);

}  // namespace kestrova
