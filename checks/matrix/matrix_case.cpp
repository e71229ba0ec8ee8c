#include "checks/matrix/matrix_case.h"

#include "checks/harness/simulated_bench.h"
#include "checks/matrix/matrix_operator.h"
#include "simulator/fault_plan.h"
#include "simulator/option_text.h"
#include "standin/platform_standin.h"
#include "tool/control_document.h"
#include "tool/text_encoding.h"

#include <map>
#include <memory>

namespace kestrova::matrix {

namespace {

namespace option_text = simulator::option_text;

// Odd jobs and even jobs have layouts of their own, so that a card made
// with the layout of the job before it shows. What the machine must receive
// for each card is written out here as the bytes themselves, apart from the
// module's own payload code.
struct Layout {
    const char* header;
    const char* setupText;
    const char* firstItem;   // fields of item 1, before the card's label
    const char* secondItem;  // ";" and the fields of item 2, before its text
};
constexpr Layout kLayouts[] = {
    {"<SX856 SY540 X120 Y45 F2 CI3 X120 Y200 F1 CI4>\n", "06SZX85606SZY540", "A012000452030", ";012002001040"},
    {"<SX540 SY856 X30 Y400 F3 CI2 X700 Y20 F1 CI10>\n", "06SZX54006SZY856", "A003004003020", ";070000201100"},
};
constexpr std::size_t kWriteChunk = 4096;

const Layout& layoutOf(std::size_t job) { return kLayouts[(job - 1) % 2]; }

std::string cardText(std::size_t card) { return "CARD TEXT " + std::to_string(card); }

std::string jobText(std::size_t job, std::size_t cards) {
    std::string text = layoutOf(job).header;
    for (std::size_t card = 1; card <= cards; ++card) {
        text += "<" + simulator::cardLabel({job, card}) + "\n" + cardText(card) + ">\n";
    }
    return text;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::vector<simulator::ExpectedCard> expectedCards(std::size_t job, std::size_t cards) {
    std::vector<simulator::ExpectedCard> out;
    const Layout& layout = layoutOf(job);
    for (std::size_t card = 1; card <= cards; ++card) {
        out.push_back({bytesOf(layout.setupText), bytesOf(std::string(layout.firstItem) +
                                                           simulator::cardLabel({job, card}) + layout.secondItem +
                                                           cardText(card))});
    }
    return out;
}

void finding(CaseOutcome& out, std::size_t job, std::string what) {
    out.findings.push_back(simulator::AuditFinding{job, 0, std::move(what)});
}

}  // namespace

std::string MatrixCase::caseText() const {
    std::string text = "jobs=";
    for (std::size_t i = 0; i < jobs.size(); ++i) text += (i == 0 ? "" : ",") + std::to_string(jobs[i]);
    if (!faults.empty()) text += " faults=" + faults;
    if (!requests.empty()) {
        text += " requests=";
        for (std::size_t i = 0; i < requests.size(); ++i) {
            text += (i == 0 ? "" : ",") + std::to_string(requests[i].boundary) + ":" + requests[i].command;
        }
    }
    return text;
}

std::optional<MatrixCase> readCaseText(const std::string& text, std::string& error) {
    MatrixCase out;
    out.group = "case";
    out.jobs.clear();
    for (const std::string& part : option_text::split(option_text::trim(text), ' ')) {
        if (part.empty()) continue;
        const auto equals = part.find('=');
        const std::string key = part.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : part.substr(equals + 1);
        if (key == "jobs") {
            for (const std::string& cards : option_text::split(value, ',')) {
                const auto n = option_text::parseUnsigned(cards, 1000);
                if (!n || *n == 0) {
                    error = "jobs= takes card counts from 1, e.g. jobs=3,1";
                    return std::nullopt;
                }
                out.jobs.push_back(static_cast<std::size_t>(*n));
            }
        } else if (key == "faults") {
            out.faults = value;
        } else if (key == "requests") {
            for (const std::string& request : option_text::split(value, ',')) {
                const auto colon = request.find(':');
                const auto boundary = option_text::parseUnsigned(request.substr(0, colon), 1000000);
                if (colon == std::string::npos || !boundary || !tool::isControlCommand(request.substr(colon + 1))) {
                    error = "requests= takes BOUNDARY:COMMAND, e.g. requests=5:pause,10:continue";
                    return std::nullopt;
                }
                out.requests.push_back(TimedRequest{static_cast<std::size_t>(*boundary), request.substr(colon + 1)});
            }
        } else {
            error = "a case is jobs=N,N faults=FAULTS requests=B:COMMAND,..., not '" + part + "'";
            return std::nullopt;
        }
    }
    if (out.jobs.empty()) out.jobs = {3, 1};
    return out;
}

const char* verdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Whole: return "whole";
        case Verdict::Restored: return "restored";
        case Verdict::Unavoidable: return "unavoidable repeat: a Personalize completion lost on the line";
        case Verdict::Failed: return "failed";
    }
    return "";
}

simulator::MachineDurations matrixDurations() { return simulator::MachineDurations::brief(); }

CaseOutcome runCase(const MatrixCase& matrixCase, tool::LoadedModule& module, const CaseSettings& settings) {
    CaseOutcome out;
    const simulator::FaultPlanParse parsed = simulator::parseFaultPlan(matrixCase.faults);
    if (!parsed.plan) {
        finding(out, 0, parsed.error);
        return out;
    }
    bench::SimulatedBench bench(settings.durations, *parsed.plan, settings.tracer);
    simulator::MachineSimulator& machine = bench.machine();
    std::unique_ptr<standin::PortPeer> wire;
    if (settings.wire) {
        wire = settings.wire(bench.peer());
        bench.ports().setPeer(wire.get());
    }
    machine.setRecording(settings.record);
    std::string error;
    if (!bench.open(module, error)) {
        finding(out, 0, error);
        return out;
    }

    std::vector<simulator::AuditedJob> jobs;
    std::vector<simulator::JourneyJob> journeyJobs;
    {
        MatrixOperator person(bench.spooler(), machine, matrixCase.requests);
        simulator::setThreadTraceTag("job");
        standin::setThreadSleepHook([&person](DWORD ms) { person.pause(ms); });
        for (std::size_t i = 0; i < matrixCase.jobs.size(); ++i) {
            const std::size_t number = i + 1;
            if (bench.spooler().startDoc(static_cast<DWORD>(number),
                                         tool::utf16FromUtf8("matrix job " + std::to_string(number))) != TRUE) {
                finding(out, number, "StartDocPort returned FALSE");
            }
            const std::string text = jobText(number, matrixCase.jobs[i]);
            if (!bench.spooler().write(Bytes(text.begin(), text.end()), kWriteChunk, error)) {
                finding(out, number, error);
            }
            simulator::AuditedJob job;
            job.cards = matrixCase.jobs[i];
            job.startFrame = machine.status().framesReceived;
            person.jobStarted(number, job.cards);
            if (bench.spooler().endDoc() != TRUE) finding(out, number, "EndDocPort returned FALSE");
            job.deletedAtFrame = person.jobEnded();
            jobs.push_back(job);
            simulator::JourneyJob expected;
            expected.cards = expectedCards(number, job.cards);
            expected.deletedAtFrame = job.deletedAtFrame;
            if (const auto inside = machine.currentCard()) expected.cardInsideAtEnd = inside->card;
            journeyJobs.push_back(std::move(expected));
            if (number == 1) {
                out.firstJobBoundaries = person.boundaries();
                out.firstJobFrames = machine.status().framesReceived;
            }
        }
        standin::setThreadSleepHook({});
        person.finish();
        out.restores = person.restores();
        out.framesAtBoundary = person.framesAtBoundary();
        out.findings.insert(out.findings.end(), person.problems().begin(), person.problems().end());
    }
    std::map<std::string, std::size_t> calls;
    bench.closeAndCheck(jobs.size(), out.findings, calls);

    const simulator::JourneyAudit audit =
        simulator::auditJourneys(journeyJobs, machine.cardJourneys(), bench.sentCards());
    out.findings.insert(out.findings.begin(), audit.violations.begin(), audit.violations.end());
    out.unavoidable = audit.unavoidable;
    out.delivered = audit.delivered;
    out.totalFrames = machine.status().framesReceived;
    out.faultsStruck = machine.firedFaults().size();
    if (out.faultsStruck < matrixCase.mustStrike) finding(out, 0, "the fault never struck: the case shows nothing");
    // Without a fault nothing may halt production: a halt there is the module's own.
    if (out.faultsStruck == 0 && out.restores > 0) {
        finding(out, 0, "production halted " + std::to_string(out.restores) + " times though no fault struck");
    }
    out.staleReplies = bench.peer().line().staleReplies();
    out.longestExchangeMs = bench.peer().longestExchangeMs();
    if (settings.record) out.received = machine.received();

    // A reply read late is counted, never an excuse: any finding fails.
    if (out.findings.empty()) {
        out.verdict = audit.unavoidableRepeats() > 0 ? Verdict::Unavoidable
                      : out.restores > 0             ? Verdict::Restored
                                                     : Verdict::Whole;
    } else {
        out.verdict = Verdict::Failed;
    }
    return out;
}

}  // namespace kestrova::matrix
