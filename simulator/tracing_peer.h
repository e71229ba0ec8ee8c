// A port peer that shows the traffic of another one to a frame tracer.
#pragma once

#include "simulator/frame_trace.h"
#include "standin/software_port_monitor.h"

namespace kestrova::simulator {

class TracingPeer : public standin::PortPeer {
public:
    TracingPeer(standin::PortPeer& inner, FrameTracer& tracer) : inner_(inner), tracer_(tracer) {}

    long onWrite(const std::uint8_t* data, std::size_t size) override;
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override;

private:
    standin::PortPeer& inner_;
    FrameTracer& tracer_;
};

}  // namespace kestrova::simulator
