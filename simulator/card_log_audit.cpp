#include "simulator/card_log_audit.h"

#include "simulator/machine_codes.h"

#include <map>
#include <utility>

namespace kestrova::simulator {

namespace {

std::optional<std::size_t> readNumber(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to || to - from > 9) return std::nullopt;
    std::size_t value = 0;
    for (std::size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    return value;
}

std::string position(const PersonalisedCard& entry) {
    return "log position " + std::to_string(entry.position) + ", Personalize frame " +
           std::to_string(entry.personalizeFrame);
}

std::string range(std::size_t first, std::size_t last) {
    return first == last ? "card " + std::to_string(first)
                         : "cards " + std::to_string(first) + " to " + std::to_string(last);
}

class Auditor {
public:
    Auditor(const std::vector<AuditedJob>& jobs, CardLogAudit& audit) : jobs_(jobs), audit_(audit) {}

    std::optional<CardId> idOf(const PersonalisedCard& entry) const {
        if (entry.items.empty()) return std::nullopt;
        const auto id = readCardLabel(entry.items[0].text);
        if (!id || id->job == 0 || id->job > jobs_.size() || id->card == 0 || id->card > jobs_[id->job - 1].cards) {
            return std::nullopt;
        }
        return id;
    }

    void violation(std::size_t job, std::size_t card, std::string what) {
        audit_.violations.push_back(AuditFinding{job, card, std::move(what)});
    }

    void noteSpoiled(const CardId& id, const PersonalisedCard& entry) { spoiled_[{id.job, id.card}] = &entry; }

    // What may explain a card that is missing.
    std::string hint(std::size_t job, std::size_t card) const {
        const auto failed = spoiled_.find({job, card});
        if (failed != spoiled_.end()) {
            return "; its personalisation failed (completion '" +
                   std::string(1, static_cast<char>(failed->second->completionCode)) + "', " +
                   position(*failed->second) + ") and it was not made again";
        }
        if (card == 1 && job > 1 && jobs_[job - 2].deletedAtFrame) return "; the job before it was deleted";
        return "";
    }

    // The personalisations that count for one job, in log order: each card
    // once and in order. A repeat right after a copy whose report was lost
    // is the link's doing, not the module's.
    void checkOrder(std::size_t job, const std::vector<const PersonalisedCard*>& made, bool ranToEnd) {
        std::size_t next = 1;
        std::size_t counted = 0;
        const PersonalisedCard* last = nullptr;
        std::size_t lastCard = 0;
        for (const PersonalisedCard* entry : made) {
            const std::size_t card = idOf(*entry)->card;
            if (last != nullptr && card == lastCard) {
                if (last->completionLost) {
                    ++audit_.lostCompletionRepeats;
                } else {
                    violation(job, card, "personalised twice (" + position(*last) + "; " + position(*entry) + ")");
                }
            } else if (card == next) {
                ++next;
                ++counted;
            } else if (card < next) {
                violation(job, card, "personalised again after card " + std::to_string(next - 1) + " (" +
                                         position(*entry) + ")");
            } else {
                violation(job, next, range(next, card - 1) + " skipped: card " + std::to_string(card) +
                                         " came next (" + position(*entry) + ")" + hint(job, next));
                next = card + 1;
                ++counted;
            }
            last = entry;
            lastCard = card;
        }
        const std::size_t cards = jobs_[job - 1].cards;
        if (ranToEnd && next <= cards) {
            violation(job, next, range(next, cards) + " never personalised" + hint(job, next));
        }
        audit_.madePerJob[job - 1] = counted;
    }

    // The job in production when a frame came: the last one begun before it.
    std::size_t jobAtFrame(std::size_t frame) const {
        std::size_t job = 0;
        for (std::size_t i = 0; i < jobs_.size() && jobs_[i].startFrame < frame; ++i) job = i + 1;
        return job;
    }

private:
    const std::vector<AuditedJob>& jobs_;
    CardLogAudit& audit_;
    std::map<std::pair<std::size_t, std::size_t>, const PersonalisedCard*> spoiled_;  // the last failure per card
};

}  // namespace

std::string cardLabel(const CardId& id) { return "J" + std::to_string(id.job) + "-C" + std::to_string(id.card); }

std::optional<CardId> readCardLabel(const std::string& text) {
    const auto dash = text.find("-C");
    if (text.size() < 2 || text[0] != 'J' || dash == std::string::npos) return std::nullopt;
    const auto job = readNumber(text, 1, dash);
    const auto card = readNumber(text, dash + 2, text.size());
    if (!job || !card) return std::nullopt;
    return CardId{*job, *card};
}

CardLogAudit auditCardLog(const std::vector<AuditedJob>& jobs, const std::vector<PersonalisedCard>& log,
                          const std::vector<SentCard>& sent) {
    CardLogAudit audit;
    audit.madePerJob.assign(jobs.size(), 0);
    Auditor auditor(jobs, audit);

    std::vector<std::vector<const PersonalisedCard*>> made(jobs.size());
    std::map<std::size_t, const PersonalisedCard*> byFrame;
    for (const PersonalisedCard& entry : log) {
        byFrame[entry.personalizeFrame] = &entry;
        const auto id = auditor.idOf(entry);
        if (!id) {
            const std::string text = entry.items.empty() ? std::string() : entry.items[0].text;
            auditor.violation(0, 0, "a card of no job (" + position(entry) + ", first text \"" + text + "\")");
            continue;
        }
        if (entry.completionCode != completion::Success) {
            ++audit.spoiled;
            auditor.noteSpoiled(*id, entry);
            continue;
        }
        const AuditedJob& job = jobs[id->job - 1];
        // What a deleted job's card did later shows in the frames below.
        if (job.deletedAtFrame && entry.personalizeFrame > *job.deletedAtFrame) continue;
        if (!job.deletedAtFrame && !entry.delivered) {
            auditor.violation(id->job, id->card, "personalised but never delivered (" + position(entry) + ")");
        }
        made[id->job - 1].push_back(&entry);
    }
    for (std::size_t job = 1; job <= jobs.size(); ++job) {
        auditor.checkOrder(job, made[job - 1], !jobs[job - 1].deletedAtFrame);
    }

    for (const SentCard& frame : sent) {
        if (frame.id.job == 0 || frame.id.job > jobs.size()) continue;
        const auto deletedAt = jobs[frame.id.job - 1].deletedAtFrame;
        if (!deletedAt || frame.frame <= *deletedAt) continue;
        std::string what = "of the deleted job went out in a Personalize frame after the deletion (frame " +
                           std::to_string(frame.frame) + ", in production: job " +
                           std::to_string(auditor.jobAtFrame(frame.frame)) + ")";
        const auto personalised = byFrame.find(frame.frame);
        if (personalised != byFrame.end()) {
            const PersonalisedCard& entry = *personalised->second;
            what += entry.completionCode != completion::Success ? " and was spoiled"
                    : entry.delivered                           ? " and was personalised and delivered"
                                                                : " and was personalised";
        }
        auditor.violation(frame.id.job, frame.id.card, std::move(what));
    }
    return audit;
}

}  // namespace kestrova::simulator
