// kestrova_soak: long jobs through the real module against the simulated
// machine with random faults, while a client sends random control requests;
// then the machine's card log and the spooler calls are checked. Seeded: the
// same seed and the same build give the same run, totals and verdict.
#include "checks/soak/soak_plan.h"
#include "checks/soak/soak_run.h"
#include "simulator/option_text.h"
#include "tool/arguments.h"

#include <chrono>
#include <iostream>
#include <random>
#include <sstream>

namespace {

using namespace kestrova;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: kestrova_soak [--cards N] [--seed S] [--keep-completions] [--progress-every N]\n"
    "                     [--trace-frames A-B] [--module PATH]\n"
    "  --cards N            cards in all jobs together (default 300)\n"
    "  --seed S             the run's seed (default: a fresh one, printed first)\n"
    "  --keep-completions   no Poll reply is damaged, so no Personalize completion is lost:\n"
    "                       then no card may be personalised twice\n"
    "  --progress-every N   a progress line every N cards (default 1000)\n"
    "  --trace-frames A-B   every frame from the machine's A-th to its B-th, in hex with its meaning\n"
    "  --module PATH        the module to load (default: the one built with this program)\n"
    "Exit status: 0 PASS, 1 FAIL, 2 bad command line, 4 no module.\n";

std::string duration(std::uint64_t ms) {
    const std::uint64_t s = ms / 1000;
    std::ostringstream out;
    if (s >= 3600) out << s / 3600 << " h ";
    out << s % 3600 / 60 << " min " << s % 60 << " s";
    return out.str();
}

template <class Map>
std::string listed(const Map& counts) {
    std::ostringstream out;
    const char* separator = "";
    for (const auto& [key, count] : counts) {
        out << separator << key << " " << count;
        separator = ", ";
    }
    return out.str();
}

template <class Map>
std::size_t count(const Map& counts) {
    std::size_t total = 0;
    for (const auto& entry : counts) total += entry.second;
    return total;
}

void printTotals(const soak::SoakPlan& plan, const soak::SoakOutcome& outcome) {
    std::cout << "jobs (cards personalised / cards of the job, d: deleted):";
    std::size_t deliveredTotal = 0;
    for (std::size_t i = 0; i < outcome.jobs.size(); ++i) {
        deliveredTotal += outcome.audit.madePerJob[i];
        std::cout << (i % 10 == 0 ? "\n  " : "  ") << i + 1 << ":" << outcome.audit.madePerJob[i] << "/"
                  << outcome.jobs[i].cards << (outcome.jobs[i].deletedAtFrame ? "d" : "");
    }
    std::size_t planned = 0;
    for (const auto& job : plan.jobs) planned += job.cards;
    const soak::ClientTotals& client = outcome.client;
    const std::size_t halts = count(client.halts);
    std::cout << "\ncards: " << planned << " planned in " << outcome.jobs.size() << " jobs, " << deliveredTotal
              << " personalised once and in order, " << outcome.audit.spoiled << " spoiled, "
              << outcome.audit.lostCompletionRepeats
              << " personalised again after a lost Personalize completion (link hazard)\n"
              << "deletions: " << count(client.deletions) << " (" << listed(client.deletions) << ")\n"
              << "restores: " << client.operatorRestores << " after a halt, " << client.otherRestores
              << " out of turn\n"
              << "halts: " << halts << " (by hw_error_code: " << listed(client.halts) << ")\n"
              << "control requests: " << listed(client.requests) << "\n"
              << "faults fired: " << listed(outcome.faultsFired) << "\n"
              << "machine: " << outcome.machine.framesReceived << " frames, " << outcome.machine.cardsTakenIn
              << " cards taken in, " << outcome.machine.cardsDelivered << " delivered, "
              << outcome.machine.cardsRejected << " rejected\n"
              << "spooler calls: " << listed(outcome.spoolerCalls) << "\n"
              << "at the end: state \"" << outcome.last.state.value_or("?") << "\", hw_error_code "
              << outcome.last.hwErrorCode.value_or(0) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<tool::OptionRule> rules = {
        {"help", false}, {"cards", true}, {"seed", true}, {"keep-completions", false},
        {"progress-every", true}, {"trace-frames", true}, {"module", true},
    };
    const auto parsed = tool::parseArguments(std::vector<std::string>(argv + 1, argv + argc), rules, "soak");
    if (!parsed.arguments || !parsed.arguments->positionals.empty()) {
        std::cerr << (parsed.arguments ? "kestrova_soak takes no file" : parsed.error) << "\n" << kUsage;
        return 2;
    }
    const tool::Arguments& arguments = *parsed.arguments;
    if (arguments.has("help")) {
        std::cout << kUsage;
        return 0;
    }
    auto number = [&](const char* name, std::uint64_t fallback, std::uint64_t max) -> std::optional<std::uint64_t> {
        const auto text = arguments.value(name);
        if (!text) return fallback;
        const auto value = simulator::option_text::parseUnsigned(*text, max);
        if (!value) std::cerr << "--" << name << " needs a whole number up to " << max << ", not '" << *text << "'\n";
        return value;
    };
    const auto cards = number("cards", 300, 10000000);
    const auto seed = number("seed", std::random_device()(), UINT64_MAX);
    const auto every = number("progress-every", 1000, 10000000);
    if (!cards || !seed || !every || *cards == 0) {
        if (cards && *cards == 0) std::cerr << "--cards needs at least one card\n";
        std::cerr << kUsage;
        return 2;
    }

    soak::SoakOptions options;
    if (const auto trace = arguments.value("trace-frames")) {
        const auto ends = simulator::option_text::split(*trace, '-');
        const auto first = simulator::option_text::parseUnsigned(ends[0], SIZE_MAX);
        const auto last = ends.size() == 2 ? simulator::option_text::parseUnsigned(ends[1], SIZE_MAX) : first;
        if (ends.size() > 2 || !first || !last || *last == 0 || *last < *first) {
            std::cerr << "--trace-frames needs A-B, the first and last frame to show (from 1), not '" << *trace
                      << "'\n";
            return 2;
        }
        options.traceFirst = static_cast<std::size_t>(*first);
        options.traceLast = static_cast<std::size_t>(*last);
    }
    options.cards = static_cast<std::size_t>(*cards);
    options.seed = *seed;
    options.keepCompletions = arguments.has("keep-completions");
    const soak::SoakPlan plan = soak::drawPlan(options);
    std::size_t toDelete = 0;
    std::size_t toDeleteDuringIntake = 0;
    for (const auto& job : plan.jobs) {
        toDelete += job.deleteAfterMs ? 1 : 0;
        toDeleteDuringIntake += job.deleteDuringIntake ? 1 : 0;
    }
    std::cout << "kestrova soak: seed " << options.seed << ", " << options.cards << " cards in " << plan.jobs.size()
              << " jobs (" << toDelete << " to be deleted while they run, " << toDeleteDuringIntake
              << " while their data is written), "
              << (options.keepCompletions ? "no Poll reply damaged (no completion lost)" : "full fault mix") << "\n"
              << "machine durations (ms): restore " << plan.durations.restoreMs << ", preload "
              << plan.durations.preLoadMs << ", load " << plan.durations.loadMs << ", personalize "
              << plan.durations.personalizeMs << ", eject " << plan.durations.ejectMs << "\n"
              << "faults: " << plan.faultText << std::endl;

    const auto realStart = Clock::now();
    std::size_t nextProgress = *every;
    const soak::SoakOutcome outcome = soak::runSoak(
        options, plan, arguments.value("module").value_or(KESTROVA_SOAK_MODULE),
        [&](std::size_t done, std::size_t jobs, const soak::ClientTotals& client) {
            if (*every == 0 || done < nextProgress || done == options.cards) return;
            while (nextProgress <= done) nextProgress += *every;
            const auto real = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - realStart).count();
            std::cout << "... " << done << " of " << options.cards << " cards (" << jobs << " jobs), "
                      << count(client.deletions) << " deleted, " << client.operatorRestores + client.otherRestores
                      << " restores, " << real << " s" << std::endl;
        });
    if (!outcome.error.empty()) {
        std::cerr << "kestrova_soak: " << outcome.error << "\n";
        return 4;
    }
    printTotals(plan, outcome);
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - realStart).count();
    std::cout << "time: " << duration(outcome.virtualMs) << " on the virtual clock, " << realMs << " ms real\n";

    if (outcome.violations.empty()) {
        std::cout << "PASS (seed " << options.seed << "): every card of every job not deleted personalised once and "
                  << "in order; no card of a deleted job after its deletion; the spooler calls balance; nothing "
                     "left open\n";
        return 0;
    }
    std::cout << "FAIL (seed " << options.seed << "): " << outcome.violations.size() << " violations\n";
    for (const auto& found : outcome.violations) {
        std::cout << "  seed " << options.seed;
        if (found.job != 0) std::cout << " job " << found.job;
        if (found.card != 0) std::cout << " card " << found.card;
        std::cout << ": " << found.what << "\n";
    }
    return 1;
}
