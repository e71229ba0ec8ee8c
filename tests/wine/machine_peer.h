// The machine at the far end of the software port monitor: the simulator on
// the in-process line, with every operation done by the next poll (under
// Wine the module's pauses are real), a fault plan of the scenario's, every
// frame on the line as text, and a view of what it received since the last
// clearLog().
#pragma once

#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kestrova::wine_check {

struct CardTexts {
    std::string setup;            // the JobSetup payload
    std::string personalisation;  // the Personalize payload
};

class MachinePeer {
public:
    MachinePeer();

    standin::PortPeer& peer() { return peer_; }

    // The faults the machine commits (the simulator's fault grammar); false if the text is not one.
    bool setFaults(const std::string& faults);
    // Waits until `count` faults have struck; false after a minute without.
    bool waitForFaults(std::size_t count) const;

    std::vector<CardTexts> cards() const;
    std::string commandLetters() const;
    std::vector<std::string> payloadsOf(std::uint8_t command) const;
    std::size_t frames() const;
    // Every frame to the machine (->) and back (<-): its bytes in hex and
    // what it means, one line each.
    std::string frameRecord() const;
    void clearLog();

private:
    simulator::MachineSimulator machine_;
    simulator::SimulatorPeer peer_;
    std::size_t cardsSeen_ = 0;
    std::size_t requestsSeen_ = 0;
    mutable std::mutex recordLock_;
    std::string frameRecord_;
};

}  // namespace kestrova::wine_check
