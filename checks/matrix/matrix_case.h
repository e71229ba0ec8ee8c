// One case of the fault matrix and what its run showed. A case is a few jobs
// printed one after another through the real module against the simulated
// machine, on the virtual clock: the machine's faults (in the fault grammar)
// and the control requests due at the production loop's cycle boundaries,
// with an operator who restores a halted machine as a person would.
#pragma once

#include "simulator/card_journey_audit.h"
#include "simulator/card_log_audit.h"
#include "simulator/simulator_peer.h"
#include "standin/software_port_monitor.h"
#include "simulator/frame_trace.h"
#include "simulator/machine_durations.h"
#include "simulator/machine_simulator.h"
#include "tool/module_loader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::matrix {

// A control request sent at the n-th pause between two production cycles
// (counted from 1, over all the case's jobs).
struct TimedRequest {
    std::size_t boundary = 0;
    std::string command;
};

struct MatrixCase {
    std::string group;                   // its row of the table
    std::string faults;                  // in the fault grammar
    std::vector<std::size_t> jobs{3, 1};  // cards per job, printed in turn
    std::vector<TimedRequest> requests;
    std::size_t mustStrike = 0;          // faults that must strike, or the case shows nothing

    // "jobs=3,1 faults=silent:load@2 requests=5:pause,10:continue": what
    // --case takes back to run it again.
    std::string caseText() const;
};

std::optional<MatrixCase> readCaseText(const std::string& text, std::string& error);

enum class Verdict {
    Whole,           // every card once, in order, no halt
    Restored,        // the same after the operator restored a halt
    Unavoidable,     // the same, but a card made twice: the report of its personalisation never reached the line whole
    Failed,
};
const char* verdictName(Verdict verdict);

struct CaseOutcome {
    Verdict verdict = Verdict::Failed;
    std::vector<simulator::AuditFinding> findings;  // what the audit and the checks found
    std::size_t faultsStruck = 0;
    std::size_t restores = 0;           // by the operator, after a halt
    std::size_t staleReplies = 0;       // replies read only after a later frame had gone out
    std::uint64_t longestExchangeMs = 0;
    std::size_t firstJobBoundaries = 0;  // pauses between cycles while the first job ran
    std::size_t firstJobFrames = 0;      // frames the machine received by the end of the first job
    std::vector<simulator::ReceivedRequest> received;  // when recorded
    std::map<std::string, std::size_t> unavoidable;    // repeats by cause and end
    std::size_t delivered = 0;
    std::size_t totalFrames = 0;                       // frames the machine received in the whole case
    std::vector<std::size_t> framesAtBoundary;         // [b - 1]: frames received by boundary b
};

struct CaseSettings {
    simulator::MachineDurations durations;
    bool record = false;                       // keep the machine's request log
    simulator::FrameTracer* tracer = nullptr;  // every frame of the case through it
    // Put between the port monitor and the machine's line (without a tracer):
    // a wire that lies, for the matrix's own proof that it can fail.
    std::function<std::unique_ptr<standin::PortPeer>(simulator::SimulatorPeer&)> wire;
};

CaseOutcome runCase(const MatrixCase& matrixCase, tool::LoadedModule& module, const CaseSettings& settings);

// The machine's durations in the matrix: short, so that a card takes a few
// cycles, and each step still sees a poll answered EOT.
simulator::MachineDurations matrixDurations();

}  // namespace kestrova::matrix
