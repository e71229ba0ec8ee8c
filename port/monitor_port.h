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
    // Empties the queue of cards (a job that cannot be produced whole). The
    // caller holds portLock.
    void deleteQueuedCards();
    // "delete_job": the queued cards go, and so does the document started on
    // the port, whether production has begun or its data is still coming in.
    // The caller holds portLock.
    void deleteJob();
    // Closes the printer handle a started document still holds (ClosePort
    // and Shutdown; destroying the port closes nothing).
    void closePrinter();
    // The same, for a caller that holds portLock.
    void releasePrinter();

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
    // Production's cycles, for lockBetweenCycles; changed under portLock.
    std::condition_variable cycleEnded;
    std::atomic<std::uint64_t> cyclesEnded{0};
    std::chrono::steady_clock::time_point lastCycleEnd;
    bool producing = false;

    // How often OpenPortEx has handed this port out and not yet had it closed.
    int openCount = 1;
};

}  // namespace kestrova
