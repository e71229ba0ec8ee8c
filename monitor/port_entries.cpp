#include "monitor/port_entries.h"

#include "control/control_request.h"
#include "monitor/document_intake.h"
#include "monitor/language_monitor.h"
#include "platform/platform_calls.h"
#include "port/production_loop.h"

#include <chrono>
#include <new>

namespace kestrova {

namespace {

MonitorPort* asPort(HANDLE hPort) { return static_cast<MonitorPort*>(hPort); }

// An entry at work on a port holds it: closed meanwhile, the port lives on
// until the entry leaves.
class PortHold {
public:
    explicit PortHold(HANDLE hPort) : port_(asPort(hPort)) { port_->hold(); }
    ~PortHold() {
        if (port_->letGo()) delete port_;
    }
    PortHold(const PortHold&) = delete;
    PortHold& operator=(const PortHold&) = delete;
    MonitorPort& port() const { return *port_; }

private:
    MonitorPort* port_;
};

// Runs an entry's work; an exception becomes a failure result. Running out
// of memory is the one failure the caller can be told about precisely.
template <typename Work>
BOOL guarded(Work&& work) noexcept {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    } catch (...) {
        return FALSE;
    }
}

}  // namespace

BOOL WINAPI openPortExEntry(HANDLE hMonitor, HANDLE hMonitorPort, LPWSTR pPortName, LPWSTR pPrinterName,
                            PHANDLE pHandle, MONITOR2* pMonitor2) noexcept {
    if (hMonitor == nullptr) return FALSE;
    if (hMonitorPort == nullptr || pPortName == nullptr || pPrinterName == nullptr || pHandle == nullptr ||
        pMonitor2 == nullptr) {
        return FALSE;
    }
    *pHandle = nullptr;
    return guarded([&]() -> BOOL {
        auto* monitor = static_cast<LanguageMonitor*>(hMonitor);
        const WideString portName(pPortName);
        const WideString printerName(pPrinterName);
        if (MonitorPort* existing = monitor->findPort(portName, printerName)) {
            // The spooler closes each hand-out: the port lives until the last close.
            ++existing->openCount;
            *pHandle = existing;
            return TRUE;
        }
        // Reserve the list slot first so that running out of memory cannot
        // leave an open port beneath without an object for it.
        monitor->ports.reserve(monitor->ports.size() + 1);
        HANDLE portHandle = nullptr;
        const BOOL opened = pMonitor2->pfnOpenPort(hMonitorPort, pPortName, &portHandle);
        if (opened != TRUE) return opened;
        std::unique_ptr<MonitorPort, PortRelease> port;
        try {
            port.reset(new MonitorPort(monitor, hMonitorPort, portName, printerName, portHandle, pMonitor2));
        } catch (...) {
            // No object for the port beneath: it is closed again, all or nothing.
            pMonitor2->pfnClosePort(portHandle);
            throw;
        }
        monitor->ports.push_back(std::move(port));  // the slot is reserved: cannot fail
        *pHandle = monitor->ports.back().get();
        return opened;
    });
}

BOOL WINAPI closePortEntry(HANDLE hPort) noexcept {
    if (hPort == nullptr) return FALSE;
    return guarded([&]() -> BOOL {
        MonitorPort* port = asPort(hPort);
        if (port->openCount > 1) {
            // Another hand-out of this port is still in use.
            --port->openCount;
            return TRUE;
        }
        const BOOL closed = port->portMonitor->pfnClosePort(port->portHandle);
        if (closed != TRUE) return closed;
        if (!port->monitor->lists(port)) return FALSE;
        closePrinterOfClosedPort(*port, std::chrono::steady_clock::now() + MonitorPort::kCloseWait);
        return port->monitor->removePort(port) ? TRUE : FALSE;
    });
}

BOOL WINAPI startDocPortEntry(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                              LPBYTE pDocInfo) noexcept {
    if (hPort == nullptr) return FALSE;
    const PortHold hold(hPort);
    return guarded([&] { return startDocPort(hold.port(), pPrinterName, JobId, Level, pDocInfo); });
}

BOOL WINAPI writePortEntry(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) noexcept {
    if (hPort == nullptr) return FALSE;
    const PortHold hold(hPort);
    return guarded([&] { return writePort(hold.port(), pBuffer, cbBuf, pcbWritten); });
}

BOOL WINAPI readPortEntry(HANDLE hPort, LPBYTE /*pBuffer*/, DWORD /*cbBuffer*/, LPDWORD pcbRead) noexcept {
    if (hPort == nullptr) return FALSE;
    // The monitor has nothing to give back to the spooler.
    if (pcbRead != nullptr) *pcbRead = 0;
    return FALSE;
}

BOOL WINAPI endDocPortEntry(HANDLE hPort) noexcept {
    if (hPort == nullptr) return FALSE;
    const PortHold hold(hPort);
    return guarded([&] { return produceJob(hold.port()); });
}

BOOL WINAPI getPrinterDataFromPortEntry(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                        DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                        LPDWORD lpcbReturned) noexcept {
    if (hPort == nullptr) return FALSE;
    const PortHold hold(hPort);
    return guarded([&] {
        return getPrinterDataFromPort(hold.port(), ControlID, pValueName, lpInBuffer, cbInBuffer, lpOutBuffer,
                                      cbOutBuffer, lpcbReturned);
    });
}

}  // namespace kestrova
