// Text inside the control documents. The property tree holds wchar_t; the
// spooler interface carries UTF-16 units. On Windows the two are the same
// type; elsewhere each UTF-16 unit is held in one wchar_t, unit for unit, so
// that lengths and comparisons inside the tree count UTF-16 units exactly as
// they do on Windows.
#pragma once

#include "platform/wide_string.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrova {

using TreeChar = wchar_t;
using TreeString = std::basic_string<TreeChar>;

constexpr bool isHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool isLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-16 units to tree text, one wchar_t per unit.
TreeString treeTextFromWide(const WCHAR* units, std::size_t count);
TreeString treeTextFromWide(const WideString& text);

// Tree text back to UTF-16 units. Every value the monitor puts into a tree
// is a single unit; a wider value (only possible off Windows) is written as
// a surrogate pair, and one beyond U+10FFFF as U+FFFD.
WideString wideFromTreeText(const TreeString& text);

// Machine bytes to tree text: each byte becomes the unit of the same value
// (Latin-1), never a sign-extended one.
TreeString treeTextFromBytes(std::string_view bytes);

// Plain decimal, '-' first for negatives.
TreeString treeDecimal(std::int64_t value);

}  // namespace kestrova
