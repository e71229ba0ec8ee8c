// The cases of the fault matrix, made from fault-free runs of the same jobs:
// every fault kind on every command of every card those runs sent, the line
// faults and the power cut at every exchange, a jam at every card; each
// control request at every cycle boundary; and every pair of single faults.
#pragma once

#include "bench/matrix/matrix_case.h"
#include "simulator/machine_simulator.h"

#include <cstddef>
#include <vector>

namespace kestrova::matrix {

// What a fault-free run sent: its requests up to the end of the first job.
struct Baseline {
    std::vector<simulator::ReceivedRequest> firstJob;
    std::size_t firstJobFrames = 0;
    std::size_t firstJobBoundaries = 0;
    std::vector<std::size_t> jobs;
    std::vector<TimedRequest> requests;
};

// Each fault kind on each command and card the baseline sent, a jam at each
// card; with `everyExchange`, also the line faults and the power cut at each
// of its exchanges.
std::vector<MatrixCase> singleFaultCases(const Baseline& baseline, bool everyExchange);

// delete_job (followed by a second job of two cards), restore, pause and
// continue, step and continue, get_info, at each boundary of the first job.
std::vector<MatrixCase> controlRequestCases(const Baseline& baseline);

// Every two of the single faults together.
std::vector<MatrixCase> pairCases(const std::vector<MatrixCase>& singles);

}  // namespace kestrova::matrix
