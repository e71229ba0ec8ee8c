// A frame trace plugged in beside a port's far end: every byte the monitor
// writes and reads on the port is shown to a frame tracer, and so is each
// read that brings nothing.
#pragma once

#include "simulator/frame_trace.h"
#include "standin/software_port_monitor.h"

namespace kestrova::simulator {

// Each far end `connect` opens, traced by `tracer` (which outlives the ports).
standin::PortConnect tracedConnect(standin::PortConnect connect, FrameTracer& tracer);

}  // namespace kestrova::simulator
