#include "checks/soak/soak_plan.h"

#include "simulator/card_log_audit.h"

#include <algorithm>

namespace kestrova::soak {

namespace {

constexpr const char* kLayout = "<SX856 SY540 X120 Y45 F2 CI3 X120 Y200 F1 CI4>\n";
constexpr std::uint64_t kLargestJob = 40;
// One job in this many is deleted while it runs (never the last one, so
// that the run ends with a job produced whole).
constexpr std::uint64_t kDeleteOneIn = 4;
// One job in this many of the others is deleted while its data is written
// (drawn from a stream of its own, so that the other draws of a seed stay).
constexpr std::uint64_t kDeleteDuringIntakeOneIn = 10;
// About what a card takes, to place a deletion anywhere within its job.
constexpr std::uint64_t kCardMsGuess = 5000;

std::string filler(Rng& rng) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz";
    std::string out(draw(rng, 0, 40), ' ');
    for (char& c : out) c = kLetters[draw(rng, 0, sizeof kLetters - 2)];
    return out;
}

std::string jobText(std::size_t job, std::size_t cards, Rng& rng) {
    std::string text = kLayout;
    for (std::size_t card = 1; card <= cards; ++card) {
        text += "<" + simulator::cardLabel({job, card}) + "\n" + filler(rng) + ">\n";
    }
    return text;
}

// Every kind of fault on every command it can hit, each by chance. A Poll is
// sent about fifty times per card, the other commands about once.
std::string drawFaults(Rng& rng, const SoakOptions& options) {
    std::vector<std::string> faults;
    auto add = [&](const std::string& fault, std::uint64_t lo, std::uint64_t hi) {
        faults.push_back(fault + "@?" + std::to_string(draw(rng, lo, hi)));
    };
    for (const char* step : {"preload", "load", "personalize", "eject"}) {
        add(std::string("nak:") + step + ":" + std::to_string(draw(rng, 1, 20)), 25, 90);
    }
    static constexpr char kFailures[] = "12345689";
    for (const char* step : {"restore", "preload", "load", "jobsetup", "personalize", "eject"}) {
        add(std::string("fail:") + step + ":" + kFailures[draw(rng, 0, sizeof kFailures - 2)], 30, 120);
    }
    for (const char* line : {"silent", "badcheck", "stray"}) {
        for (const char* command : {"poll", "restore", "preload", "load", "jobsetup", "personalize", "eject"}) {
            const bool poll = std::string(command) == "poll";
            // A damaged Poll reply may be the one that reports a personalisation.
            if (poll && options.keepCompletions && std::string(line) != "silent") continue;
            add(std::string(line) + ":" + command, poll ? 600 : 40, poll ? 2000 : 160);
        }
    }
    // Gaps well under the link's 1500 ms read time-out: a reply whose tail
    // came after it would be read by the next exchange.
    for (const char* command : {"poll", "restore", "preload", "load", "jobsetup", "personalize", "eject"}) {
        const bool poll = std::string(command) == "poll";
        add(std::string("split:") + command + ":" + std::to_string(draw(rng, 1, 600)), poll ? 50 : 10,
            poll ? 200 : 40);
    }
    const std::uint64_t jams = options.cards / draw(rng, 150, 300) + 1;
    for (std::uint64_t i = 0; i < jams; ++i) {
        faults.push_back("jam:" + std::to_string(draw(rng, 1, options.cards)) + (chance(rng, 2) ? ":eject" : ""));
    }
    std::string text;
    for (const std::string& fault : faults) text += (text.empty() ? "" : ",") + fault;
    return text;
}

}  // namespace

std::uint64_t draw(Rng& rng, std::uint64_t lo, std::uint64_t hi) {
    return std::uniform_int_distribution<std::uint64_t>(lo, hi)(rng);
}

bool chance(Rng& rng, std::uint64_t n) { return draw(rng, 1, n) == 1; }

Rng stream(std::uint64_t seed, Part part) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(part)};
    return Rng(sequence);
}

SoakPlan drawPlan(const SoakOptions& options) {
    SoakPlan plan;
    Rng jobs = stream(options.seed, Part::Jobs);
    Rng intakeDeletions = stream(options.seed, Part::IntakeDeletions);
    for (std::size_t planned = 0; planned < options.cards;) {
        PlannedJob job;
        job.cards = static_cast<std::size_t>(
            std::min<std::uint64_t>(draw(jobs, 1, kLargestJob), options.cards - planned));
        planned += job.cards;
        job.text = jobText(plan.jobs.size() + 1, job.cards, jobs);
        job.chunk = static_cast<std::size_t>(draw(jobs, 1, 4096));
        if (planned < options.cards && chance(jobs, kDeleteOneIn)) {
            job.deleteAfterMs = draw(jobs, 0, job.cards * kCardMsGuess);
        } else if (planned < options.cards) {
            job.deleteDuringIntake = chance(intakeDeletions, kDeleteDuringIntakeOneIn);
        }
        plan.jobs.push_back(std::move(job));
    }

    Rng durations = stream(options.seed, Part::Durations);
    plan.durations.restoreMs = draw(durations, 300, 3000);
    plan.durations.preLoadMs = draw(durations, 100, 1200);
    plan.durations.loadMs = draw(durations, 100, 1500);
    plan.durations.personalizeMs = draw(durations, 200, 3000);
    plan.durations.ejectMs = draw(durations, 100, 1000);

    Rng faults = stream(options.seed, Part::Faults);
    plan.faultText = drawFaults(faults, options);
    // The grammar's own reading: the plan printed is the plan run.
    plan.faults = simulator::parseFaultPlan(plan.faultText).plan.value();
    plan.faults.seed = faults();
    return plan;
}

}  // namespace kestrova::soak
