#include "checks/matrix/matrix_plan.h"

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
const char* const kExchangeFaults[] = {"silent:any", "badcheck:any", "stray:any", "late:any", "twice:any",
                                       "trickle:any", "nak:any:7",   "split:any", "powercut"};

std::string kindOf(const std::string& fault) { return fault.substr(0, fault.find_first_of(":@")); }

MatrixCase withFault(const Baseline& baseline, std::string group, std::string fault) {
    MatrixCase c;
    c.group = std::move(group);
    c.faults = std::move(fault);
    c.jobs = baseline.jobs;
    c.requests = baseline.requests;
    c.mustStrike = 1;
    return c;
}

std::string atFrame(std::size_t frame) { return "@#" + std::to_string(frame); }

}  // namespace

const std::vector<std::uint64_t>& swept(const char* kind) {
    // A 10-byte reply trickled 450 ms apart takes 4.5 s, 550 ms apart 5.5 s.
    static const std::vector<std::uint64_t> trickle{450, 550, 1400, 1490, 1510, 1600};
    static const std::vector<std::uint64_t> delays{1400, 1490, 1510, 1600, 2500, 4000, 4900, 5100};
    return std::string(kind) == "trickle" ? trickle : delays;
}

std::vector<MatrixCase> singleFaultCases(const Baseline& baseline, bool everyExchange, bool sweep) {
    std::vector<MatrixCase> cases;
    std::set<std::pair<std::uint8_t, std::size_t>> sent;  // command and card, as first sent
    std::set<std::pair<std::uint8_t, std::size_t>> completed;
    for (const simulator::ReceivedRequest& request : baseline.received) {
        sent.insert({request.command, request.card});
        if (completes(request.command)) completed.insert({request.command, request.card});
    }
    std::size_t cards = 0;  // cards the machine took in
    for (const auto& [letter, card] : sent) {
        if (letter == command::PreLoad) cards = std::max(cards, card);
    }
    for (const CommandFault& fault : kCommandFaults) {
        const auto& commands = std::string(fault.kind) == "lostdone" ? completed : sent;
        for (const auto& [letter, card] : commands) {
            if (!fault.fits(letter)) continue;
            const std::string name = simulator::commandName(letter);
            std::string lower;
            for (const char ch : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            cases.push_back(withFault(baseline, std::string(fault.kind) + " (each command, each card)",
                                      std::string(fault.kind) + ":" + lower + fault.argument + "@" +
                                          std::to_string(card)));
        }
    }
    for (std::size_t delivered = 0; delivered < cards; ++delivered) {
        for (const char* where : {"load", "eject"}) {
            cases.push_back(withFault(baseline, "jam (each card, at load and at eject)",
                                      "jam:" + std::to_string(delivered) + ":" + where));
        }
    }
    if (everyExchange) {
        for (const char* fault : kExchangeFaults) {
            for (std::size_t frame = 1; frame <= baseline.frames; ++frame) {
                cases.push_back(withFault(baseline, kindOf(fault) + " (every exchange)", fault + atFrame(frame)));
            }
        }
    }
    if (sweep) {
        for (const char* kind : {"split", "late", "trickle"}) {
            for (const std::uint64_t ms : swept(kind)) {
                const std::string fault = std::string(kind) + ":any:" + std::to_string(ms);
                for (std::size_t frame = 1; frame <= baseline.frames; ++frame) {
                    cases.push_back(withFault(baseline, std::string(kind) + " " + std::to_string(ms) +
                                                            " ms (every exchange)",
                                              fault + atFrame(frame)));
                }
            }
        }
    }
    return cases;
}

std::vector<MatrixCase> controlRequestCases(const Baseline& baseline, bool withLineFault) {
    // A paused or stepped machine holds production until a person continues it.
    constexpr std::size_t kContinueAfter = 5;
    std::vector<MatrixCase> cases;
    for (std::size_t b = 1; b <= baseline.framesAtBoundary.size(); ++b) {
        const std::size_t next = baseline.framesAtBoundary[b - 1] + 1;
        auto add = [&](const std::string& group, std::vector<TimedRequest> requests) {
            MatrixCase c;
            c.group = group;
            c.jobs = baseline.jobs;
            c.requests = std::move(requests);
            cases.push_back(c);
            if (!withLineFault) return;
            for (const char* fault : kExchangeFaults) {
                MatrixCase f = c;
                f.group = group + " + a line fault";
                f.faults = fault + atFrame(next);
                f.mustStrike = 1;
                cases.push_back(std::move(f));
            }
        };
        add("delete_job", {{b, "delete_job"}});
        add("restore", {{b, "restore"}});
        add("pause, continue 5 boundaries later", {{b, "pause"}, {b + kContinueAfter, "continue"}});
        add("step, continue 5 boundaries later", {{b, "step"}, {b + kContinueAfter, "continue"}});
        add("get_info", {{b, "get_info"}});
    }
    return cases;
}

std::vector<MatrixCase> afterDeletionCases(const Baseline& deletion, std::size_t boundary) {
    std::vector<MatrixCase> cases;
    if (boundary == 0 || boundary > deletion.framesAtBoundary.size()) return cases;
    for (const char* fault : kExchangeFaults) {
        for (std::size_t frame = deletion.framesAtBoundary[boundary - 1] + 1; frame <= deletion.frames; ++frame) {
            cases.push_back(withFault(deletion, "a line fault after a delete_job", fault + atFrame(frame)));
        }
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

std::vector<MatrixCase> runControlCases(const Baseline& base) {
    std::vector<MatrixCase> cases;
    const char* const kinds[] = {"nak:runcontrol:7", "fail:runcontrol:3", "silent:runcontrol", "badcheck:runcontrol",
                                 "stray:runcontrol", "split:runcontrol", "lostdone:runcontrol", "late:runcontrol",
                                 "twice:runcontrol", "trickle:runcontrol"};
    for (std::size_t i = 0; i < base.received.size(); ++i) {
        if (base.received[i].command != command::RunControl) continue;
        for (const char* kind : kinds) {
            MatrixCase c;
            c.group = "runcontrol faults (pause, step, continue)";
            c.faults = std::string(kind) + "@#" + std::to_string(i + 1);
            c.jobs = base.jobs;
            c.requests = base.requests;
            c.mustStrike = 1;
            cases.push_back(std::move(c));
        }
    }
    return cases;
}

}  // namespace kestrova::matrix
