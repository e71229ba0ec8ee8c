// One open port: the handle every port entry receives. Owns by value all
// that the port needs; nothing is shared between ports. What acts on a port
// (document intake, the production loop, control requests) sits above it and
// works on these fields.
#pragma once

#include "link/bytes.h"
#include "link/link_session.h"
#include "link/machine_state.h"
#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"
#include "port/job_info.h"
#include "production/job_queue.h"
#include "production/job_record.h"
#include "production/job_stream.h"

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

    // How often OpenPortEx has handed this port out and not yet had it closed.
    int openCount = 1;
};

}  // namespace kestrova
