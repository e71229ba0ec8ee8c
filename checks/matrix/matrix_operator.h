// The operator of a fault matrix case, acting as a person at the console
// would: looks at get_info every second, restores the machine after a halt
// once get_info reaches it (from a thread of its own, as a client program
// does), deletes the job when
// the same card has halted three times, and sends the case's own requests at
// their cycle boundaries. It acts only in the production loop's pauses: the
// spooler thread hands each request over and waits, so a case repeats exactly.
#pragma once

#include "checks/harness/control_desk.h"
#include "checks/matrix/matrix_case.h"
#include "platform/windows_types.h"
#include "simulator/card_log_audit.h"
#include "simulator/machine_simulator.h"
#include "tool/control_document.h"
#include "tool/spooler_host.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::matrix {

class MatrixOperator {
public:
    MatrixOperator(const tool::SpoolerHost& spooler, const simulator::MachineSimulator& machine,
                   std::vector<TimedRequest> requests);

    void jobStarted(std::size_t job, std::size_t cards);
    // The machine's count of frames when the job's deletion took effect, if it was deleted.
    std::optional<std::size_t> jobEnded();
    // At the start of each Sleep of the spooler thread.
    void pause(DWORD ms);
    // After the last job: a continue still owed, and a last look that must
    // find the port idle and clear.
    void finish();

    std::size_t boundaries() const { return boundary_; }
    std::size_t restores() const { return restores_; }
    const std::vector<std::size_t>& framesAtBoundary() const { return framesAtBoundary_; }
    const std::vector<simulator::AuditFinding>& problems() const { return problems_; }

private:
    void perform(const std::string& command);
    tool::ResultValues send(const std::string& command);
    void deleteJob();
    void problem(const std::string& what);

    bench::ControlDesk desk_;
    const simulator::MachineSimulator& machine_;
    std::vector<TimedRequest> requests_;
    std::size_t nextRequest_ = 0;
    std::size_t boundary_ = 0;
    std::vector<std::size_t> framesAtBoundary_;
    std::uint64_t nextLook_ = 0;
    std::size_t job_ = 0;
    bool running_ = false;
    std::uint64_t deadline_ = 0;
    std::optional<std::size_t> deletedAt_;
    std::map<std::pair<std::size_t, std::uint32_t>, std::size_t> halts_;  // by job and cards left
    std::size_t restores_ = 0;
    int paused_ = 0;  // pauses and steps not yet continued
    std::size_t continueTries_ = 0;
    std::vector<simulator::AuditFinding> problems_;
};

}  // namespace kestrova::matrix
