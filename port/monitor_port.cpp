#include "port/monitor_port.h"

#include "platform/platform_calls.h"

#include <utility>

namespace kestrova {

MonitorPort::MonitorPort(LanguageMonitor* owner, HANDLE monitorPortHandle, WideString port, WideString printer,
                         HANDLE portBeneath, const MONITOR2* portMonitorTable, const ModuleClock& portClock)
    : monitor(owner),
      portMonitorHandle(monitorPortHandle),
      portName(std::move(port)),
      printerName(std::move(printer)),
      portHandle(portBeneath),
      portMonitor(portMonitorTable),
      clock(portClock),
      machine_(portMonitorTable, portBeneath, abandoned_, intake_, portClock) {}

// Releases memory only: it also runs at process detach, under the loader
// lock, where calling into another module can deadlock the spooler.
MonitorPort::~MonitorPort() = default;

void MonitorPort::deleteQueuedCards() {
    intake_.dropCards();
    // A card fed, loaded or on its way through the machine was one of them:
    // no later job may personalise it, eject it as its own or lose a card to
    // it, so the machine is restored before the job ends.
    machine_.orphanCardInPath();
}

void MonitorPort::deleteJob() {
    deleteQueuedCards();
    // During intake the queue is still empty: the mark keeps EndDocPort from
    // producing the cards its data holds.
    if (jobInfo.jobId != 0) documentDeleted = true;
}

bool MonitorPort::closePrinterBy(std::chrono::steady_clock::time_point deadline) {
    if (!portLock.try_lock_until(deadline)) return false;
    releasePrinter();
    portLock.unlock();
    return true;
}

void MonitorPort::releasePrinter() {
    if (printerHandle == nullptr) return;
    ClosePrinter(printerHandle);
    printerHandle = nullptr;
}

void MonitorPort::lockBetweenCycles() {
    // Read before the lock: a cycle that ends while the request waits for the
    // lock leaves it at the start of the pause, free to go.
    const std::uint64_t seen = cyclesEnded_.load();
    portLock.lock();
    // The room is judged in real time, not on the port's clock: on a virtual
    // clock that moved it would put requests of a client polling in real time
    // (kestrova print --fast) into other cycles than they go today.
    if (!producing_ || std::chrono::steady_clock::now() - lastCycleEnd_ < kRoomInPause) return;
    // Bounded in real time, whatever the port's clock: a production loop
    // whose pause does not end (its host holds its clock) must not hold the
    // request back for ever; after the bound the request simply goes now,
    // between two cycles as always.
    const auto bound = std::chrono::steady_clock::now() + kLongestCycleWait;
    while (producing_ && cyclesEnded_.load() == seen) {
        if (cycleEnded_.wait_until(portLock, bound) == std::cv_status::timeout) break;
    }
}

void MonitorPort::cycleDone(bool stillProducing) {
    producing_ = stillProducing;
    lastCycleEnd_ = std::chrono::steady_clock::now();
    ++cyclesEnded_;
    cycleEnded_.notify_all();
}

PortLock::PortLock(MonitorPort& port, When when) : port_(port) {
    if (when == When::BetweenCycles) {
        port_.lockBetweenCycles();
    } else {
        port_.portLock.lock();
    }
}

PortLock::~PortLock() { port_.portLock.unlock(); }

}  // namespace kestrova
