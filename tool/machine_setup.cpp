#include "tool/machine_setup.h"

namespace kestrova::tool {

bool parseMachineChoice(const std::string& text, MachineChoice& out, std::string& error) {
    if (text == "sim") {
        out = MachineChoice{};
        return true;
    }
    if (text.rfind("tcp:", 0) == 0) {
        MachineChoice choice;
        choice.simulated = false;
        if (!simulator::net::parseEndpoint(text.substr(4), choice.endpoint, error)) return false;
        out = choice;
        return true;
    }
    error = "--machine is 'sim' or 'tcp:HOST:PORT', not '" + text + "'";
    return false;
}

MachineSetup::MachineSetup(const MachineChoice& choice, const simulator::MachineDurations& durations,
                           simulator::FaultPlan faults, simulator::FrameTracer::Sink traceSink)
    : tracer_(std::move(traceSink)) {
    if (choice.simulated) {
        simulator_ = std::make_unique<simulator::MachineSimulator>(durations, std::move(faults));
        // The request log would grow with the job; the card log is what is read back.
        simulator_->setRecording(false);
        peer_ = std::make_unique<simulator::SimulatorPeer>(*simulator_);
        ports_ = std::make_unique<simulator::LinePortMonitor>(simulator::LinePortMonitor::toSimulator(*peer_));
    } else {
        ports_ = std::make_unique<simulator::LinePortMonitor>(simulator::LinePortMonitor::toAddress(choice.endpoint));
    }
    ports_->setTracer(&tracer_);
}

bool MachineSetup::openPort(SpoolerHost& spooler, std::string& error) {
    if (spooler.open(ports_->monitorHandle(), ports_->table(), error)) return true;
    const std::string why = ports_->lastError();
    if (!why.empty()) error += ": " + why;
    return false;
}

}  // namespace kestrova::tool
