// EndDocPort's work on a port: the buffered job becomes cards, and the cards
// are produced one after another, one short cycle under portLock every 90 ms.
#pragma once

#include "platform/windows_types.h"

namespace kestrova {

class MonitorPort;

// Returns when no card is left, with the port monitor's EndDocPort result.
BOOL produceJob(MonitorPort& port);

}  // namespace kestrova
