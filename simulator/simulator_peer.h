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

private:
    MachineLine line_;
};

}  // namespace kestrova::simulator
