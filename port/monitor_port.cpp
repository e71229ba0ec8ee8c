#include "port/monitor_port.h"

#include "platform/platform_calls.h"

#include <utility>

namespace kestrova {

MonitorPort::MonitorPort(LanguageMonitor* owner, HANDLE monitorPortHandle, WideString port, WideString printer,
                         HANDLE portBeneath, const MONITOR2* portMonitorTable)
    : monitor(owner),
      portMonitorHandle(monitorPortHandle),
      portName(std::move(port)),
      printerName(std::move(printer)),
      portHandle(portBeneath),
      portMonitor(portMonitorTable),
      link(portMonitorTable, portBeneath) {}

MonitorPort::~MonitorPort() {
    // A port closed while a document was started would otherwise leak its
    // printer handle.
    if (printerHandle != nullptr) ClosePrinter(printerHandle);
}

}  // namespace kestrova
