// The cases of the fault matrix, made from fault-free runs of the same jobs:
// every fault kind on every command of every card those runs sent, the line
// faults and the power cut at every exchange of every job, the delays of
// split, late and trickled replies swept across the read time-out and the
// bound on one reply; each control request at every cycle boundary of every
// job, alone and with each line fault at the exchange that follows it; the
// line faults in the job after a deletion; and pairs of single faults.
#pragma once

#include "checks/matrix/matrix_case.h"
#include "simulator/machine_simulator.h"

#include <cstddef>
#include <vector>

namespace kestrova::matrix {

// What a fault-free run sent.
struct Baseline {
    std::vector<simulator::ReceivedRequest> received;
    std::size_t frames = 0;
    std::vector<std::size_t> framesAtBoundary;  // [b - 1]: frames received by boundary b
    std::vector<std::size_t> jobs;
    std::vector<TimedRequest> requests;
};

// The delays tried for split, late and trickled replies: either side of the
// 1.5 s read time-out and of the 5 s bound on one reply.
const std::vector<std::uint64_t>& swept(const char* kind);

// Each fault kind on each command and card the baseline sent, a jam at each
// card; with `everyExchange`, also the line faults and the power cut at each
// of its exchanges; with `sweep`, each delay of swept() at each exchange.
std::vector<MatrixCase> singleFaultCases(const Baseline& baseline, bool everyExchange, bool sweep);

// delete_job, restore, pause and continue, step and continue, get_info, at
// each boundary of every job; with `withFault`, each again with each line
// fault at the exchange right after the boundary.
std::vector<MatrixCase> controlRequestCases(const Baseline& baseline, bool withFault);

// After a delete_job at boundary `boundary` (the baseline of that run):
// each line fault at each exchange that follows the deletion.
std::vector<MatrixCase> afterDeletionCases(const Baseline& deletion, std::size_t boundary);

// The RunControl frames of a run that pauses, continues, steps and continues
// again: each command fault on each of them.
std::vector<MatrixCase> runControlCases(const Baseline& base);

// Every two of the single faults together.
std::vector<MatrixCase> pairCases(const std::vector<MatrixCase>& singles);

}  // namespace kestrova::matrix
