#include "tool/machine_setup.h"

namespace kestrova::tool {

namespace {

// The far end of a port, every read reported to an observer.
class ObservedPeer : public standin::PortPeer {
public:
    ObservedPeer(std::shared_ptr<standin::PortPeer> inner, const std::function<void()>& observer)
        : inner_(std::move(inner)), observer_(observer) {}

    long onWrite(const std::uint8_t* data, std::size_t size) override { return inner_->onWrite(data, size); }
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override {
        const long got = inner_->onRead(buffer, size, timeouts);
        if (observer_) observer_();
        return got;
    }

private:
    std::shared_ptr<standin::PortPeer> inner_;
    const std::function<void()>& observer_;
};

simulator::LinePortMonitor::Connect observed(simulator::LinePortMonitor::Connect connect,
                                             const std::function<void()>& observer) {
    return [connect = std::move(connect), &observer](std::string& error) -> std::shared_ptr<standin::PortPeer> {
        auto inner = connect(error);
        if (!inner) return nullptr;
        return std::make_shared<ObservedPeer>(std::move(inner), observer);
    };
}

}  // namespace

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
        ports_ = std::make_unique<simulator::LinePortMonitor>(
            observed(simulator::LinePortMonitor::toSimulator(*peer_), readObserver_));
    } else {
        ports_ = std::make_unique<simulator::LinePortMonitor>(
            observed(simulator::LinePortMonitor::toAddress(choice.endpoint), readObserver_));
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
