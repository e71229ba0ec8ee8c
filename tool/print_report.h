// What kestrova print tells about a job while it runs and at its end: the
// cards produced, the progress line, halts and restores, and the summary.
#pragma once

#include "platform/windows_types.h"
#include "production/job_queue.h"
#include "simulator/machine_simulator.h"
#include "tool/console.h"
#include "tool/control_document.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::tool {

// "1m 43.2s", "8.6 s", "950 ms"
std::string formatDuration(std::uint64_t ms);

class PrintReport {
public:
    // `machine` is the simulator in this process, or null.
    PrintReport(const JobQueue& cards, const simulator::MachineSimulator* machine);

    // One line per card produced since the last call: from the machine's log
    // when it runs here, else from the count the module reports.
    void newCards(Console& console);
    // Takes in a status report; true when what the progress shows changed.
    bool noteStatus(const ResultValues& status);
    void noteHalt(std::int32_t hwErrorCode);
    // EndDocPort returned after the whole job: nothing is left to produce.
    void noteFinished() { toProduce_ = 0; }
    void noteRestore() { ++restores_; }
    // A halt ended (by our restore or anyone's) after `haltedMs`.
    void noteHaltOver(std::uint64_t haltedMs) { haltedMs_ += haltedMs; }
    // delete_job was sent: the count of cards done stays what it was, since
    // the module then reports nothing left to produce without producing it.
    void noteDeleted();

    // Cards finished so far: the machine's count when it runs here, else
    // the module's.
    std::size_t produced() const;
    std::size_t total() const { return total_; }
    // Where the card in the machine is, from the machine when it runs here,
    // else from the machine state last reported.
    std::string cardInMachine() const;

    std::string progressLine() const;
    // The machine state last reported; empty before the first report.
    const std::string& machineState() const { return state_; }
    void summary(Console& console, BOOL endResult, bool deleted, std::uint64_t platformMs, std::uint64_t realMs,
                 bool virtualClock, const std::vector<std::string>& spoolerCalls) const;

private:
    std::size_t done() const;

    const JobQueue& cards_;
    bool deleted_ = false;
    std::size_t doneWhenDeleted_ = 0;
    const simulator::MachineSimulator* machine_;
    std::size_t total_;
    std::size_t logShown_ = 0;
    std::size_t countShown_ = 0;
    std::size_t toProduce_;
    std::string state_;
    std::int32_t hwErrorCode_ = 0;
    std::vector<std::int32_t> halts_;
    std::size_t restores_ = 0;
    std::uint64_t haltedMs_ = 0;
};

}  // namespace kestrova::tool
