// Whether the machine's card log shows a run of jobs produced as it should
// be: every card of a job that ran to its end personalised and delivered
// once, in order; of a deleted job, only cards started before the deletion,
// in order, and none of its cards in a Personalize frame after it. Each card
// carries its job and place as its first text (cardLabel).
#pragma once

#include "simulator/card_log.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::simulator {

struct CardId {
    std::size_t job = 0;   // 1-based
    std::size_t card = 0;  // 1-based place in its job
};

// "J<job>-C<card>".
std::string cardLabel(const CardId& id);
std::optional<CardId> readCardLabel(const std::string& text);

struct AuditedJob {
    std::size_t cards = 0;
    // Frames the machine had received when the job's EndDocPort began.
    std::size_t startFrame = 0;
    // Frames the machine had received when its delete_job took effect; none:
    // the job ran to its end.
    std::optional<std::size_t> deletedAtFrame;
};

// A Personalize frame the machine received: its number and the card it carried.
struct SentCard {
    std::size_t frame = 0;
    CardId id;
};

struct AuditFinding {
    std::size_t job = 0;   // 0: no job of the run
    std::size_t card = 0;
    std::string what;
};

struct CardLogAudit {
    std::vector<AuditFinding> violations;
    std::vector<std::size_t> madePerJob;  // cards personalised and counted, per job
    std::size_t spoiled = 0;              // personalisations completed with a failure
    // A card personalised again because the report of its first
    // personalisation was damaged on the line: no host can tell, so these are
    // counted, not held against the module.
    std::size_t lostCompletionRepeats = 0;
};

// jobs[i] is job i + 1; `sent` in the order the frames came.
CardLogAudit auditCardLog(const std::vector<AuditedJob>& jobs, const std::vector<PersonalisedCard>& log,
                          const std::vector<SentCard>& sent);

}  // namespace kestrova::simulator
