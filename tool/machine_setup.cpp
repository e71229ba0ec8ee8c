#include "tool/machine_setup.h"

#include "simulator/socket_peer.h"
#include "simulator/traced_peer.h"

namespace kestrova::tool {

namespace {
constexpr DWORD kErrorNotSupported = 50;  // no port monitor beneath to ask

// The far end of a port, every read reported to an observer and to the
// watch that counts the cards delivered.
class ObservedPeer : public standin::PortPeer {
public:
    ObservedPeer(std::shared_ptr<standin::PortPeer> inner, const std::function<void()>& observer,
                 DeliveryWatch& deliveries)
        : inner_(std::move(inner)), observer_(observer), deliveries_(deliveries) {}

    long onWrite(const std::uint8_t* data, std::size_t size) override { return inner_->onWrite(data, size); }
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override {
        const long got = inner_->onRead(buffer, size, timeouts);
        if (got > 0) deliveries_.read(buffer, static_cast<std::size_t>(got));
        if (observer_) observer_();
        return got;
    }

private:
    std::shared_ptr<standin::PortPeer> inner_;
    const std::function<void()>& observer_;
    DeliveryWatch& deliveries_;
};

standin::PortConnect observed(standin::PortConnect connect, const std::function<void()>& observer,
                              DeliveryWatch& deliveries) {
    return [connect = std::move(connect), &observer,
            &deliveries](std::string& error) -> std::shared_ptr<standin::PortPeer> {
        auto inner = connect(error);
        if (!inner) return nullptr;
        return std::make_shared<ObservedPeer>(std::move(inner), observer, deliveries);
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
    standin::PortConnect line;
    if (choice.simulated) {
        simulator_ = std::make_unique<simulator::MachineSimulator>(durations, std::move(faults));
        // The request log would grow with the job; the card log is what is read back.
        simulator_->setRecording(false);
        if (tracer_.hasSink()) {
            simulator_->setFaultObserver([this](const simulator::FiredFault& fault) {
                tracer_.note("fault " + fault.text + " strikes " +
                             (fault.command != 0 ? simulator::commandName(fault.command) : std::string("the machine")) +
                             " (card " + std::to_string(fault.card) + ", frame " + std::to_string(fault.frame) + ")");
            });
        }
        peer_ = std::make_shared<simulator::SimulatorPeer>(*simulator_);
        line = [peer = peer_](std::string&) { return peer; };  // every port a line to the same machine
    } else {
        line = simulator::connectionsTo(choice.endpoint);
    }
    ports_.setConnect(simulator::tracedConnect(observed(std::move(line), readObserver_, deliveries_), tracer_));
    // Jobs of any length: the port monitor keeps nothing. There is nothing
    // beneath it to pass a request that is not a control request to.
    ports_.setRecordCalls(false);
    ports_.setResult(standin::PortEntry::GetPrinterDataFromPort, FALSE);
    ports_.setFailureError(standin::PortEntry::GetPrinterDataFromPort, kErrorNotSupported);
}

bool MachineSetup::openPort(SpoolerHost& spooler, std::string& error) {
    if (spooler.open(ports_.monitorHandle(), ports_.table(), error)) return true;
    const std::string why = ports_.connectError();
    if (!why.empty()) error += ": " + why;
    return false;
}

}  // namespace kestrova::tool
