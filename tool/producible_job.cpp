#include "tool/producible_job.h"

#include "tool/card_inspection.h"

namespace kestrova::tool {

namespace {

// Enough to see the pattern; the rest is counted.
constexpr std::size_t kCardsListed = 5;

}  // namespace

const char* const kNoCardsText = "no cards: the job holds no data record, so nothing would be produced";

std::vector<std::string> whyJobCannotBeProduced(const JobQueue& cards) {
    if (cards.size() == 0) return {kNoCardsText};
    std::vector<std::string> out;
    std::size_t unlisted = 0;
    for (std::size_t i = 0; i < cards.records.size(); ++i) {
        if (!cards.records[i].items().empty()) continue;
        if (out.size() < kCardsListed) {
            out.push_back("card " + std::to_string(i + 1) + ": " + kNoItemsText);
        } else {
            ++unlisted;
        }
    }
    if (unlisted > 0) out.push_back("and " + std::to_string(unlisted) + " more card(s) whose layout has no items");
    return out;
}

}  // namespace kestrova::tool
