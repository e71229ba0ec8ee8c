// What one soak run does, drawn from its seed: the jobs (sizes, card texts,
// which are deleted and when), the machine's durations and its faults. The
// same seed and the same build give the same plan, and so the same run.
#pragma once

#include "simulator/fault_plan.h"
#include "simulator/machine_durations.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kestrova::soak {

using Rng = std::mt19937_64;

// A whole number from lo to hi, both included.
std::uint64_t draw(Rng& rng, std::uint64_t lo, std::uint64_t hi);
// True with a chance of 1 in n.
bool chance(Rng& rng, std::uint64_t n);
// An independent stream of draws for each part of the run.
enum class Part : std::uint64_t { Jobs = 1, Faults, Durations, Client, IntakeDeletions };
Rng stream(std::uint64_t seed, Part part);

struct SoakOptions {
    std::size_t cards = 300;
    std::uint64_t seed = 1;
    // No reply to a Poll is damaged, so no Personalize completion is lost and
    // no card may be personalised twice.
    bool keepCompletions = false;
    // Frames shown in a trace, by the machine's count of frames received
    // (traceLast 0: none).
    std::size_t traceFirst = 0;
    std::size_t traceLast = 0;
};

struct PlannedJob {
    std::size_t cards = 0;
    std::string text;   // the job as the spooler writes it
    std::size_t chunk = 0;  // bytes per WritePort
    // Virtual ms after its EndDocPort began; none: the job runs to its end.
    std::optional<std::uint64_t> deleteAfterMs;
    // Deleted once its data is written, before EndDocPort: nothing of it is made.
    bool deleteDuringIntake = false;
};

struct SoakPlan {
    std::vector<PlannedJob> jobs;
    simulator::MachineDurations durations;
    std::string faultText;  // in the fault grammar of kestrova print --faults
    simulator::FaultPlan faults;
};

SoakPlan drawPlan(const SoakOptions& options);

}  // namespace kestrova::soak
