// The status report of "get_info": the job in production, the machine's
// state and error codes, and its module information.
#pragma once

#include "control/control_tree.h"
#include "control/module_info_table.h"
#include "link/exchange_outcome.h"
#include "port/monitor_port.h"

namespace kestrova {

// Writes the report into the request tree and returns the outcome of its
// ModuleInfo exchange.
ExchangeOutcome writeStatusReport(MonitorPort& port, ControlTree& tree) REQUIRES(port.portLock);

// One machine.module_info value per entry, in the table's order. An entry
// whose key would not make element names (split at each '.') is left out,
// so the document stays well-formed; in a text, a byte that is no XML
// character becomes U+FFFD (putResult).
void putModuleInfo(ControlTree& tree, const ModuleInfoTable& table);

}  // namespace kestrova
