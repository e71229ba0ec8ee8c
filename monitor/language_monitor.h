// The object behind the monitor handle, the function table the spooler calls
// and the module's clean-up at process detach.
#pragma once

#include "platform/spooler_monitor.h"
#include "port/monitor_port.h"

#include <chrono>
#include <memory>
#include <vector>

namespace kestrova {

class LanguageMonitor {
public:
    explicit LanguageMonitor(PMONITORINIT init) : monitorInit(init) {}

    MonitorPort* findPort(const WideString& portName, const WideString& printerName) const;
    bool lists(const MonitorPort* port) const;
    // Destroys the port and removes it from the list; false if it is not listed.
    bool removePort(MonitorPort* port);

    PMONITORINIT monitorInit;
    std::vector<std::unique_ptr<MonitorPort, PortRelease>> ports;
};

// ClosePort and Shutdown: the printer handle of a document the spooler
// started and never ended is given back, unless an entry stuck beneath holds
// the port past `deadline`; the debugger hears of that.
void closePrinterOfClosedPort(MonitorPort& port, std::chrono::steady_clock::time_point deadline);

// Creates a monitor and fills the module's table; what the export returns.
LPMONITOR2 initializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor);

// Why the module is going away. Unload (FreeLibrary, dlclose) releases the
// monitor the module last created, its memory only: no spooler or port
// monitor call runs under the loader lock. ProcessEnd (DLL_PROCESS_DETACH
// with lpReserved set) releases nothing: the process takes it all along.
enum class DetachReason { Unload, ProcessEnd };
void processDetach(DetachReason reason = DetachReason::Unload);

}  // namespace kestrova
