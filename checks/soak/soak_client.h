// The client of a soak run: an operator who watches the machine through
// get_info, restores it after a halt, now and then pauses, steps, continues
// or restores it out of turn, and deletes the jobs the plan says.
//
// Its requests are due at moments of the virtual clock and go out at the
// production loop's pauses: the spooler thread, at the start of the first
// pause after a request's moment, hands the request to the client's own
// thread and waits for the answer. Only one thread acts at a time, so a run
// repeats exactly. The module lets a request that comes early in a pause go
// at once.
#pragma once

#include "checks/harness/control_desk.h"
#include "checks/soak/soak_plan.h"
#include "platform/windows_types.h"
#include "simulator/card_log_audit.h"
#include "simulator/machine_simulator.h"
#include "tool/control_document.h"
#include "tool/spooler_host.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <queue>
#include <string>
#include <vector>

namespace kestrova::soak {

struct ClientTotals {
    std::map<std::string, std::size_t> requests;  // by command
    std::map<std::int32_t, std::size_t> halts;    // halts get_info found, by hw_error_code
    std::size_t operatorRestores = 0;             // after a halt
    std::size_t otherRestores = 0;                // out of turn, in production or between jobs
    std::map<std::string, std::size_t> deletions;  // by where the machine was
    // Answers that were not a result document, jobs that did not end.
    std::vector<simulator::AuditFinding> problems;
};

class SoakClient {
public:
    SoakClient(const tool::SpoolerHost& spooler, const simulator::MachineSimulator& machine, const Rng& rng);

    // On the spooler thread, around each job's EndDocPort.
    void jobStarted(std::size_t job, std::size_t cards, std::optional<std::uint64_t> deleteAfterMs);
    // The machine's count of frames received when the job's deletion took
    // effect, if it was deleted.
    std::optional<std::size_t> jobEnded();
    // delete_job after jobStarted and before the job's EndDocPort.
    void deleteDuringIntake();
    // Now and then a request while no job runs.
    void betweenJobs();
    // After the last job: a continue still owed to the machine, and a last look.
    tool::ResultValues finish();

    // At the start of each Sleep of the spooler thread.
    void pause(DWORD ms);

    const ClientTotals& totals() const { return totals_; }

private:
    enum class Act { GetInfo, Restore, RestoreOutOfTurn, RunControl, Continue, Delete };
    struct Event {
        std::uint64_t due;
        std::uint64_t order;  // among events due at once: first scheduled, first sent
        Act act;
        std::size_t job;
        bool operator>(const Event& other) const {
            return due != other.due ? due > other.due : order > other.order;
        }
    };

    void schedule(std::uint64_t afterMs, Act act, std::size_t job = 0);
    void perform(const Event& event);
    void deleteJob();
    tool::ResultValues send(const std::string& command);
    void problem(const std::string& what);

    bench::ControlDesk desk_;
    const simulator::MachineSimulator& machine_;
    Rng rng_;
    std::priority_queue<Event, std::vector<Event>, std::greater<>> events_;
    std::uint64_t scheduled_ = 0;
    ClientTotals totals_;

    std::size_t job_ = 0;
    bool running_ = false;
    std::uint64_t jobStart_ = 0;
    std::uint64_t deadline_ = 0;  // a job still running then is given up
    std::optional<std::size_t> deletedAt_;
    bool halted_ = false;
    bool restoreDue_ = false;
    std::size_t continuesOwed_ = 0;
};

}  // namespace kestrova::soak
