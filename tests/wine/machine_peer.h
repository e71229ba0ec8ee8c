// The machine at the far end of the software port monitor: the simulator on
// the in-process line, with every operation done by the next poll (under
// Wine the module's pauses are real), and a view of what it received since
// the last clearLog().
#pragma once

#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"

#include <cstddef>
#include <cstdint>
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

    std::vector<CardTexts> cards() const;
    std::string commandLetters() const;
    std::vector<std::string> payloadsOf(std::uint8_t command) const;
    std::size_t frames() const;
    void clearLog();

private:
    simulator::MachineSimulator machine_;
    simulator::SimulatorPeer peer_;
    std::size_t cardsSeen_ = 0;
    std::size_t requestsSeen_ = 0;
};

}  // namespace kestrova::wine_check
