// Whether every physical card of a run of jobs came to the end it should:
// each card of a job that ran to its end delivered exactly once, in order,
// with exactly the JobSetup and Personalize texts its job asks for; no card
// left in the machine when a job's EndDocPort returned; a card made twice
// only where the report of its first personalisation never reached the line
// whole (no host could know it was made: unavoidable, and counted).
#pragma once

#include "link/bytes.h"
#include "simulator/card_journey.h"
#include "simulator/card_log_audit.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::simulator {

struct ExpectedCard {
    Bytes setupText;
    Bytes personalisationText;
};

struct JourneyJob {
    std::vector<ExpectedCard> cards;  // in the job's order
    // Frames the machine had received when its delete_job took effect; none:
    // the job ran to its end.
    std::optional<std::size_t> deletedAtFrame;
    // The machine's card still inside when the job's EndDocPort returned.
    std::optional<std::size_t> cardInsideAtEnd;
};

struct JourneyAudit {
    std::vector<AuditFinding> violations;
    std::size_t delivered = 0;   // cards delivered, all jobs
    std::size_t spoiled = 0;     // personalisations the machine reported as failed (rejected, made again)
    std::size_t blankRejects = 0;  // cards taken in and rejected before any personalisation
    // Cards made twice because the report of the first personalisation never
    // reached the line whole, by "cause, end" ("lostdone, delivered twice").
    std::map<std::string, std::size_t> unavoidable;
    std::size_t unavoidableRepeats() const;
};

// jobs[i] is job i + 1; `sent` are the Personalize frames as they came.
JourneyAudit auditJourneys(const std::vector<JourneyJob>& jobs, const std::vector<CardJourney>& journeys,
                           const std::vector<SentCard>& sent);

}  // namespace kestrova::simulator
