// The in-process transport: the far end of a software port monitor is the
// simulated machine's line. A read waits as the port's time-outs say, on the
// platform clock, for reply bytes still on their way.
#pragma once

#include "simulator/machine_line.h"
#include "standin/software_port_monitor.h"

#include <cstdint>

namespace kestrova::simulator {

class SimulatorPeer : public standin::PortPeer {
public:
    explicit SimulatorPeer(MachineSimulator& machine);

    long onWrite(const std::uint8_t* data, std::size_t size) override;
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override;

    MachineLine& line() { return line_; }
    // The longest the port was used without a pause (platform clock): one
    // exchange, from reading off what waited on the line to the end of the
    // last read of its reply. The link pauses before every exchange.
    std::uint64_t longestExchangeMs() const { return longestExchangeMs_; }

private:
    // Marks the start and the end of a use of the port.
    void noteUse(std::uint64_t start, std::uint64_t end);

    MachineLine line_;
    std::uint64_t exchangeStart_ = 0;
    std::uint64_t lastUseEnd_ = UINT64_MAX;
    std::uint64_t longestExchangeMs_ = 0;
};

}  // namespace kestrova::simulator
