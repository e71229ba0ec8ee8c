// The three grammars of a record's text: the header field set, the item
// field set and the split of a data record into lines. Every byte value may
// occur in job data; the grammars treat any byte that is not one of the six
// "C" locale whitespace bytes, a key or a quote as ordinary text.
#pragma once

#include "production/job_record.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova {

// The header values one header record gives; absent keys stay empty.
struct HeaderFields {
    std::optional<std::int32_t> bracketF;
    std::optional<std::string> fn;
    std::optional<std::int32_t> sy;
    std::optional<std::int32_t> sx;
    std::optional<std::int32_t> u;
};

// Reads a header set (and the whitespace after it) at `first`. On a match
// stores the fields found, moves `first` past them and returns true;
// otherwise returns false and leaves `first` where it was.
bool parseHeaderSet(const char*& first, const char* last, HeaderFields& fields);

// Reads one item set the same way, into `item`.
bool parseItemSet(const char*& first, const char* last, JobItem& item);

// Appends the lines of [first, last) to `lines`, split at CRLF, CR or LF.
void splitLines(const char* first, const char* last, CardLines& lines);

}  // namespace kestrova
