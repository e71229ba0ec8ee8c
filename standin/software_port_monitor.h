// A port monitor in software: a MONITOR2 table whose entries record every
// call with its arguments, return programmable results, and carry the bytes
// of WritePort and ReadPort to a pluggable peer (a scripted machine, the
// simulated machine's line, a TCP connection to a served machine, any of
// them behind a frame trace). Stands where the real port monitor stands
// beneath the language monitor: for the tests, the simulator and the tool.
#pragma once

#include "platform/spooler_monitor.h"
#include "platform/wide_string.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kestrova::standin {

// What sits at the far end of the port.
class PortPeer {
public:
    virtual ~PortPeer() = default;
    // The monitor wrote these bytes. Returns how many the peer accepted
    // (0..size); a negative value makes WritePort fail.
    virtual long onWrite(const std::uint8_t* data, std::size_t size) = 0;
    // The monitor asks for up to `size` bytes with the port's current
    // time-outs. Returns the count delivered (0: nothing within the time-out);
    // a negative value makes ReadPort fail.
    virtual long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) = 0;
};

// Opens the far end of a new port: a peer of the port's own, or null with the
// reason when there is nothing to reach.
using PortConnect = std::function<std::shared_ptr<PortPeer>(std::string& error)>;

enum class PortEntry {
    OpenPort,
    StartDocPort,
    WritePort,
    ReadPort,
    EndDocPort,
    ClosePort,
    GetPrinterDataFromPort,
    SetPortTimeOuts,
};
const char* portEntryName(PortEntry entry);

struct PortCall {
    PortEntry entry = PortEntry::OpenPort;
    HANDLE handle = nullptr;       // port handle (OpenPort: the monitor handle)
    WideString name;               // OpenPort's port name, StartDocPort's printer name, the value name
    DWORD jobId = 0;
    DWORD level = 0;
    LPBYTE docInfo = nullptr;
    std::vector<std::uint8_t> data;  // bytes written / read
    DWORD count = 0;               // the count asked for (cbBuf, cbBuffer, cbOutBuffer)
    DWORD controlId = 0;
    LPWSTR inBuffer = nullptr;
    DWORD inSize = 0;
    LPWSTR outBuffer = nullptr;
    LPDWORD returned = nullptr;
    COMMTIMEOUTS timeouts{};
    DWORD reserved = 0;
    BOOL result = FALSE;
};

class SoftwarePortMonitor {
public:
    SoftwarePortMonitor();
    ~SoftwarePortMonitor();
    SoftwarePortMonitor(const SoftwarePortMonitor&) = delete;
    SoftwarePortMonitor& operator=(const SoftwarePortMonitor&) = delete;

    // What OpenPortEx receives as pMonitor2 and hMonitorPort.
    MONITOR2* table() { return &table_; }
    HANDLE monitorHandle() { return this; }

    // The peer the ports' bytes go to; not owned. Without one, writes are
    // accepted and dropped and reads deliver nothing.
    void setPeer(PortPeer* peer);
    // Each port opened from now on gets a far end of its own from `connect`,
    // in place of the shared peer; OpenPort fails when it gives none.
    void setConnect(PortConnect connect);
    // Why the last OpenPort could not connect.
    std::string connectError() const;

    // Every call of an entry returns `result` (default TRUE).
    void setResult(PortEntry entry, BOOL result);
    // The nth call (1-based, counted from now on) of the entry returns
    // `result`, sets `lastError` and does nothing else.
    void failCall(PortEntry entry, std::size_t nth, BOOL result = FALSE, DWORD lastError = 0);
    // What a call of the entry that fails by its programmed result leaves as
    // the last error (StartDocPort: 0 unless set).
    void setFailureError(PortEntry entry, DWORD error);
    // The GetPrinterDataFromPort pass-through writes this text (UTF-16) to its output buffer.
    void setPassThroughReply(const WideString& reply);
    // WritePort accepts at most this many bytes per call (0: no limit).
    void setWriteLimit(std::size_t maxBytes);

    std::vector<PortCall> calls() const;
    std::vector<PortCall> callsOf(PortEntry entry) const;
    std::size_t countOf(PortEntry entry) const;
    void clearCalls();
    // Calls are always counted; recording each (and the written bytes) can
    // be turned off for long runs.
    void setRecordCalls(bool record);

    // All bytes the monitor has written through WritePort while recording, in order.
    std::vector<std::uint8_t> writtenBytes() const;
    std::size_t openPorts() const;
    // ReadPort calls that waited and delivered nothing within the port's
    // time-outs (not those told to return at once).
    std::size_t readsTimedOut() const;

private:
    struct Port;
    static SoftwarePortMonitor* self(HANDLE hMonitor);
    static Port* port(HANDLE hPort);

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

    // Counts the call and returns the programmed result; `injected` tells
    // whether an injected failure replaces the entry's own work.
    BOOL programmed(PortEntry entry, bool& injected);
    static PortCall callOf(PortEntry entry, HANDLE handle);
    // Keeps the call with its result (while recording); returns the result.
    BOOL record(PortCall call, BOOL result);
    // The far end of the port's bytes; null for none.
    PortPeer* peerOf(const Port& p) const;

    MONITOR2 table_{};
    mutable std::mutex lock_;
    PortPeer* peer_ = nullptr;
    PortConnect connect_;
    std::string connectError_;
    std::map<PortEntry, BOOL> results_;
    std::map<PortEntry, DWORD> failureErrors_{{PortEntry::StartDocPort, 0}};
    std::map<PortEntry, std::size_t> counts_;
    struct Injection {
        std::size_t at;
        BOOL result;
        DWORD lastError;
    };
    std::map<PortEntry, std::vector<Injection>> injections_;
    WideString passThroughReply_;
    std::size_t writeLimit_ = 0;
    bool recordCalls_ = true;
    std::size_t readsTimedOut_ = 0;
    std::vector<PortCall> calls_;
    std::vector<std::uint8_t> written_;
    std::vector<std::unique_ptr<Port>> ports_;
};

}  // namespace kestrova::standin
