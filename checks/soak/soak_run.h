// One soak run: the plan's jobs printed one after another through the real
// module, loaded as the spooler loads it, over the software port monitor onto
// the simulated machine, on the virtual clock, while the client sends its
// requests; then everything the run left behind is checked: the card log,
// the spooler calls, what is still open.
#pragma once

#include "checks/soak/soak_client.h"
#include "checks/soak/soak_plan.h"
#include "simulator/card_log_audit.h"
#include "simulator/machine_simulator.h"
#include "tool/control_document.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestrova::soak {

struct SoakOutcome {
    std::string error;  // the run could not begin: no module, no port
    std::vector<simulator::AuditedJob> jobs;
    simulator::CardLogAudit audit;
    // Every violation: the card log's, the spooler calls', the client's.
    std::vector<simulator::AuditFinding> violations;
    ClientTotals client;
    std::map<std::string, std::size_t> faultsFired;   // by kind
    std::map<std::string, std::size_t> spoolerCalls;  // by entry
    simulator::MachineStatus machine;
    tool::ResultValues last;  // get_info after the last job
    std::uint64_t virtualMs = 0;
};

// Told after each job: the cards of the jobs done so far, and how many jobs.
using SoakProgress = std::function<void(std::size_t cards, std::size_t jobs, const ClientTotals& client)>;

SoakOutcome runSoak(const SoakOptions& options, const SoakPlan& plan, const std::string& modulePath,
                    const SoakProgress& progress);

}  // namespace kestrova::soak
