#include "simulator/card_journey_audit.h"

#include "simulator/machine_codes.h"

#include <utility>

namespace kestrova::simulator {

namespace {

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string where(const CardJourney& card) {
    return "machine card " + std::to_string(card.card) + ", Personalize frame " +
           std::to_string(card.personalizeFrame) + ", " + cardEndName(card.end);
}

class Auditor {
public:
    Auditor(const std::vector<JourneyJob>& jobs, JourneyAudit& audit) : jobs_(jobs), audit_(audit) {}

    void violation(std::size_t job, std::size_t card, std::string what) {
        audit_.violations.push_back(AuditFinding{job, card, std::move(what)});
    }

    // The job card whose texts these are, byte for byte.
    std::optional<CardId> expectedAs(const CardJourney& card) const {
        for (std::size_t j = 0; j < jobs_.size(); ++j) {
            for (std::size_t c = 0; c < jobs_[j].cards.size(); ++c) {
                const ExpectedCard& expected = jobs_[j].cards[c];
                if (expected.setupText == card.setupText && expected.personalisationText == card.personalisationText) {
                    return CardId{j + 1, c + 1};
                }
            }
        }
        return std::nullopt;
    }

    // One job card's copies, in the order they were personalised: all but
    // the last must be copies no host could know of.
    void checkCopies(std::size_t job, std::size_t card, const std::vector<const CardJourney*>& copies, bool ranToEnd) {
        if (copies.empty()) {
            if (ranToEnd) violation(job, card, "never delivered: no card was personalised with its texts");
            return;
        }
        for (std::size_t i = 0; i + 1 < copies.size(); ++i) {
            const CardJourney& first = *copies[i];
            if (first.completionLostBy.empty()) {
                violation(job, card, "personalised twice though its first personalisation was reported whole on the line (" +
                                         where(first) + "; again " + where(*copies[i + 1]) + ")");
            } else {
                ++audit_.unavoidable[first.completionLostBy + ", " +
                                     (first.end == CardEnd::Delivered ? "delivered twice" : "rejected and made again")];
            }
        }
        const CardJourney& last = *copies.back();
        if (last.end == CardEnd::Rejected && ranToEnd) {
            violation(job, card, "personalised and rejected, never made again (" + where(last) + ")");
        } else if (last.end == CardEnd::Delivered) {
            ++audit_.delivered;
        }
    }

private:
    const std::vector<JourneyJob>& jobs_;
    JourneyAudit& audit_;
};

}  // namespace

std::size_t JourneyAudit::unavoidableRepeats() const {
    std::size_t total = 0;
    for (const auto& [cause, n] : unavoidable) total += n;
    return total;
}

JourneyAudit auditJourneys(const std::vector<JourneyJob>& jobs, const std::vector<CardJourney>& journeys,
                           const std::vector<SentCard>& sent) {
    JourneyAudit audit;
    Auditor auditor(jobs, audit);

    std::vector<std::vector<std::vector<const CardJourney*>>> copies(jobs.size());
    for (std::size_t j = 0; j < jobs.size(); ++j) copies[j].resize(jobs[j].cards.size());
    std::map<std::size_t, const CardJourney*> byFrame;
    for (const CardJourney& card : journeys) {
        if (!card.personalised) {
            if (card.end == CardEnd::Rejected) ++audit.blankRejects;
            if (card.end == CardEnd::Delivered) {
                auditor.violation(0, 0, "machine card " + std::to_string(card.card) + " delivered blank");
            }
            continue;
        }
        byFrame[card.personalizeFrame] = &card;
        const auto id = auditor.expectedAs(card);
        if (!id) {
            auditor.violation(0, 0, "misprint: " + where(card) + " was set up with \"" + text(card.setupText) +
                                        "\" and personalised with \"" + text(card.personalisationText) +
                                        "\", the texts of no card of the run");
            continue;
        }
        if (card.completionCode != completion::Success) {
            // The machine said so: the card is spoiled, and must not leave as made.
            ++audit.spoiled;
            if (card.end == CardEnd::Delivered) auditor.violation(id->job, id->card, "a spoiled card delivered (" + where(card) + ")");
            continue;
        }
        copies[id->job - 1][id->card - 1].push_back(&card);
    }

    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const bool ranToEnd = !jobs[j].deletedAtFrame;
        std::size_t lastDelivery = 0;
        std::size_t lastCard = 0;
        for (std::size_t c = 0; c < jobs[j].cards.size(); ++c) {
            const auto& list = copies[j][c];
            auditor.checkCopies(j + 1, c + 1, list, ranToEnd);
            if (list.empty() || list.back()->end != CardEnd::Delivered) continue;
            if (list.back()->endedAtFrame < lastDelivery) {
                auditor.violation(j + 1, c + 1, "delivered before card " + std::to_string(lastCard) + " of its job");
            }
            lastDelivery = list.back()->endedAtFrame;
            lastCard = c + 1;
        }
        if (jobs[j].cardInsideAtEnd) {
            const std::size_t inside = *jobs[j].cardInsideAtEnd;
            std::string what = "machine card " + std::to_string(inside) + " is left in the machine when its EndDocPort returns";
            if (inside >= 1 && inside <= journeys.size()) {
                const CardJourney& card = journeys[inside - 1];
                const auto id = card.personalised ? auditor.expectedAs(card) : std::nullopt;
                what += card.personalised ? (id ? " (personalised as " + cardLabel(*id) + ")" : " (personalised)")
                                          : " (blank)";
            }
            auditor.violation(j + 1, 0, std::move(what));
        }
    }

    for (const SentCard& frame : sent) {
        if (frame.id.job == 0 || frame.id.job > jobs.size()) continue;
        const auto deletedAt = jobs[frame.id.job - 1].deletedAtFrame;
        if (!deletedAt || frame.frame <= *deletedAt) continue;
        std::string what = "of the deleted job went out in a Personalize frame after the deletion (frame " +
                           std::to_string(frame.frame) + ")";
        const auto made = byFrame.find(frame.frame);
        if (made != byFrame.end()) what += std::string(" and was ") + cardEndName(made->second->end);
        auditor.violation(frame.id.job, frame.id.card, std::move(what));
    }
    return audit;
}

}  // namespace kestrova::simulator
