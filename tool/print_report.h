// What kestrova print tells about a job while it runs and at its end: the
// cards produced, the progress line, halts and restores, and the summary.
#pragma once

#include "platform/windows_types.h"
#include "production/job_queue.h"
#include "simulator/machine_simulator.h"
#include "tool/console.h"
#include "tool/control_document.h"
#include "tool/delivery_watch.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::tool {

// "1m 43.2s", "8.6 s", "950 ms"
std::string formatDuration(std::uint64_t ms);

class PrintReport {
public:
    // `machine` is the simulator in this process, or null; then the cards
    // are counted as `link` saw the machine deliver them.
    PrintReport(const JobQueue& cards, const simulator::MachineSimulator* machine, const DeliveryWatch& link);

    // One line per card produced since the last call: from the machine's log
    // when it runs here, else from what the link saw delivered.
    void newCards(Console& console);
    // Takes in a status report; true when what the progress shows changed.
    bool noteStatus(const ResultValues& status);
    void noteHalt(std::int32_t hwErrorCode);
    void noteRestore() { ++restores_; }
    // A halt ended (by our restore or anyone's) after `haltedMs`.
    void noteHaltOver(std::uint64_t haltedMs) { haltedMs_ += haltedMs; }

    // Cards the machine delivered: its own count when it runs here, else
    // what the link saw. Never the module's count, which after a deletion
    // says nothing is left to produce just as after the last card.
    std::size_t produced() const;
    // Cards whose personalisation completed with an error (never delivered).
    std::size_t spoiled() const;
    std::size_t total() const { return total_; }
    // Where the card in the machine is, from the machine when it runs here,
    // else from what the link saw.
    std::string cardInMachine() const;

    std::string progressLine() const;
    // The machine state last reported; empty before the first report.
    const std::string& machineState() const { return state_; }
    // `deletion` says who deleted the job; empty when it was not deleted.
    void summary(Console& console, BOOL endResult, const std::string& deletion, std::uint64_t platformMs,
                 std::uint64_t realMs, bool virtualClock, const std::vector<std::string>& spoolerCalls) const;

private:
    const JobQueue& cards_;
    const simulator::MachineSimulator* machine_;
    const DeliveryWatch& link_;
    std::size_t total_;
    std::size_t logShown_ = 0;
    std::size_t countShown_ = 0;
    std::size_t producedAtLastStatus_ = 0;
    std::string state_;
    std::int32_t hwErrorCode_ = 0;
    std::vector<std::int32_t> halts_;
    std::size_t restores_ = 0;
    std::uint64_t haltedMs_ = 0;
};

}  // namespace kestrova::tool
