// A port monitor whose ports are lines to a machine: OpenPort opens the far
// end (the in-process simulator, or a TCP connection to one), WritePort and
// ReadPort carry the bytes with the port's time-outs, and every byte can be
// shown to a frame tracer. The document calls succeed and do nothing; there
// is nothing beneath to pass control requests to. Unlike the recording
// software port monitor of the tests it keeps nothing, so it can run jobs of
// any length.
#pragma once

#include "platform/spooler_monitor.h"
#include "simulator/frame_trace.h"
#include "simulator/socket.h"
#include "standin/software_port_monitor.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrova::simulator {

class SimulatorPeer;

class LinePortMonitor {
public:
    // Opens the far end of a new port; null with the reason when it cannot.
    using Connect = std::function<std::shared_ptr<standin::PortPeer>(std::string& error)>;

    explicit LinePortMonitor(Connect connect);
    ~LinePortMonitor();
    LinePortMonitor(const LinePortMonitor&) = delete;
    LinePortMonitor& operator=(const LinePortMonitor&) = delete;

    // Every port a line to the same simulated machine.
    static Connect toSimulator(SimulatorPeer& peer);
    // Every port a new connection to a machine served on TCP.
    static Connect toAddress(const net::Endpoint& machine);

    // What OpenPortEx receives as pMonitor2 and hMonitorPort.
    MONITOR2* table() { return &table_; }
    HANDLE monitorHandle() { return this; }

    // Shown every byte written and read; not owned; set before ports open.
    void setTracer(FrameTracer* tracer) { tracer_ = tracer; }
    // Why the last OpenPort failed.
    std::string lastError() const;
    std::size_t readsTimedOut() const { return readsTimedOut_; }
    std::size_t openPorts() const;

private:
    struct Port;
    static Port* port(HANDLE hPort) { return static_cast<Port*>(hPort); }

    static BOOL WINAPI openPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
    static BOOL WINAPI startDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
    static BOOL WINAPI writePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
    static BOOL WINAPI readPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
    static BOOL WINAPI endDocPort(HANDLE hPort);
    static BOOL WINAPI closePort(HANDLE hPort);
    static BOOL WINAPI getPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                              DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                              LPDWORD lpcbReturned);
    static BOOL WINAPI setPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);

    MONITOR2 table_{};
    Connect connect_;
    FrameTracer* tracer_ = nullptr;
    mutable std::mutex lock_;
    std::string lastError_;
    std::atomic<std::size_t> readsTimedOut_{0};
    std::vector<std::unique_ptr<Port>> ports_;
};

}  // namespace kestrova::simulator
