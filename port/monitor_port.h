// One open port: the handle every port entry receives. Owns by value all
// that the port needs; nothing is shared between ports. What acts on a port
// (document intake, the production loop, control requests) sits above it and
// works through its operations and the two objects it owns: the machine
// session and the job intake.
//
// Who guards what, and in which order locks are taken:
//   portLock    the machine session, the document (jobInfo, printerHandle,
//               documentDeleted) and production's cycles. Taken first.
//   queueLock   the queued cards, inside the job intake. Taken after
//               portLock, never before it; held for no call beneath.
//   the spooler the buffered job bytes, which only the document's own calls
//               touch, one at a time.
//   the monitor openCount, under LanguageMonitor's own lock.
// What is set at construction never changes and needs no lock. A clang build
// with -Wthread-safety (make thread-safety) checks the GUARDED_BY fields.
#pragma once

#include "link/bytes.h"
#include "link/exchange_outcome.h"
#include "platform/module_clock.h"
#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"
#include "port/job_info.h"
#include "port/job_intake.h"
#include "port/machine_session.h"
#include "port/port_mutex.h"
#include "production/job_record.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>

namespace kestrova {

class LanguageMonitor;  // the owner; the port only keeps its address

class MonitorPort {
public:
    // The port waits and measures on `clock` (platform/module_clock.h).
    MonitorPort(LanguageMonitor* monitor, HANDLE portMonitorHandle, WideString portName, WideString printerName,
                HANDLE portHandle, const MONITOR2* portMonitor, const ModuleClock& clock = platformClock());
    ~MonitorPort();
    MonitorPort(const MonitorPort&) = delete;
    MonitorPort& operator=(const MonitorPort&) = delete;

    // The conversation with the machine.
    MachineSession& machine() REQUIRES(portLock) { return machine_; }
    // The job on its way in; its cards have a lock of their own.
    JobIntake& intake() { return intake_; }

    // Empties the queue of cards (a job that cannot be produced whole); a
    // card of theirs in the machine is restored out before the next job.
    void deleteQueuedCards() REQUIRES(portLock);
    // "delete_job": the queued cards go, and so does the document started on
    // the port, whether production has begun or its data is still coming in.
    void deleteJob() REQUIRES(portLock);
    // ClosePort and Shutdown: the printer handle of a document started and
    // never ended is closed, if portLock can be had by `deadline` (destroying
    // the port closes nothing). False when an entry held the lock all along,
    // stuck in a ReadPort beneath that does not return: the handle is left to
    // that entry, which gives it back on its way out.
    bool closePrinterBy(std::chrono::steady_clock::time_point deadline) EXCLUDES(portLock);
    // Longer than a request or a cycle holds the lock with a silent machine
    // (three exchanges of a 1.5 s time-out each).
    static constexpr std::chrono::seconds kCloseWait{5};
    // Closes the printer handle.
    void releasePrinter() REQUIRES(portLock);

    // Who holds the port: the monitor (from OpenPortEx until ClosePort or
    // Shutdown lets it go) and each entry at work on it. The last to let go
    // destroys it, so a port closed while an entry is still at work in it
    // lives on until that entry leaves; letting go of it marks it abandoned.
    void hold() { ++holders_; }
    // True when this was the last hold: the caller destroys the port.
    bool letGo() { return --holders_ == 0; }
    // The spooler has closed the port or shut the monitor down: an entry
    // still at work in it calls nothing more beneath and returns.
    void abandon() { abandoned_ = true; }
    bool abandoned() const { return abandoned_; }

    // A control request that exchanges with the machine takes portLock this
    // way (PortLock::BetweenCycles). While production runs, the request goes
    // early in a pause between two cycles: one that comes later than
    // kRoomInPause after a cycle ended waits for the next cycle to end, so
    // that it does not hold the port past the pause and put the next cycle
    // back. It waits for at most one cycle, and never longer than
    // kLongestCycleWait.
    void lockBetweenCycles() ACQUIRE(portLock);
    // A get_info (two polls and ModuleInfo, about 35 ms) fits in what is
    // left of the 90 ms pause.
    static constexpr std::chrono::milliseconds kRoomInPause{40};
    static constexpr std::chrono::milliseconds kLongestCycleWait{100};
    // The production loop's side: a cycle has ended, or production has
    // (producing false).
    void cycleDone(bool stillProducing) REQUIRES(portLock);

    // Set at construction, never changed.
    LanguageMonitor* const monitor;
    const HANDLE portMonitorHandle;
    const WideString portName;
    const WideString printerName;
    const HANDLE portHandle;
    const MONITOR2* const portMonitor;
    const ModuleClock& clock;

    mutable PortMutex portLock;
    HANDLE printerHandle GUARDED_BY(portLock) = nullptr;
    JobInfo jobInfo GUARDED_BY(portLock);
    // "delete_job" came for the document started now (jobInfo): EndDocPort
    // produces nothing more of it.
    bool documentDeleted GUARDED_BY(portLock) = false;
    // The card production is making, its storage reserved for the largest.
    JobRecord currentRecord GUARDED_BY(portLock);

    // How often OpenPortEx has handed this port out and not yet had it closed.
    int openCount = 1;

private:
    // In declared order: members are destroyed in reverse.
    std::atomic<bool> abandoned_{false};
    JobIntake intake_;
    MachineSession machine_ GUARDED_BY(portLock);
    // Production's cycles, for lockBetweenCycles.
    std::condition_variable_any cycleEnded_;
    std::atomic<std::uint64_t> cyclesEnded_{0};
    std::chrono::steady_clock::time_point lastCycleEnd_ GUARDED_BY(portLock);
    bool producing_ GUARDED_BY(portLock) = false;
    std::atomic<int> holders_{1};
};

// portLock held for a scope: at once, or as a control request takes it.
class SCOPED_CAPABILITY PortLock {
public:
    enum class When { Now, BetweenCycles };
    explicit PortLock(MonitorPort& port, When when = When::Now) ACQUIRE(port.portLock);
    ~PortLock() RELEASE();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

private:
    MonitorPort& port_;
};

// The monitor's hold on a port: letting it go abandons the port, and
// destroys it unless an entry is still at work in it.
struct PortRelease {
    void operator()(MonitorPort* port) const {
        port->abandon();
        if (port->letGo()) delete port;
    }
};

}  // namespace kestrova
