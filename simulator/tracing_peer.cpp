#include "simulator/tracing_peer.h"

namespace kestrova::simulator {

long TracingPeer::onWrite(const std::uint8_t* data, std::size_t size) {
    const long accepted = inner_.onWrite(data, size);
    if (accepted > 0) tracer_.written(data, static_cast<std::size_t>(accepted));
    return accepted;
}

long TracingPeer::onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) {
    const long got = inner_.onRead(buffer, size, timeouts);
    if (got > 0) {
        tracer_.read(buffer, static_cast<std::size_t>(got));
    } else {
        tracer_.readNothing();
    }
    return got;
}

}  // namespace kestrova::simulator
