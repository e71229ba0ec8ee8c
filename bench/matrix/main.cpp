// kestrova_fault_matrix: every single fault at every step of a small job,
// each control request at every cycle boundary, and (with --pairs) every
// pair of single faults, through the real module against the simulated
// machine on the virtual clock; each case judged by the machine's card log
// and the spooler calls. Prints a table of outcomes by class and ends with
// "N passed, N failed".
#include "bench/matrix/matrix_case.h"
#include "bench/matrix/matrix_plan.h"
#include "link/link_session.h"
#include "link/machine_command.h"
#include "simulator/fault_plan.h"
#include "simulator/option_text.h"
#include "tool/arguments.h"

#include <algorithm>
#include <array>
#include <chrono>
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

constexpr std::size_t kVerdicts = 5;

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
    std::uint64_t longestExchangeMs = 0;
    std::string longestExchangeCase;
    std::size_t cutByTheBound = 0;
    std::size_t bothStruck = 0;
};

void note(Totals& totals, const MatrixCase& c, const CaseOutcome& outcome, std::size_t examples) {
    if (totals.rows.find(c.group) == totals.rows.end()) totals.order.push_back(c.group);
    Row& row = totals.rows[c.group];
    ++row.cases;
    ++row.counts[static_cast<std::size_t>(outcome.verdict)];
    if (outcome.staleReplies > 0) ++row.readLate;
    if (outcome.longestExchangeMs > totals.longestExchangeMs) {
        totals.longestExchangeMs = outcome.longestExchangeMs;
        totals.longestExchangeCase = c.caseText();
    }
    if (outcome.longestExchangeMs >= kLongestReplyMs) ++totals.cutByTheBound;
    if (outcome.faultsStruck >= 2) ++totals.bothStruck;
    const bool shows = outcome.verdict != Verdict::Whole && outcome.verdict != Verdict::Restored;
    if (shows && totals.shown[outcome.verdict]++ < examples) {
        std::string text = "  [" + c.group + "] " + c.caseText();
        for (std::size_t i = 0; i < outcome.findings.size() && i < 4; ++i) {
            const auto& f = outcome.findings[i];
            text += "\n      ";
            if (f.job != 0) text += "job " + std::to_string(f.job) + " ";
            if (f.card != 0) text += "card " + std::to_string(f.card) + " ";
            text += f.what;
        }
        if (outcome.verdict == Verdict::LateReply) {
            text += "\n      " + std::to_string(outcome.staleReplies) + " replies read after a later frame went out";
        }
        totals.examples[outcome.verdict].push_back(text);
    }
}

void printTable(const Totals& totals) {
    std::size_t width = 5;
    for (const auto& name : totals.order) width = std::max(width, name.size());
    std::cout << std::left << std::setw(static_cast<int>(width)) << "class" << std::right << std::setw(7) << "cases"
              << std::setw(7) << "whole" << std::setw(10) << "restored" << std::setw(10) << "lost-done"
              << std::setw(11) << "late-reply" << std::setw(8) << "failed" << std::setw(11) << "read-late" << "\n";
    Row all;
    for (const auto& name : totals.order) {
        const Row& row = totals.rows.at(name);
        std::cout << std::left << std::setw(static_cast<int>(width)) << name << std::right << std::setw(7)
                  << row.cases << std::setw(7) << row.counts[0] << std::setw(10) << row.counts[1] << std::setw(10)
                  << row.counts[2] << std::setw(11) << row.counts[3] << std::setw(8) << row.counts[4] << std::setw(11)
                  << row.readLate << "\n";
        all.cases += row.cases;
        all.readLate += row.readLate;
        for (std::size_t v = 0; v < kVerdicts; ++v) all.counts[v] += row.counts[v];
    }
    std::cout << std::left << std::setw(static_cast<int>(width)) << "all" << std::right << std::setw(7) << all.cases
              << std::setw(7) << all.counts[0] << std::setw(10) << all.counts[1] << std::setw(10) << all.counts[2]
              << std::setw(11) << all.counts[3] << std::setw(8) << all.counts[4] << std::setw(11) << all.readLate
              << "\n"
              << "(whole: every card once and in order, no halt; restored: the same after the operator's restore;\n"
              << " lost-done, late-reply: the link's hazards, counted apart; read-late: cases in which a reply was\n"
              << " read only after a later frame had gone out, whatever the outcome)\n";
}

Baseline baselineOf(tool::LoadedModule& module, std::vector<std::size_t> jobs, std::vector<TimedRequest> requests,
                    std::string& error) {
    MatrixCase c;
    c.jobs = jobs;
    c.requests = requests;
    CaseSettings settings{matrixDurations(), true, nullptr};
    const CaseOutcome outcome = runCase(c, module, settings);
    if (outcome.verdict != Verdict::Whole) {
        error = "the fault-free run did not produce every card once (" + c.caseText() + ")";
        for (const auto& f : outcome.findings) error += "\n  " + f.what;
    }
    Baseline base;
    base.jobs = std::move(jobs);
    base.requests = std::move(requests);
    base.firstJobFrames = outcome.firstJobFrames;
    base.firstJobBoundaries = outcome.firstJobBoundaries;
    base.firstJob.assign(outcome.received.begin(),
                         outcome.received.begin() +
                             static_cast<std::ptrdiff_t>(std::min(outcome.firstJobFrames, outcome.received.size())));
    return base;
}

// The RunControl frames of a run that pauses, continues, steps and continues
// again: each command fault on each of them.
std::vector<MatrixCase> runControlCases(const Baseline& base) {
    std::vector<MatrixCase> cases;
    const char* const kinds[] = {"nak:runcontrol:7", "fail:runcontrol:3", "silent:runcontrol", "badcheck:runcontrol",
                                 "stray:runcontrol", "split:runcontrol", "lostdone:runcontrol", "late:runcontrol",
                                 "twice:runcontrol", "trickle:runcontrol"};
    for (std::size_t i = 0; i < base.firstJob.size(); ++i) {
        if (base.firstJob[i].command != command::RunControl) continue;
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

int runOne(tool::LoadedModule& module, const MatrixCase& c) {
    simulator::FrameTracer tracer([](const std::string& line) { std::cout << line << "\n"; });
    CaseSettings settings{matrixDurations(), false, &tracer};
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
                                                 {"examples", true}, {"case", true},   {"module", true}};
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
    std::vector<MatrixCase> cases;
    if (pairs) {
        const Baseline base = baselineOf(module, {2, 1}, {}, error);
        if (!error.empty()) {
            std::cerr << error << "\n";
            return 1;
        }
        cases = pairCases(singleFaultCases(base, false));
        std::cout << "kestrova fault matrix: every pair of single faults on a 2-card job (then a 1-card job)\n";
    } else {
        const Baseline base = baselineOf(module, {3, 1}, {}, error);
        const Baseline paused =
            baselineOf(module, {3, 1}, {{3, "pause"}, {8, "continue"}, {12, "step"}, {17, "continue"}}, error);
        if (!error.empty()) {
            std::cerr << error << "\n";
            return 1;
        }
        cases = singleFaultCases(base, true);
        const auto control = runControlCases(paused);
        cases.insert(cases.end(), control.begin(), control.end());
        const auto requests = controlRequestCases(base);
        cases.insert(cases.end(), requests.begin(), requests.end());
        std::cout << "kestrova fault matrix: single faults and control requests on a 3-card job (then a 1-card "
                     "job); the fault-free run makes "
                  << base.firstJobFrames << " exchanges over " << base.firstJobBoundaries << " cycle boundaries\n";
    }
    if (const auto only = arguments.value("only")) {
        cases.erase(std::remove_if(cases.begin(), cases.end(),
                                   [&](const MatrixCase& c) { return c.group.find(*only) == std::string::npos; }),
                    cases.end());
    }
    std::cout << cases.size() << " cases" << std::endl;

    Totals totals;
    const CaseSettings settings{matrixDurations(), false, nullptr};
    const std::size_t progressEvery = 2000;
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
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - realStart).count();
    std::cout << "time: " << realMs << " ms real\n";

    std::size_t failed = 0;
    for (const auto& [name, row] : totals.rows) failed += row.counts[static_cast<std::size_t>(Verdict::Failed)];
    std::cout << cases.size() - failed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
}
