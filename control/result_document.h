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

}  // namespace kestrova
