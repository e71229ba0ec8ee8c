#include "monitor/monitor_port.h"

namespace kestrova {

BOOL MonitorPort::produceJob() { return FALSE; }

}  // namespace kestrova
