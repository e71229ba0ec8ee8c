#include "checks/soak/soak_run.h"

#include "checks/harness/simulated_bench.h"
#include "simulator/frame_trace.h"
#include "standin/platform_standin.h"
#include "tool/spooler_host.h"
#include "tool/text_encoding.h"

#include <iostream>
#include <utility>

namespace kestrova::soak {

namespace {

void violation(SoakOutcome& out, std::size_t job, std::string what) {
    out.violations.push_back(simulator::AuditFinding{job, 0, std::move(what)});
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
    bench::SimulatedBench* benchInUse = nullptr;
    simulator::FrameTracer tracer([&benchInUse, &options](const std::string& line) {
        const std::size_t frame = benchInUse->machine().status().framesReceived;
        if (frame >= options.traceFirst && frame <= options.traceLast) std::cout << "#" << frame << line << "\n";
    });
    bench::SimulatedBench bench(plan.durations, plan.faults, options.traceLast != 0 ? &tracer : nullptr);
    benchInUse = &bench;
    simulator::MachineSimulator& machine = bench.machine();
    machine.setRecording(false);

    tool::LoadedModule module;
    if (!tool::loadModule(module, modulePath, out.error)) return out;
    if (!bench.open(module, out.error)) return out;

    printJobs(options, plan, bench.spooler(), machine, progress, out);
    out.virtualMs = standin::nowMs();
    bench.closeAndCheck(plan.jobs.size(), out.violations, out.spoolerCalls);

    out.machine = machine.status();
    for (const simulator::FiredFault& fault : machine.firedFaults()) {
        ++out.faultsFired[fault.text.substr(0, fault.text.find(':'))];
    }

    out.audit = simulator::auditCardLog(out.jobs, machine.personalisedCards(), bench.sentCards());
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
