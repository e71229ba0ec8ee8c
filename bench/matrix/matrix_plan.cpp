#include "bench/matrix/matrix_plan.h"

#include "link/machine_command.h"
#include "simulator/fault_plan.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <utility>

namespace kestrova::matrix {

namespace {

bool acknowledged(std::uint8_t letter) {
    return letter == command::Restore || letter == command::PreLoad || letter == command::Load ||
           letter == command::Personalize || letter == command::Eject;
}

// The kinds that strike a command's reply, each with the commands it fits.
struct CommandFault {
    const char* kind;
    const char* argument;  // after the command, e.g. ":7" for a reject code
    bool (*fits)(std::uint8_t letter);
};

bool anyCommand(std::uint8_t) { return true; }
bool completes(std::uint8_t letter) { return letter != command::Poll; }

const CommandFault kCommandFaults[] = {
    {"nak", ":7", anyCommand},        {"fail", ":3", completes},    {"silent", "", anyCommand},
    {"badcheck", "", anyCommand},     {"stray", "", anyCommand},    {"split", "", anyCommand},
    {"lostack", "", acknowledged},    {"lostdone", "", completes},  {"late", "", anyCommand},
    {"twice", "", anyCommand},        {"trickle", "", anyCommand},
};

// Faults of the line and of the machine's power that strike whatever frame
// comes, placed at every exchange.
const char* const kExchangeFaults[] = {"silent:any", "badcheck:any", "stray:any", "late:any",
                                       "twice:any",  "trickle:any",  "nak:any:7", "powercut"};

std::string kindOf(const std::string& fault) { return fault.substr(0, fault.find_first_of(":@")); }

MatrixCase single(const Baseline& baseline, std::string group, std::string fault) {
    MatrixCase c;
    c.group = std::move(group);
    c.faults = std::move(fault);
    c.jobs = baseline.jobs;
    c.requests = baseline.requests;
    c.mustStrike = 1;
    return c;
}

}  // namespace

std::vector<MatrixCase> singleFaultCases(const Baseline& baseline, bool everyExchange) {
    std::vector<MatrixCase> cases;
    std::set<std::pair<std::uint8_t, std::size_t>> sent;  // command and card, as first sent
    std::set<std::pair<std::uint8_t, std::size_t>> completed;
    for (const simulator::ReceivedRequest& request : baseline.firstJob) {
        sent.insert({request.command, request.card});
        if (completes(request.command)) completed.insert({request.command, request.card});
    }
    std::size_t cards = 0;
    for (const auto& [letter, card] : sent) cards = std::max(cards, card);
    for (const CommandFault& fault : kCommandFaults) {
        const auto& commands = std::string(fault.kind) == "lostdone" ? completed : sent;
        for (const auto& [letter, card] : commands) {
            if (!fault.fits(letter)) continue;
            const std::string name = simulator::commandName(letter);
            std::string lower;
            for (const char ch : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            cases.push_back(single(baseline, std::string(fault.kind) + " (each command, each card)",
                                   std::string(fault.kind) + ":" + lower + fault.argument + "@" +
                                       std::to_string(card)));
        }
    }
    for (std::size_t delivered = 0; delivered < cards; ++delivered) {
        for (const char* where : {"load", "eject"}) {
            cases.push_back(single(baseline, "jam (each card, at load and at eject)",
                                   "jam:" + std::to_string(delivered) + ":" + where));
        }
    }
    if (everyExchange) {
        for (const char* fault : kExchangeFaults) {
            for (std::size_t frame = 1; frame <= baseline.firstJobFrames; ++frame) {
                cases.push_back(single(baseline, kindOf(fault) + " (every exchange)",
                                       std::string(fault) + "@#" + std::to_string(frame)));
            }
        }
    }
    return cases;
}

std::vector<MatrixCase> controlRequestCases(const Baseline& baseline) {
    // A paused or stepped machine holds production until a person continues it.
    constexpr std::size_t kContinueAfter = 5;
    std::vector<MatrixCase> cases;
    for (std::size_t b = 1; b <= baseline.firstJobBoundaries; ++b) {
        auto add = [&](const char* group, std::vector<TimedRequest> requests, std::vector<std::size_t> jobs) {
            MatrixCase c;
            c.group = group;
            c.jobs = std::move(jobs);
            c.requests = std::move(requests);
            cases.push_back(std::move(c));
        };
        const std::vector<std::size_t> jobs = baseline.jobs;
        add("delete_job, then a second job", {{b, "delete_job"}}, {baseline.jobs.front(), 2});
        add("restore", {{b, "restore"}}, jobs);
        add("pause, continue 5 boundaries later", {{b, "pause"}, {b + kContinueAfter, "continue"}}, jobs);
        add("step, continue 5 boundaries later", {{b, "step"}, {b + kContinueAfter, "continue"}}, jobs);
        add("get_info", {{b, "get_info"}}, jobs);
    }
    return cases;
}

std::vector<MatrixCase> pairCases(const std::vector<MatrixCase>& singles) {
    std::vector<MatrixCase> cases;
    cases.reserve(singles.size() * (singles.size() - 1) / 2);
    for (std::size_t i = 0; i < singles.size(); ++i) {
        for (std::size_t j = i + 1; j < singles.size(); ++j) {
            MatrixCase c = singles[i];
            std::string first = kindOf(singles[i].faults);
            std::string second = kindOf(singles[j].faults);
            if (second < first) std::swap(first, second);
            c.group = first + " + " + second;
            c.faults = singles[i].faults + "," + singles[j].faults;
            c.mustStrike = 1;
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

}  // namespace kestrova::matrix
