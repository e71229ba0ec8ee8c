// The far end of a port as a TCP connection to a served machine. A read
// waits for the machine's bytes as long as the port's read time-outs say,
// for real, and then returns with none.
#pragma once

#include "simulator/socket.h"
#include "standin/software_port_monitor.h"

#include <string>

namespace kestrova::simulator {

class SocketPeer : public standin::PortPeer {
public:
    bool connect(const net::Endpoint& machine, std::string& error);

    // Bytes sent; -1 when the connection failed.
    long onWrite(const std::uint8_t* data, std::size_t size) override;
    // Bytes received; 0 after the time-out; -1 when the connection is gone.
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override;

private:
    net::Socket socket_;
};

// Each new port a connection of its own to the machine served at `machine`.
standin::PortConnect connectionsTo(const net::Endpoint& machine);

}  // namespace kestrova::simulator
