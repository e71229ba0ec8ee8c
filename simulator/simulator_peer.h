// The in-process transport: the far end of a software port monitor is the
// simulated machine's line. A read waits as the port's time-outs say, on the
// platform clock, for reply bytes still on their way.
#pragma once

#include "simulator/machine_line.h"
#include "standin/software_port_monitor.h"

namespace kestrova::simulator {

class SimulatorPeer : public standin::PortPeer {
public:
    explicit SimulatorPeer(MachineSimulator& machine);

    long onWrite(const std::uint8_t* data, std::size_t size) override;
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override;

    MachineLine& line() { return line_; }
    // The longest a frame's exchange held the port: from its first write to
    // the end of the last read that waited for its reply (platform clock).
    std::uint64_t longestExchangeMs() const { return longestExchangeMs_; }

private:
    MachineLine line_;
    bool writing_ = false;
    std::uint64_t exchangeStart_ = 0;
    std::uint64_t longestExchangeMs_ = 0;
};

}  // namespace kestrova::simulator
