#include "simulator/traced_peer.h"

#include "platform/comm_timeouts.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace kestrova::simulator {

namespace {

class TracedPeer : public standin::PortPeer {
public:
    TracedPeer(std::shared_ptr<standin::PortPeer> line, FrameTracer& tracer)
        : line_(std::move(line)), tracer_(tracer) {}

    long onWrite(const std::uint8_t* data, std::size_t size) override {
        const long accepted = line_->onWrite(data, size);
        if (accepted > 0) tracer_.written(data, std::min(static_cast<std::size_t>(accepted), size));
        return accepted;
    }

    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override {
        const long got = line_->onRead(buffer, size, timeouts);
        if (got == 0) tracer_.readNothing(readWaitMs(timeouts, size) != std::uint64_t{0});
        if (got > 0) tracer_.read(buffer, std::min(static_cast<std::size_t>(got), size));
        return got;
    }

private:
    std::shared_ptr<standin::PortPeer> line_;
    FrameTracer& tracer_;
};

}  // namespace

standin::PortConnect tracedConnect(standin::PortConnect connect, FrameTracer& tracer) {
    return [connect = std::move(connect), &tracer](std::string& error) -> std::shared_ptr<standin::PortPeer> {
        std::shared_ptr<standin::PortPeer> line = connect(error);
        if (!line) return nullptr;
        return std::make_shared<TracedPeer>(std::move(line), tracer);
    };
}

}  // namespace kestrova::simulator
