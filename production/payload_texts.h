// The payload texts of the JobSetup and Personalize commands, built from the
// card in production.
#pragma once

#include "link/bytes.h"
#include "production/job_record.h"

namespace kestrova {

// "06SZX<sx>06SZY<sy>", the numbers in full decimal without fill.
Bytes recordSetupText(const JobRecord& record);

// "A" and, for each item that has a line, x(4) y(4) f(1) ci*10(3) zero-filled
// on the left, then the line as stored; items separated by ";".
Bytes personalisationText(const JobRecord& record);

}  // namespace kestrova
