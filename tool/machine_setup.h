// The machine beneath the module for one tool run: the port monitor whose
// ports lead to it, the simulator when it runs in this process, and the
// tracer that sees every frame.
#pragma once

#include "simulator/fault_plan.h"
#include "simulator/frame_trace.h"
#include "simulator/machine_durations.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "simulator/socket.h"
#include "standin/software_port_monitor.h"
#include "tool/delivery_watch.h"
#include "tool/spooler_host.h"

#include <functional>
#include <memory>
#include <string>

namespace kestrova::tool {

struct MachineChoice {
    bool simulated = true;
    simulator::net::Endpoint endpoint;  // when not simulated
};

// "sim" or "tcp:HOST:PORT".
bool parseMachineChoice(const std::string& text, MachineChoice& out, std::string& error);

class MachineSetup {
public:
    MachineSetup(const MachineChoice& choice, const simulator::MachineDurations& durations,
                 simulator::FaultPlan faults, simulator::FrameTracer::Sink traceSink);

    standin::SoftwarePortMonitor& ports() { return ports_; }
    // Null when the machine is served elsewhere.
    simulator::MachineSimulator* simulator() { return simulator_.get(); }
    simulator::FrameTracer& tracer() { return tracer_; }
    // The cards delivered as the replies read from the machine tell it.
    const DeliveryWatch& deliveries() const { return deliveries_; }
    // Called after every read from the machine, on the reading thread; set
    // before the port opens.
    void observeReads(std::function<void()> observer) { readObserver_ = std::move(observer); }
    // Opens the spooler's port through the module onto this machine; the
    // error carries the port monitor's own reason when it gave one.
    bool openPort(SpoolerHost& spooler, std::string& error);

private:
    // First: the ports refer to it and go before it.
    std::function<void()> readObserver_;
    DeliveryWatch deliveries_;
    std::unique_ptr<simulator::MachineSimulator> simulator_;
    std::shared_ptr<simulator::SimulatorPeer> peer_;
    simulator::FrameTracer tracer_;
    standin::SoftwarePortMonitor ports_;
};

}  // namespace kestrova::tool
