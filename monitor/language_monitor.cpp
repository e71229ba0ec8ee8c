#include "monitor/language_monitor.h"

#include "monitor/port_entries.h"
#include "platform/platform_calls.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace kestrova {

namespace {

MONITOR2 gFunctionTable;                 // the one table, alive as long as the module
LanguageMonitor* gLastMonitor = nullptr;  // released at process detach

// Lets go of the monitor's ports in list order without closing the ports
// beneath (a port an entry is still at work in goes when that entry leaves),
// then destroys the monitor.
void release(LanguageMonitor* monitor) {
    if (monitor == gLastMonitor) gLastMonitor = nullptr;
    for (auto& port : monitor->ports) port.reset();
    delete monitor;
}

VOID WINAPI shutdownEntry(HANDLE hMonitor) noexcept {
    if (hMonitor == nullptr) return;
    auto* monitor = static_cast<LanguageMonitor*>(hMonitor);
    try {
        // The spooler's own thread: a document still started gives its
        // printer back. An entry stuck beneath does not hold the spooler's
        // stop for longer than the bound, all ports together.
        const auto deadline = std::chrono::steady_clock::now() + MonitorPort::kCloseWait;
        for (auto& port : monitor->ports) closePrinterOfClosedPort(*port, deadline);
    } catch (...) {
        // A lock that cannot be taken leaves that handle to the spooler.
    }
    release(monitor);
}

void fillTable() {
    std::memset(&gFunctionTable, 0, sizeof gFunctionTable);
    gFunctionTable.cbSize = sizeof(MONITOR2);
    gFunctionTable.pfnOpenPortEx = &openPortExEntry;
    gFunctionTable.pfnStartDocPort = &startDocPortEntry;
    gFunctionTable.pfnWritePort = &writePortEntry;
    gFunctionTable.pfnReadPort = &readPortEntry;
    gFunctionTable.pfnEndDocPort = &endDocPortEntry;
    gFunctionTable.pfnClosePort = &closePortEntry;
    gFunctionTable.pfnGetPrinterDataFromPort = &getPrinterDataFromPortEntry;
    gFunctionTable.pfnShutdown = &shutdownEntry;
}

}  // namespace

void closePrinterOfClosedPort(MonitorPort& port, std::chrono::steady_clock::time_point deadline) {
    static constexpr WideText kPortInUse(
        "KestrovaLM: a port was closed while a call was still at work in it (a ReadPort beneath that does not "
        "return); the port is released when that call returns\n");
    if (!port.closePrinterBy(deadline)) OutputDebugStringW(kPortInUse.text);
}

MonitorPort* LanguageMonitor::findPort(const WideString& portName, const WideString& printerName) const {
    for (const auto& port : ports) {
        if (port->portName == portName && port->printerName == printerName) return port.get();
    }
    return nullptr;
}

bool LanguageMonitor::lists(const MonitorPort* port) const {
    return std::any_of(ports.begin(), ports.end(), [port](const auto& p) { return p.get() == port; });
}

bool LanguageMonitor::removePort(MonitorPort* port) {
    auto it = std::find_if(ports.begin(), ports.end(), [port](const auto& p) { return p.get() == port; });
    if (it == ports.end()) return false;
    ports.erase(it);  // destroys the port; the others keep their order
    return true;
}

LPMONITOR2 initializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor) {
    if (phMonitor == nullptr) return nullptr;
    *phMonitor = nullptr;
    fillTable();
    auto* monitor = new (std::nothrow) LanguageMonitor(pMonitorInit);
    // Without a monitor there is nothing to hand out: report the failure.
    if (monitor == nullptr) return nullptr;
    *phMonitor = monitor;
    gLastMonitor = monitor;
    return &gFunctionTable;
}

void processDetach(DetachReason reason) {
    LanguageMonitor* monitor = gLastMonitor;
    gLastMonitor = nullptr;
    if (monitor != nullptr && reason == DetachReason::Unload) release(monitor);
}

}  // namespace kestrova

extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor) {
    try {
        return kestrova::initializePrintMonitor2(pMonitorInit, phMonitor);
    } catch (...) {
        return nullptr;
    }
}
