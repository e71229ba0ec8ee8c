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

// Releases memory only: it also runs at process detach, under the loader
// lock, where calling into another module can deadlock the spooler.
MonitorPort::~MonitorPort() = default;

void MonitorPort::closePrinter() {
    std::lock_guard<std::mutex> guard(portLock);
    releasePrinter();
}

void MonitorPort::releasePrinter() {
    if (printerHandle == nullptr) return;
    ClosePrinter(printerHandle);
    printerHandle = nullptr;
}

std::unique_lock<std::mutex> MonitorPort::lockBetweenCycles() {
    // Read before the lock: a cycle that ends while the request waits for the
    // lock leaves it at the start of the pause, free to go.
    const std::uint64_t seen = cyclesEnded.load();
    std::unique_lock<std::mutex> guard(portLock);
    if (!producing || std::chrono::steady_clock::now() - lastCycleEnd < kRoomInPause) return guard;
    // Bounded in real time: a production loop whose pause does not end (its
    // host holds its Sleep) must not hold the request back for ever; after
    // the bound the request simply goes now, between two cycles as always.
    cycleEnded.wait_for(guard, kLongestCycleWait, [&] { return !producing || cyclesEnded.load() != seen; });
    return guard;
}

void MonitorPort::cycleDone(bool stillProducing) {
    producing = stillProducing;
    lastCycleEnd = std::chrono::steady_clock::now();
    ++cyclesEnded;
    cycleEnded.notify_all();
}

}  // namespace kestrova
