// Whether a job can be produced at all, found before anything is sent: a
// job without cards, or a card whose layout has no items (production would
// halt at it with hardware error -5, and no restore can help), cannot.
// kestrova check reports the same, with the same words.
#pragma once

#include "production/job_queue.h"

#include <string>
#include <vector>

namespace kestrova::tool {

// check's line for a job without cards.
extern const char* const kNoCardsText;

// Why the job cannot be produced, one line each ("card 3: ..."); empty when
// it can. A long run of such cards is counted, not listed.
std::vector<std::string> whyJobCannotBeProduced(const JobQueue& cards);

}  // namespace kestrova::tool
