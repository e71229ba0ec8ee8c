// kestrova_fault_matrix: every single fault at every step of a small job,
// each control request at every cycle boundary, and (with --pairs) every
// pair of single faults, through the real module against the simulated
// machine on the virtual clock; each case judged by the machine's card log
// and the spooler calls. Prints a table of outcomes by class and ends with
// "N passed, N failed".
#include "checks/matrix/matrix_case.h"
#include "checks/matrix/lying_wire.h"
#include "checks/matrix/matrix_plan.h"
#include "link/link_session.h"
#include "link/machine_command.h"
#include "simulator/fault_plan.h"
#include "simulator/option_text.h"
#include "tool/arguments.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <memory>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace kestrova;
using namespace kestrova::matrix;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: kestrova_fault_matrix [--pairs] [--only TEXT] [--examples N] [--module PATH]\n"
    "       kestrova_fault_matrix --case TEXT [--module PATH]\n"
    "  (none)        single faults on a 3-card job (each kind on each command of each card,\n"
    "                the line faults and a power cut at every exchange, a jam at each card)\n"
    "                and each control request at every cycle boundary\n"
    "  --pairs       every pair of single faults on a 2-card job instead\n"
    "  --only TEXT   only the cases whose class contains TEXT\n"
    "  --examples N  cases shown for each hazard and each failure class (default 3)\n"
    "  --case TEXT   one case with every frame traced, e.g.\n"
    "                --case 'jobs=3,1 faults=late:poll@#12 requests=4:pause,9:continue'\n"
    "  --module PATH the module to load (default: the one built with this program)\n"
    "Exit status: 0 none failed, 1 some failed, 2 bad command line, 4 no module.\n";

constexpr std::size_t kVerdicts = 4;

struct Row {
    std::array<std::size_t, kVerdicts> counts{};
    std::size_t cases = 0;
    std::size_t readLate = 0;  // cases in which a reply was read after a later frame went out
};

struct Totals {
    std::map<std::string, Row> rows;  // by class, in first-seen order below
    std::vector<std::string> order;
    std::map<Verdict, std::vector<std::string>> examples;
    std::map<Verdict, std::size_t> shown;
    std::map<std::string, std::size_t> unavoidable;  // repeats by cause and end
    std::size_t delivered = 0;
    std::uint64_t longestExchangeMs = 0;
    std::string longestExchangeCase;
    std::size_t cutByTheBound = 0;
    std::size_t bothStruck = 0;
};

std::string describe(const MatrixCase& c, const CaseOutcome& outcome) {
    std::string text = "  [" + c.group + "] " + c.caseText();
    for (std::size_t i = 0; i < outcome.findings.size() && i < 4; ++i) {
        const auto& f = outcome.findings[i];
        text += "\n      ";
        if (f.job != 0) text += "job " + std::to_string(f.job) + " ";
        if (f.card != 0) text += "card " + std::to_string(f.card) + " ";
        text += f.what;
    }
    if (outcome.staleReplies > 0) {
        text += "\n      (" + std::to_string(outcome.staleReplies) + " replies read after a later frame went out)";
    }
    return text;
}

void note(Totals& totals, const MatrixCase& c, const CaseOutcome& outcome, std::size_t examples) {
    if (totals.rows.find(c.group) == totals.rows.end()) totals.order.push_back(c.group);
    Row& row = totals.rows[c.group];
    ++row.cases;
    ++row.counts[static_cast<std::size_t>(outcome.verdict)];
    if (outcome.staleReplies > 0) ++row.readLate;
    for (const auto& [cause, n] : outcome.unavoidable) totals.unavoidable[cause] += n;
    totals.delivered += outcome.delivered;
    if (outcome.longestExchangeMs > totals.longestExchangeMs) {
        totals.longestExchangeMs = outcome.longestExchangeMs;
        totals.longestExchangeCase = c.caseText();
    }
    if (outcome.longestExchangeMs >= kLongestReplyMs) ++totals.cutByTheBound;
    if (outcome.faultsStruck >= 2) ++totals.bothStruck;
    const bool shows = outcome.verdict != Verdict::Whole && outcome.verdict != Verdict::Restored;
    if (shows && totals.shown[outcome.verdict]++ < examples) totals.examples[outcome.verdict].push_back(describe(c, outcome));
}

Row sum(const Totals& totals) {
    Row all;
    for (const auto& [name, row] : totals.rows) {
        all.cases += row.cases;
        all.readLate += row.readLate;
        for (std::size_t v = 0; v < kVerdicts; ++v) all.counts[v] += row.counts[v];
    }
    return all;
}

void printTable(const Totals& totals) {
    std::size_t width = 5;
    for (const auto& name : totals.order) width = std::max(width, name.size());
    auto line = [&](const std::string& name, const Row& row) {
        std::cout << std::left << std::setw(static_cast<int>(width)) << name << std::right << std::setw(7)
                  << row.cases << std::setw(7) << row.counts[0] << std::setw(10) << row.counts[1] << std::setw(13)
                  << row.counts[2] << std::setw(8) << row.counts[3] << std::setw(11) << row.readLate << "\n";
    };
    std::cout << std::left << std::setw(static_cast<int>(width)) << "class" << std::right << std::setw(7) << "cases"
              << std::setw(7) << "whole" << std::setw(10) << "restored" << std::setw(13) << "unavoidable"
              << std::setw(8) << "failed" << std::setw(11) << "read-late" << "\n";
    for (const auto& name : totals.order) line(name, totals.rows.at(name));
    line("all", sum(totals));
    std::cout << "(whole: every card delivered once, in order, with exactly its texts, none left in the machine,\n"
              << " no halt; restored: the same after the operator's restore; unavoidable: the same, but a card was\n"
              << " made twice because the report of its personalisation never reached the line whole; read-late:\n"
              << " cases in which a reply was read only after a later frame had gone out, counted whatever the\n"
              << " outcome and never a reason to pass)\n";
}

Baseline baselineOf(tool::LoadedModule& module, std::vector<std::size_t> jobs, std::vector<TimedRequest> requests,
                    std::string& error) {
    MatrixCase c;
    c.jobs = jobs;
    c.requests = requests;
    CaseSettings settings{matrixDurations(), true, nullptr, {}};
    const CaseOutcome outcome = runCase(c, module, settings);
    if (outcome.verdict != Verdict::Whole && error.empty()) {
        error = "the fault-free run did not produce every card once (" + c.caseText() + ")";
        for (const auto& f : outcome.findings) error += "\n  " + f.what;
    }
    Baseline base;
    base.jobs = std::move(jobs);
    base.requests = std::move(requests);
    base.frames = outcome.totalFrames;
    base.framesAtBoundary = outcome.framesAtBoundary;
    base.received = outcome.received;
    return base;
}

// The figures of a run as a Markdown section, for docs/security.md.
void writeMarkdown(const std::string& file, const std::string& run, const std::string& scope, const Totals& totals,
                   const Row& all, long long realMs, std::size_t liesCaught) {
    std::ofstream out(file);
    out << "Measured by `" << run << "` (" << scope << "), in " << (realMs + 500) / 1000 << " s:\n\n"
        << "| class | cases | whole | restored | unavoidable | failed | read late |\n|---|---|---|---|---|---|---|\n";
    for (const auto& name : totals.order) {
        const Row& row = totals.rows.at(name);
        out << "| " << name << " | " << row.cases << " | " << row.counts[0] << " | " << row.counts[1] << " | "
            << row.counts[2] << " | " << row.counts[3] << " | " << row.readLate << " |\n";
    }
    out << "| **all** | " << all.cases << " | " << all.counts[0] << " | " << all.counts[1] << " | " << all.counts[2]
        << " | " << all.counts[3] << " | " << all.readLate << " |\n\n"
        << "Cards delivered: " << totals.delivered << ". Unavoidable repeats by cause and end:";
    if (totals.unavoidable.empty()) out << " none";
    for (const auto& [cause, n] : totals.unavoidable) out << " " << cause << " " << n << ";";
    out << "\nThe self-test's lying wire was caught " << liesCaught << " times of " << everyLie().size() << ".\n";
}

int runOne(tool::LoadedModule& module, const MatrixCase& c) {
    simulator::FrameTracer tracer([](const std::string& line) { std::cout << line << "\n"; });
    CaseSettings settings{matrixDurations(), false, &tracer, {}};
    const CaseOutcome outcome = runCase(c, module, settings);
    std::cout << c.caseText() << "\n"
              << "verdict: " << verdictName(outcome.verdict) << "; faults struck " << outcome.faultsStruck
              << ", restores " << outcome.restores << ", replies read late " << outcome.staleReplies
              << ", longest exchange " << outcome.longestExchangeMs << " ms\n";
    for (const auto& f : outcome.findings) {
        std::cout << "  " << (f.job != 0 ? "job " + std::to_string(f.job) + " " : "")
                  << (f.card != 0 ? "card " + std::to_string(f.card) + " " : "") << f.what << "\n";
    }
    std::cout << (outcome.verdict == Verdict::Failed ? "0 passed, 1 failed" : "1 passed, 0 failed") << "\n";
    return outcome.verdict == Verdict::Failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<tool::OptionRule> rules = {{"help", false},     {"pairs", false}, {"only", true},
                                                 {"examples", true}, {"case", true},   {"module", true},
                                                 {"markdown", true}};
    const auto parsed = tool::parseArguments(std::vector<std::string>(argv + 1, argv + argc), rules, "fault-matrix");
    if (!parsed.arguments || !parsed.arguments->positionals.empty()) {
        std::cerr << (parsed.arguments ? "kestrova_fault_matrix takes no file" : parsed.error) << "\n" << kUsage;
        return 2;
    }
    const tool::Arguments& arguments = *parsed.arguments;
    if (arguments.has("help")) {
        std::cout << kUsage;
        return 0;
    }
    std::size_t examples = 3;
    if (const auto text = arguments.value("examples")) {
        const auto n = simulator::option_text::parseUnsigned(*text, 100000);
        if (!n) {
            std::cerr << "--examples needs a whole number\n" << kUsage;
            return 2;
        }
        examples = static_cast<std::size_t>(*n);
    }

    tool::LoadedModule module;
    std::string error;
    if (!tool::loadModule(module, arguments.value("module").value_or(KESTROVA_MATRIX_MODULE), error)) {
        std::cerr << "kestrova_fault_matrix: " << error << "\n";
        return 4;
    }
    if (const auto text = arguments.value("case")) {
        const auto c = readCaseText(*text, error);
        if (!c) {
            std::cerr << error << "\n" << kUsage;
            return 2;
        }
        return runOne(module, *c);
    }

    const bool pairs = arguments.has("pairs");
    const auto realStart = Clock::now();

    // First the proof that the matrix can fail: each lie of the wire must be caught.
    std::size_t liesPassed = 0;
    std::cout << "self-test: a wire that lies between the module and the machine, on the fault-free jobs 3,1\n";
    for (const Lie lie : everyLie()) {
        MatrixCase c;
        c.group = "self-test";
        CaseSettings settings{matrixDurations(), false, nullptr, [lie](simulator::SimulatorPeer& peer) {
                                  return std::unique_ptr<standin::PortPeer>(new LyingWire(peer, lie));
                              }};
        const CaseOutcome outcome = runCase(c, module, settings);
        const bool caught = outcome.verdict == Verdict::Failed;
        if (!caught) ++liesPassed;
        std::cout << "  " << lieName(lie) << ": " << (caught ? "failed, as it must" : std::string("PASSED: the matrix misses it (") + verdictName(outcome.verdict) +
                                       ", " + std::to_string(outcome.restores) + " restores, " +
                                       std::to_string(outcome.delivered) + " cards delivered)");
        if (!outcome.findings.empty()) std::cout << "\n      " << outcome.findings.front().what;
        std::cout << "\n";
    }
    std::cout << "self-test: " << everyLie().size() - liesPassed << " of " << everyLie().size()
              << " lies caught" << std::endl;

    std::vector<MatrixCase> cases;
    std::string scope;
    if (pairs) {
        const Baseline base = baselineOf(module, {2, 1}, {}, error);
        if (!error.empty()) {
            std::cerr << error << "\n";
            return 1;
        }
        cases = pairCases(singleFaultCases(base, true, false));
        scope = "every pair of single faults (each command fault, the line faults and the power cut at every "
                "exchange) on a 2-card job, then a 1-card job; the fault-free run makes " +
                std::to_string(base.frames) + " exchanges";
    } else {
        const Baseline base = baselineOf(module, {3, 1}, {}, error);
        const Baseline paused =
            baselineOf(module, {3, 1}, {{3, "pause"}, {8, "continue"}, {12, "step"}, {17, "continue"}}, error);
        if (!error.empty()) {
            std::cerr << error << "\n";
            return 1;
        }
        cases = singleFaultCases(base, true, true);
        const auto control = runControlCases(paused);
        cases.insert(cases.end(), control.begin(), control.end());
        const auto requests = controlRequestCases(base, true);
        cases.insert(cases.end(), requests.begin(), requests.end());
        // A deletion in the first job at every third boundary; the second job then runs under each line fault.
        const std::size_t firstJobBoundaries = base.framesAtBoundary.size();
        for (std::size_t b = 2; b < firstJobBoundaries; b += 3) {
            // Only its frames are used: whether it passes is its case's to say.
            std::string ignored;
            const Baseline deleted = baselineOf(module, {3, 1}, {{b, "delete_job"}}, ignored);
            const auto after = afterDeletionCases(deleted, b);
            cases.insert(cases.end(), after.begin(), after.end());
        }
        if (!error.empty()) {
            std::cerr << error << "\n";
            return 1;
        }
        scope = "single faults and control requests on a 3-card job, then a 1-card job; the fault-free run makes " +
                std::to_string(base.frames) + " exchanges over " + std::to_string(base.framesAtBoundary.size()) +
                " cycle boundaries";
    }
    std::cout << "kestrova fault matrix: " << scope << "\n";
    if (const auto only = arguments.value("only")) {
        cases.erase(std::remove_if(cases.begin(), cases.end(),
                                   [&](const MatrixCase& c) { return c.group.find(*only) == std::string::npos; }),
                    cases.end());
    }
    std::cout << cases.size() << " cases" << std::endl;

    Totals totals;
    const CaseSettings settings{matrixDurations(), false, nullptr, {}};
    const std::size_t progressEvery = 5000;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        note(totals, cases[i], runCase(cases[i], module, settings), examples);
        if ((i + 1) % progressEvery == 0 && i + 1 < cases.size()) {
            const auto real = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - realStart).count();
            std::cout << "... " << i + 1 << " of " << cases.size() << " cases, " << real << " s" << std::endl;
        }
    }

    printTable(totals);
    for (const auto& [verdict, list] : totals.examples) {
        std::cout << verdictName(verdict) << " (" << totals.shown[verdict] << " cases; first " << list.size()
                  << "):\n";
        for (const auto& text : list) std::cout << text << "\n";
    }
    std::cout << "longest exchange: " << totals.longestExchangeMs << " ms (the bound on reading a reply is "
              << kLongestReplyMs << " ms; " << totals.cutByTheBound << " cases cut an exchange there)";
    if (!totals.longestExchangeCase.empty()) std::cout << "\n  in " << totals.longestExchangeCase;
    std::cout << "\n";
    if (pairs) std::cout << "pairs where both faults struck: " << totals.bothStruck << "\n";
    const long long realMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - realStart).count();
    std::cout << "time: " << realMs << " ms real\n";

    const Row all = sum(totals);
    std::cout << "summary: " << all.cases << " cases; " << all.counts[0] << " delivered whole, " << all.counts[1]
              << " restored, " << all.counts[2] << " with an unavoidable repeat, " << all.counts[3] << " failed; "
              << totals.delivered << " cards delivered; replies read late in " << all.readLate << " cases\n";
    std::cout << "unavoidable repeats (a Personalize completion that never reached the line whole), by cause and end:";
    if (totals.unavoidable.empty()) std::cout << " none";
    for (const auto& [cause, n] : totals.unavoidable) std::cout << "\n  " << cause << ": " << n;
    std::cout << "\nself-test: " << everyLie().size() - liesPassed << " of " << everyLie().size()
              << " lies caught" << (liesPassed == 0 ? "" : " (the matrix cannot be trusted)") << "\n";
    if (const auto file = arguments.value("markdown")) {
        writeMarkdown(*file, pairs ? "PAIRS=1" : "make fault-matrix", scope, totals, all, realMs,
                      everyLie().size() - liesPassed);
    }
    const std::size_t failed = all.counts[static_cast<std::size_t>(Verdict::Failed)];
    std::cout << cases.size() - failed << " passed, " << failed << " failed\n";
    return failed == 0 && liesPassed == 0 ? 0 : 1;
}
