// The bench a run of jobs needs: the simulated machine on its in-process
// line behind the software port monitor, on the virtual clock, and the real
// module loaded as the spooler loads it, one port open on it. It notes every
// Personalize frame the machine receives (the card it carries), and at the
// end checks the spooler calls and what is left open.
#pragma once

#include "simulator/card_log_audit.h"
#include "simulator/frame_trace.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "standin/software_port_monitor.h"
#include "tool/module_loader.h"
#include "tool/spooler_host.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::bench {

class SimulatedBench {
public:
    // Resets the platform stand-in and puts it on the virtual clock. With a
    // tracer, every frame goes through it.
    SimulatedBench(const simulator::MachineDurations& durations, const simulator::FaultPlan& faults,
                   simulator::FrameTracer* tracer = nullptr);
    SimulatedBench(const SimulatedBench&) = delete;
    SimulatedBench& operator=(const SimulatedBench&) = delete;

    // InitializePrintMonitor2 and OpenPortEx on the module; false with the reason.
    bool open(tool::LoadedModule& module, std::string& error);

    simulator::MachineSimulator& machine() { return machine_; }
    simulator::SimulatorPeer& peer() { return peer_; }
    standin::SoftwarePortMonitor& ports() { return ports_; }
    tool::SpoolerHost& spooler() { return *spooler_; }
    const std::vector<simulator::SentCard>& sentCards() const { return sent_; }

    // ClosePort and Shutdown; then the checks of what the run left:
    // every job's spooler calls, the port monitor's calls in pairs, no card
    // in the machine. Counts of the calls go to `calls`.
    void closeAndCheck(std::size_t jobs, std::vector<simulator::AuditFinding>& findings,
                       std::map<std::string, std::size_t>& calls);

private:
    simulator::MachineSimulator machine_;
    simulator::SimulatorPeer peer_;
    standin::SoftwarePortMonitor ports_;
    std::vector<simulator::SentCard> sent_;
    std::unique_ptr<tool::SpoolerHost> spooler_;
};

}  // namespace kestrova::bench
