// One open port: the handle every port entry receives. Owns by value all
// that the port needs; nothing is shared between ports.
#pragma once

#include "link/bytes.h"
#include "link/link_session.h"
#include "link/machine_state.h"
#include "monitor/job_info.h"
#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"
#include "production/job_queue.h"
#include "production/job_record.h"
#include "production/job_stream.h"

#include <cstdint>
#include <mutex>

namespace kestrova {

class LanguageMonitor;

class MonitorPort {
public:
    MonitorPort(LanguageMonitor* monitor, HANDLE portMonitorHandle, WideString portName, WideString printerName,
                HANDLE portHandle, const MONITOR2* portMonitor);
    ~MonitorPort();
    MonitorPort(const MonitorPort&) = delete;
    MonitorPort& operator=(const MonitorPort&) = delete;

    // Document entries (the caller has checked the handle).
    BOOL startDocPort(LPWSTR pPrinterName, DWORD jobId, DWORD level, LPBYTE pDocInfo);
    BOOL writePort(LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
    BOOL produceJob();
    // Closes the printer handle a started document still holds (ClosePort
    // and Shutdown; destroying the port closes nothing).
    void closePrinter();

    // One command to the machine with the reply turned into machineState and
    // hwErrorCode. The caller holds portLock.
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
