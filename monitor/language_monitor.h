// The object behind the monitor handle, the function table the spooler calls
// and the module's clean-up at process detach.
#pragma once

#include "platform/spooler_monitor.h"
#include "port/monitor_port.h"

#include <memory>
#include <vector>

namespace kestrova {

class LanguageMonitor {
public:
    explicit LanguageMonitor(PMONITORINIT init) : monitorInit(init) {}

    MonitorPort* findPort(const WideString& portName, const WideString& printerName) const;
    // Destroys the port and removes it from the list; false if it is not listed.
    bool removePort(MonitorPort* port);

    PMONITORINIT monitorInit;
    std::vector<std::unique_ptr<MonitorPort>> ports;
};

// Creates a monitor and fills the module's table; what the export returns.
LPMONITOR2 initializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);

// Releases the monitor the module last created, as DLL_PROCESS_DETACH does.
void processDetach();

// The module's table (for tests that look at it without a monitor).
const MONITOR2& moduleFunctionTable();

}  // namespace kestrova
