// One open port: the handle every port entry receives. Owns by value all
// that the port needs; nothing is shared between ports. What acts on a port
// (document intake, the production loop, control requests) sits above it and
// works on these fields.
#pragma once

#include "link/bytes.h"
#include "link/link_session.h"
#include "link/machine_state.h"
#include "link/reply_interpretation.h"
#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"
#include "port/job_info.h"
#include "production/job_queue.h"
#include "production/job_record.h"
#include "production/job_stream.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kestrova {

class LanguageMonitor;  // the owner; the port only keeps its address

class MonitorPort {
public:
    MonitorPort(LanguageMonitor* monitor, HANDLE portMonitorHandle, WideString portName, WideString printerName,
                HANDLE portHandle, const MONITOR2* portMonitor);
    ~MonitorPort();
    MonitorPort(const MonitorPort&) = delete;
    MonitorPort& operator=(const MonitorPort&) = delete;

    // One command to the machine, its reply turned into machineState and
    // hwErrorCode by interpretReply; a card the reply abandons leaves the
    // queue. The caller holds portLock.
    std::int32_t machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode,
                                 Bytes& replyPayload);
    // The same without the reply's payload (production reads none of it).
    // Allocates nothing once reserveExchanges() has made room.
    std::int32_t machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode);
    // Room for commands with payloads of up to `largestPayload` bytes and any
    // reply. The caller holds portLock.
    void reserveExchanges(std::size_t largestPayload);
    // A card a reply gives up leaves the queue. The caller holds portLock.
    void abandonFrontCard(const ReplyMeaning& meaning);
    // Empties the queue of cards (a job that cannot be produced whole). The
    // caller holds portLock.
    void deleteQueuedCards();
    // "delete_job": the queued cards go, and so does the document started on
    // the port, whether production has begun or its data is still coming in.
    // The caller holds portLock.
    void deleteJob();
    // ClosePort and Shutdown: the printer handle of a document started and
    // never ended is closed, if portLock can be had by `deadline` (destroying
    // the port closes nothing). False when an entry held the lock all along,
    // stuck in a ReadPort beneath that does not return: the handle is left to
    // that entry, which gives it back on its way out.
    bool closePrinterBy(std::chrono::steady_clock::time_point deadline);
    // Longer than a request or a cycle holds the lock with a silent machine
    // (three exchanges of a 1.5 s time-out each).
    static constexpr std::chrono::seconds kCloseWait{5};
    // Closes the printer handle; the caller holds portLock.
    void releasePrinter();

    // Who holds the port: the monitor (from OpenPortEx until ClosePort or
    // Shutdown lets it go) and each entry at work on it. The last to let go
    // destroys it, so a port closed while an entry is still at work in it
    // lives on until that entry leaves; letting go of it marks it abandoned.
    void hold() { ++holders_; }
    // True when this was the last hold: the caller destroys the port.
    bool letGo() { return --holders_ == 0; }
    // The spooler has closed the port or shut the monitor down: an entry
    // still at work in it calls nothing more beneath and returns.
    std::atomic<bool> abandoned{false};

    // portLock for a control request that exchanges with the machine. While
    // production runs, the request
    // goes early in a pause between two cycles: one that comes later than
    // kRoomInPause after a cycle ended waits for the next cycle to end, so
    // that it does not hold the port past the pause and put the next cycle
    // back. It waits for at most one cycle, and never longer than
    // kLongestCycleWait.
    std::unique_lock<std::mutex> lockBetweenCycles();
    // A get_info (two polls and ModuleInfo, about 35 ms) fits in what is
    // left of the 90 ms pause.
    static constexpr std::chrono::milliseconds kRoomInPause{40};
    static constexpr std::chrono::milliseconds kLongestCycleWait{100};
    // The production loop's side, with portLock held: a cycle has ended, or
    // production has (producing false).
    void cycleDone(bool stillProducing);

    // In declared order: members are destroyed in reverse.
    LanguageMonitor* monitor;
    HANDLE portMonitorHandle;
    WideString portName;
    WideString printerName;
    HANDLE portHandle;
    const MONITOR2* portMonitor;
    HANDLE printerHandle = nullptr;
    JobInfo jobInfo;
    JobStream jobStream;
    JobQueue jobQueue;
    std::mutex queueLock;
    LinkSession link;
    std::mutex portLock;
    std::int32_t hwErrorCode = 0;
    MachineState machineState = state::Unknown;
    JobRecord currentRecord;
    // "delete_job" came for the document started now (jobInfo): EndDocPort
    // produces nothing more of it. Guarded by portLock.
    bool documentDeleted = false;
    // Whether a restore gives up the card in the machine; guarded by portLock.
    CardInMachine cardInMachine;
    // The last reply, its storage reused from exchange to exchange; guarded by portLock.
    LinkReply lastReply;
    // Production's cycles, for lockBetweenCycles; changed under portLock.
    std::condition_variable cycleEnded;
    std::atomic<std::uint64_t> cyclesEnded{0};
    std::chrono::steady_clock::time_point lastCycleEnd;
    bool producing = false;

    // How often OpenPortEx has handed this port out and not yet had it closed.
    int openCount = 1;

private:
    // Scratch for the replies found waiting before an exchange; guarded by portLock.
    std::vector<LinkReply> waitingReplies_;
    std::atomic<int> holders_{1};
};

// The monitor's hold on a port: letting it go abandons the port, and
// destroys it unless an entry is still at work in it.
struct PortRelease {
    void operator()(MonitorPort* port) const {
        port->abandoned = true;
        if (port->letGo()) delete port;
    }
};

}  // namespace kestrova
