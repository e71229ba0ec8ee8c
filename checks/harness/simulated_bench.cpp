#include "checks/harness/simulated_bench.h"

#include "link/machine_command.h"
#include "link/request_frame.h"
#include "platform/windows_types.h"
#include "simulator/traced_peer.h"
#include "standin/platform_standin.h"

#include <utility>

namespace kestrova::bench {

namespace {

using standin::PortEntry;

void finding(std::vector<simulator::AuditFinding>& findings, std::size_t job, std::string what) {
    findings.push_back(simulator::AuditFinding{job, 0, std::move(what)});
}

// The card a Personalize frame carries, as the machine received it.
std::optional<simulator::SentCard> sentCard(const Bytes& frame, const simulator::MachineSimulator& machine) {
    RequestFrame request;
    if (readRequestFrame(frame.data(), frame.size(), request).outcome != RequestParse::Ok ||
        request.command != command::Personalize) {
        return std::nullopt;
    }
    const auto decoded = simulator::decodePersonalisationText(request.payload);
    const auto id = decoded.items.empty() ? std::nullopt : simulator::readCardLabel(decoded.items[0].text);
    return simulator::SentCard{machine.status().framesReceived, id.value_or(simulator::CardId{})};
}

// Every document and printer handle opened once and closed once; each job
// reported printed and deleted exactly once; nothing open beneath.
void checkSpoolerCalls(std::size_t jobs, const standin::SoftwarePortMonitor& ports,
                       std::vector<simulator::AuditFinding>& findings, std::map<std::string, std::size_t>& counts) {
    const auto opened = standin::callsNamed("OpenPrinterW");
    const auto closed = standin::callsNamed("ClosePrinter");
    const auto setJob = standin::callsNamed("SetJobW");
    counts["OpenPrinterW"] = opened.size();
    counts["ClosePrinter"] = closed.size();
    counts["SetJobW"] = setJob.size();
    for (PortEntry entry : {PortEntry::OpenPort, PortEntry::StartDocPort, PortEntry::WritePort, PortEntry::ReadPort,
                            PortEntry::EndDocPort, PortEntry::ClosePort}) {
        counts[std::string(standin::portEntryName(entry)) + " beneath"] = ports.countOf(entry);
    }

    if (opened.size() != jobs) {
        finding(findings, 0,
                "OpenPrinterW called " + std::to_string(opened.size()) + " times for " + std::to_string(jobs) +
                    " jobs");
    }
    std::map<HANDLE, long> handles;
    for (const auto& call : opened) ++handles[call.handle];
    for (const auto& call : closed) --handles[call.handle];
    for (const auto& [handle, open] : handles) {
        if (open != 0) {
            finding(findings, 0,
                    open > 0 ? "a printer handle opened and never closed" : "ClosePrinter of a handle that was not open");
        }
    }
    std::map<DWORD, std::vector<DWORD>> commands;
    for (const auto& call : setJob) commands[call.jobId].push_back(call.command);
    const std::vector<DWORD> reported{JOB_CONTROL_LAST_PAGE_EJECTED, JOB_CONTROL_DELETE};
    for (const auto& [job, sent] : commands) {
        if (job == 0 || job > jobs) finding(findings, 0, "SetJobW for job id " + std::to_string(job) + ", no job's");
    }
    for (DWORD job = 1; job <= jobs; ++job) {
        if (commands[job] != reported) {
            std::string list;
            for (DWORD c : commands[job]) list += " " + std::to_string(c);
            finding(findings, job, "SetJobW commands [" + list + " ], not LAST_PAGE_EJECTED (7) then DELETE (5) once");
        }
    }
    const std::size_t openPort = ports.countOf(PortEntry::OpenPort);
    const std::size_t closePort = ports.countOf(PortEntry::ClosePort);
    if (openPort != 1 || closePort != 1 || ports.openPorts() != 0) {
        finding(findings, 0,
                "beneath: OpenPort " + std::to_string(openPort) + ", ClosePort " + std::to_string(closePort) + ", " +
                    std::to_string(ports.openPorts()) + " still open");
    }
    const std::size_t started = ports.countOf(PortEntry::StartDocPort);
    const std::size_t ended = ports.countOf(PortEntry::EndDocPort);
    if (started != ended) {
        finding(findings, 0, "beneath: StartDocPort " + std::to_string(started) + ", EndDocPort " +
                                 std::to_string(ended));
    }
}

// The stand-in starts afresh, on the virtual clock, before the machine reads it.
const simulator::MachineDurations& onFreshVirtualClock(const simulator::MachineDurations& durations) {
    standin::reset();
    standin::setClockMode(standin::ClockMode::Virtual);
    standin::setRecordSleeps(false);
    // Requests are handed over at the pauses; nothing needs to slip in.
    standin::setVirtualSleepYields(false);
    return durations;
}

}  // namespace

SimulatedBench::SimulatedBench(const simulator::MachineDurations& durations, const simulator::FaultPlan& faults,
                               simulator::FrameTracer* tracer)
    : machine_(onFreshVirtualClock(durations), faults),
      peer_(machine_) {
    peer_.line().setObserver([this](bool fromHost, const Bytes& bytes) {
        if (!fromHost) return;
        if (const auto card = sentCard(bytes, machine_)) sent_.push_back(*card);
    });
    ports_.setRecordCalls(false);
    if (tracer != nullptr) {
        // The peer outlives the port: the port holds it without owning it.
        auto line = [this](std::string&) { return std::shared_ptr<standin::PortPeer>(&peer_, [](auto*) {}); };
        ports_.setConnect(simulator::tracedConnect(line, *tracer));
    } else {
        ports_.setPeer(&peer_);
    }
}

bool SimulatedBench::open(tool::LoadedModule& module, std::string& error) {
    spooler_ = std::make_unique<tool::SpoolerHost>(module);
    return spooler_->open(ports_.monitorHandle(), ports_.table(), error);
}

void SimulatedBench::closeAndCheck(std::size_t jobs, std::vector<simulator::AuditFinding>& findings,
                                   std::map<std::string, std::size_t>& calls) {
    if (spooler_) spooler_->close();
    if (machine_.currentCard()) finding(findings, 0, "a card is left in the machine");
    checkSpoolerCalls(jobs, ports_, findings, calls);
}

}  // namespace kestrova::bench
