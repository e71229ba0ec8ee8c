#include "bench/soak/soak_run.h"

#include "link/machine_command.h"
#include "platform/windows_types.h"
#include "simulator/frame_trace.h"
#include "simulator/request_frame.h"
#include "simulator/simulator_peer.h"
#include "simulator/traced_peer.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"
#include "tool/module_loader.h"
#include "tool/spooler_host.h"
#include "tool/text_encoding.h"

#include <iostream>
#include <memory>
#include <utility>

namespace kestrova::soak {

namespace {

using standin::PortEntry;

void violation(SoakOutcome& out, std::size_t job, std::string what) {
    out.violations.push_back(simulator::AuditFinding{job, 0, std::move(what)});
}

// The card a Personalize frame carries, as the machine received it.
std::optional<simulator::SentCard> sentCard(const Bytes& frame, const simulator::MachineSimulator& machine) {
    simulator::RequestFrame request;
    if (simulator::parseRequestFrame(frame.data(), frame.size(), request) != simulator::RequestParse::Ok ||
        request.command != command::Personalize) {
        return std::nullopt;
    }
    const auto decoded = simulator::decodePersonalisationText(request.payload);
    const auto id = decoded.items.empty() ? std::nullopt : simulator::readCardLabel(decoded.items[0].text);
    return simulator::SentCard{machine.status().framesReceived, id.value_or(simulator::CardId{})};
}

// Every document and printer handle opened once and closed once; each job
// reported printed and deleted exactly once; nothing open beneath.
void checkSpoolerCalls(std::size_t jobs, const standin::SoftwarePortMonitor& ports, SoakOutcome& out) {
    const auto opened = standin::callsNamed("OpenPrinterW");
    const auto closed = standin::callsNamed("ClosePrinter");
    const auto setJob = standin::callsNamed("SetJobW");
    out.spoolerCalls["OpenPrinterW"] = opened.size();
    out.spoolerCalls["ClosePrinter"] = closed.size();
    out.spoolerCalls["SetJobW"] = setJob.size();
    for (PortEntry entry : {PortEntry::OpenPort, PortEntry::StartDocPort, PortEntry::WritePort, PortEntry::ReadPort,
                            PortEntry::EndDocPort, PortEntry::ClosePort}) {
        out.spoolerCalls[std::string(standin::portEntryName(entry)) + " beneath"] = ports.countOf(entry);
    }

    if (opened.size() != jobs) {
        violation(out, 0, "OpenPrinterW called " + std::to_string(opened.size()) + " times for " +
                              std::to_string(jobs) + " jobs");
    }
    std::map<HANDLE, long> handles;
    for (const auto& call : opened) ++handles[call.handle];
    for (const auto& call : closed) --handles[call.handle];
    for (const auto& [handle, open] : handles) {
        if (open != 0) {
            violation(out, 0, open > 0 ? "a printer handle opened and never closed"
                                       : "ClosePrinter of a handle that was not open");
        }
    }
    std::map<DWORD, std::vector<DWORD>> commands;
    for (const auto& call : setJob) commands[call.jobId].push_back(call.command);
    const std::vector<DWORD> reported{JOB_CONTROL_LAST_PAGE_EJECTED, JOB_CONTROL_DELETE};
    for (const auto& [job, sent] : commands) {
        if (job == 0 || job > jobs) violation(out, 0, "SetJobW for job id " + std::to_string(job) + ", no job's");
    }
    for (DWORD job = 1; job <= jobs; ++job) {
        if (commands[job] != reported) {
            std::string list;
            for (DWORD c : commands[job]) list += " " + std::to_string(c);
            violation(out, job, "SetJobW commands [" + list + " ], not LAST_PAGE_EJECTED (7) then DELETE (5) once");
        }
    }
    const std::size_t openPort = ports.countOf(PortEntry::OpenPort);
    const std::size_t closePort = ports.countOf(PortEntry::ClosePort);
    if (openPort != 1 || closePort != 1 || ports.openPorts() != 0) {
        violation(out, 0, "beneath: OpenPort " + std::to_string(openPort) + ", ClosePort " +
                              std::to_string(closePort) + ", " + std::to_string(ports.openPorts()) + " still open");
    }
    const std::size_t started = ports.countOf(PortEntry::StartDocPort);
    const std::size_t ended = ports.countOf(PortEntry::EndDocPort);
    if (started != ended) {
        violation(out, 0, "beneath: StartDocPort " + std::to_string(started) + ", EndDocPort " +
                              std::to_string(ended));
    }
}

// The spooler's side: the jobs one after another on this thread, the
// client's requests at the production loop's pauses.
void printJobs(const SoakOptions& options, const SoakPlan& plan, tool::SpoolerHost& spooler,
               const simulator::MachineSimulator& machine, const SoakProgress& progress, SoakOutcome& out) {
    SoakClient client(spooler, machine, stream(options.seed, Part::Client));
    simulator::setThreadTraceTag("job");
    standin::setThreadSleepHook([&client](DWORD ms) { client.pause(ms); });
    std::size_t cards = 0;
    for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
        const PlannedJob& planned = plan.jobs[i];
        const std::size_t number = i + 1;
        const auto jobId = static_cast<DWORD>(number);
        if (spooler.startDoc(jobId, tool::utf16FromUtf8("soak job " + std::to_string(number))) != TRUE) {
            violation(out, number, "StartDocPort returned FALSE");
        }
        std::string error;
        if (!spooler.write(Bytes(planned.text.begin(), planned.text.end()), planned.chunk, error)) {
            violation(out, number, error);
        }
        simulator::AuditedJob job;
        job.cards = planned.cards;
        job.startFrame = machine.status().framesReceived;
        client.jobStarted(number, planned.cards, planned.deleteAfterMs);
        if (planned.deleteDuringIntake) client.deleteDuringIntake();
        if (spooler.endDoc() != TRUE) violation(out, number, "EndDocPort returned FALSE");
        job.deletedAtFrame = client.jobEnded();
        out.jobs.push_back(job);
        if (number < plan.jobs.size()) client.betweenJobs();
        cards += planned.cards;
        if (progress) progress(cards, number, client.totals());
    }
    standin::setThreadSleepHook({});
    out.last = client.finish();
    if (out.last.jobId.value_or(0) != 0 || out.last.toProduce.value_or(0) != 0) {
        violation(out, 0, "at the end get_info still reports a job");
    }
    out.client = client.totals();
}

}  // namespace

SoakOutcome runSoak(const SoakOptions& options, const SoakPlan& plan, const std::string& modulePath,
                    const SoakProgress& progress) {
    SoakOutcome out;
    standin::reset();
    standin::setClockMode(standin::ClockMode::Virtual);
    standin::setRecordSleeps(false);

    simulator::MachineSimulator machine(plan.durations, plan.faults);
    machine.setRecording(false);
    simulator::SimulatorPeer peer(machine);
    std::vector<simulator::SentCard> sent;
    peer.line().setObserver([&sent, &machine](bool fromHost, const Bytes& bytes) {
        if (!fromHost) return;
        if (const auto card = sentCard(bytes, machine)) sent.push_back(*card);
    });
    standin::SoftwarePortMonitor ports;
    ports.setRecordCalls(false);
    simulator::FrameTracer tracer([&machine, &options](const std::string& line) {
        const std::size_t frame = machine.status().framesReceived;
        if (frame >= options.traceFirst && frame <= options.traceLast) std::cout << "#" << frame << line << "\n";
    });
    if (options.traceLast != 0) {
        // The peer outlives the port: the port holds it without owning it.
        auto line = [&peer](std::string&) { return std::shared_ptr<standin::PortPeer>(&peer, [](auto*) {}); };
        ports.setConnect(simulator::tracedConnect(line, tracer));
    } else {
        ports.setPeer(&peer);
    }

    tool::LoadedModule module;
    if (!tool::loadModule(module, modulePath, out.error)) return out;
    tool::SpoolerHost spooler(module);
    if (!spooler.open(ports.monitorHandle(), ports.table(), out.error)) return out;

    printJobs(options, plan, spooler, machine, progress, out);
    out.virtualMs = standin::nowMs();
    spooler.close();

    out.machine = machine.status();
    if (machine.currentCard()) violation(out, 0, "a card is left in the machine");
    for (const simulator::FiredFault& fault : machine.firedFaults()) {
        ++out.faultsFired[fault.text.substr(0, fault.text.find(':'))];
    }
    checkSpoolerCalls(plan.jobs.size(), ports, out);

    out.audit = simulator::auditCardLog(out.jobs, machine.personalisedCards(), sent);
    if (options.keepCompletions && out.audit.lostCompletionRepeats != 0) {
        violation(out, 0, "cards personalised again after a lost completion, though no Poll reply was damaged");
    }
    std::vector<simulator::AuditFinding> all = out.audit.violations;
    all.insert(all.end(), out.violations.begin(), out.violations.end());
    all.insert(all.end(), out.client.problems.begin(), out.client.problems.end());
    out.violations = std::move(all);
    return out;
}

}  // namespace kestrova::soak
