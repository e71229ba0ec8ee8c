// The payload texts of the JobSetup and Personalize commands, built from the
// card in production.
#pragma once

#include "link/bytes.h"
#include "production/job_record.h"

#include <cstddef>

namespace kestrova {

// "06SZX<sx>06SZY<sy>", the numbers in full decimal without fill.
Bytes recordSetupText(const JobRecord& record);

// "A" and, for each item that has a line, x(4) y(4) f(1) ci*10(3) zero-filled
// on the left, then the line as stored; items separated by ";".
Bytes personalisationText(const JobRecord& record);

// The same two into `out`, which is emptied first and keeps its storage:
// nothing is allocated when it has room for the bound below.
void writeRecordSetupText(const JobRecord& record, Bytes& out);
void writePersonalisationText(const JobRecord& record, Bytes& out);

// The most either text takes for a card of `items` items (in its layout)
// and `textBytes` bytes of lines.
std::size_t payloadTextBound(std::size_t items, std::size_t textBytes);

}  // namespace kestrova
