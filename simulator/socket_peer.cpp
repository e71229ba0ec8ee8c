#include "simulator/socket_peer.h"

#include "platform/comm_timeouts.h"

#include <algorithm>
#include <limits>
#include <memory>

namespace kestrova::simulator {

bool SocketPeer::connect(const net::Endpoint& machine, std::string& error) {
    if (!net::startNetworking(error)) return false;
    socket_ = net::connectTo(machine, error);
    return socket_.valid();
}

long SocketPeer::onWrite(const std::uint8_t* data, std::size_t size) { return net::sendSome(socket_, data, size); }

long SocketPeer::onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) {
    const std::optional<std::uint64_t> wait = readWaitMs(timeouts, size);
    const int timeoutMs =
        wait ? static_cast<int>(std::min<std::uint64_t>(*wait, std::numeric_limits<int>::max())) : -1;
    switch (net::waitReadable(socket_, timeoutMs)) {
        case net::Wait::TimedOut: return 0;
        case net::Wait::Failed: return -1;
        case net::Wait::Ready: break;
    }
    const long got = net::receiveSome(socket_, buffer, size);
    return got > 0 ? got : -1;  // 0: the machine closed the connection
}

standin::PortConnect connectionsTo(const net::Endpoint& machine) {
    return [machine](std::string& error) -> std::shared_ptr<standin::PortPeer> {
        auto peer = std::make_shared<SocketPeer>();
        if (!peer->connect(machine, error)) return nullptr;
        return peer;
    };
}

}  // namespace kestrova::simulator
