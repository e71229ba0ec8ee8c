#include "monitor/monitor_port.h"

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

// Releases memory only: it also runs at process detach, under the loader
// lock, where calling into another module can deadlock the spooler.
MonitorPort::~MonitorPort() = default;

void MonitorPort::closePrinter() {
    std::lock_guard<std::mutex> guard(portLock);
    if (printerHandle == nullptr) return;
    ClosePrinter(printerHandle);
    printerHandle = nullptr;
}

}  // namespace kestrova
