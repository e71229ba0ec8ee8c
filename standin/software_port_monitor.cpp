#include "standin/software_port_monitor.h"

#include "platform/platform_calls.h"
#include "standin/outside_the_module.h"
#include "standin/platform_standin.h"

#include <algorithm>
#include <cstring>

namespace kestrova::standin {

namespace {
constexpr DWORD kErrorNotReady = 21;      // the far end cannot be reached
constexpr DWORD kErrorBrokenLine = 1236;  // the far end went away
}  // namespace

struct SoftwarePortMonitor::Port {
    SoftwarePortMonitor* owner;
    WideString name;
    COMMTIMEOUTS timeouts{};
    std::shared_ptr<PortPeer> peer;  // its own far end, when the monitor connects each port
};

const char* portEntryName(PortEntry entry) {
    switch (entry) {
        case PortEntry::OpenPort: return "OpenPort";
        case PortEntry::StartDocPort: return "StartDocPort";
        case PortEntry::WritePort: return "WritePort";
        case PortEntry::ReadPort: return "ReadPort";
        case PortEntry::EndDocPort: return "EndDocPort";
        case PortEntry::ClosePort: return "ClosePort";
        case PortEntry::GetPrinterDataFromPort: return "GetPrinterDataFromPort";
        case PortEntry::SetPortTimeOuts: return "SetPortTimeOuts";
    }
    return "?";
}

SoftwarePortMonitor::SoftwarePortMonitor() {
    table_.cbSize = sizeof(MONITOR2);
    table_.pfnOpenPort = &SoftwarePortMonitor::openPort;
    table_.pfnStartDocPort = &SoftwarePortMonitor::startDocPort;
    table_.pfnWritePort = &SoftwarePortMonitor::writePort;
    table_.pfnReadPort = &SoftwarePortMonitor::readPort;
    table_.pfnEndDocPort = &SoftwarePortMonitor::endDocPort;
    table_.pfnClosePort = &SoftwarePortMonitor::closePort;
    table_.pfnGetPrinterDataFromPort = &SoftwarePortMonitor::getPrinterDataFromPort;
    table_.pfnSetPortTimeOuts = &SoftwarePortMonitor::setPortTimeOuts;
}

SoftwarePortMonitor::~SoftwarePortMonitor() = default;

void SoftwarePortMonitor::setPeer(PortPeer* peer) {
    std::lock_guard<std::mutex> guard(lock_);
    peer_ = peer;
}

void SoftwarePortMonitor::setConnect(PortConnect connect) {
    std::lock_guard<std::mutex> guard(lock_);
    connect_ = std::move(connect);
}

std::string SoftwarePortMonitor::connectError() const {
    std::lock_guard<std::mutex> guard(lock_);
    return connectError_;
}

void SoftwarePortMonitor::setResult(PortEntry entry, BOOL result) {
    std::lock_guard<std::mutex> guard(lock_);
    results_[entry] = result;
}

void SoftwarePortMonitor::failCall(PortEntry entry, std::size_t nth, BOOL result, DWORD lastError) {
    std::lock_guard<std::mutex> guard(lock_);
    injections_[entry].push_back(Injection{counts_[entry] + nth, result, lastError});
}

void SoftwarePortMonitor::setFailureError(PortEntry entry, DWORD error) {
    std::lock_guard<std::mutex> guard(lock_);
    failureErrors_[entry] = error;
}

void SoftwarePortMonitor::setPassThroughReply(const WideString& reply) {
    std::lock_guard<std::mutex> guard(lock_);
    passThroughReply_ = reply;
}

void SoftwarePortMonitor::setWriteLimit(std::size_t maxBytes) {
    std::lock_guard<std::mutex> guard(lock_);
    writeLimit_ = maxBytes;
}

std::vector<PortCall> SoftwarePortMonitor::calls() const {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

std::vector<PortCall> SoftwarePortMonitor::callsOf(PortEntry entry) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<PortCall> out;
    for (const auto& call : calls_) {
        if (call.entry == entry) out.push_back(call);
    }
    return out;
}

std::size_t SoftwarePortMonitor::countOf(PortEntry entry) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = counts_.find(entry);
    return it == counts_.end() ? 0 : it->second;
}

void SoftwarePortMonitor::clearCalls() {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.clear();
    written_.clear();
}

void SoftwarePortMonitor::setRecordCalls(bool record) {
    std::lock_guard<std::mutex> guard(lock_);
    recordCalls_ = record;
}

std::vector<std::uint8_t> SoftwarePortMonitor::writtenBytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return written_;
}

std::size_t SoftwarePortMonitor::openPorts() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ports_.size();
}

std::size_t SoftwarePortMonitor::readsTimedOut() const {
    std::lock_guard<std::mutex> guard(lock_);
    return readsTimedOut_;
}

SoftwarePortMonitor* SoftwarePortMonitor::self(HANDLE hMonitor) { return static_cast<SoftwarePortMonitor*>(hMonitor); }

SoftwarePortMonitor::Port* SoftwarePortMonitor::port(HANDLE hPort) { return static_cast<Port*>(hPort); }

BOOL SoftwarePortMonitor::programmed(PortEntry entry, bool& injected) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t n = ++counts_[entry];
    injected = false;
    auto& list = injections_[entry];
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->at == n) {
            injected = true;
            const BOOL result = it->result;
            SetLastError(it->lastError);
            list.erase(it);
            return result;
        }
    }
    auto found = results_.find(entry);
    const BOOL result = found == results_.end() ? TRUE : found->second;
    if (result != TRUE) {
        auto error = failureErrors_.find(entry);
        if (error != failureErrors_.end()) SetLastError(error->second);
    }
    return result;
}

PortPeer* SoftwarePortMonitor::peerOf(const Port& p) const { return p.peer ? p.peer.get() : peer_; }

PortCall SoftwarePortMonitor::callOf(PortEntry entry, HANDLE handle) {
    PortCall call;
    call.entry = entry;
    call.handle = handle;
    return call;
}

BOOL SoftwarePortMonitor::record(PortCall call, BOOL result) {
    call.result = result;
    std::lock_guard<std::mutex> guard(lock_);
    if (recordCalls_) calls_.push_back(std::move(call));
    return result;
}

BOOL WINAPI SoftwarePortMonitor::openPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
    const OutsideTheModule outside;
    SoftwarePortMonitor* spm = self(hMonitor);
    PortCall call = callOf(PortEntry::OpenPort, hMonitor);
    call.name = wideFrom(pName);
    bool injected = false;
    BOOL result = spm->programmed(PortEntry::OpenPort, injected);
    if (result == TRUE && !injected && pHandle != nullptr) {
        auto p = std::make_unique<Port>();
        p->owner = spm;
        p->name = call.name;
        PortConnect connect;
        {
            std::lock_guard<std::mutex> guard(spm->lock_);
            connect = spm->connect_;
        }
        std::string error;
        if (connect) p->peer = connect(error);  // may wait for a TCP connection: outside the lock
        std::lock_guard<std::mutex> guard(spm->lock_);
        if (connect && !p->peer) {
            spm->connectError_ = error;
            SetLastError(kErrorNotReady);
            result = FALSE;
        } else {
            *pHandle = p.get();
            spm->ports_.push_back(std::move(p));
        }
    }
    return spm->record(std::move(call), result);
}

BOOL WINAPI SoftwarePortMonitor::startDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                                              LPBYTE pDocInfo) {
    const OutsideTheModule outside;
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call = callOf(PortEntry::StartDocPort, hPort);
    call.name = wideFrom(pPrinterName);
    call.jobId = JobId;
    call.level = Level;
    call.docInfo = pDocInfo;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::StartDocPort, injected);
    return spm->record(std::move(call), result);
}

BOOL WINAPI SoftwarePortMonitor::writePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    const OutsideTheModule outside;
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call = callOf(PortEntry::WritePort, hPort);
    call.count = cbBuf;
    bool injected = false;
    BOOL result = spm->programmed(PortEntry::WritePort, injected);
    DWORD written = 0;
    if (result == TRUE && !injected) {
        PortPeer* peer;
        std::size_t limit;
        {
            std::lock_guard<std::mutex> guard(spm->lock_);
            peer = spm->peerOf(*port(hPort));
            limit = spm->writeLimit_;
        }
        std::size_t offer = cbBuf;
        if (limit != 0) offer = std::min(offer, limit);
        long accepted = peer != nullptr ? peer->onWrite(pBuffer, offer) : static_cast<long>(offer);
        if (accepted < 0) {
            SetLastError(kErrorBrokenLine);
            result = FALSE;
        } else {
            written = static_cast<DWORD>(std::min<std::size_t>(static_cast<std::size_t>(accepted), offer));
            call.data.assign(pBuffer, pBuffer + written);
            std::lock_guard<std::mutex> guard(spm->lock_);
            // With recording off nothing is kept, so long runs stay flat.
            if (spm->recordCalls_) spm->written_.insert(spm->written_.end(), pBuffer, pBuffer + written);
        }
    }
    if (pcbWritten != nullptr) *pcbWritten = written;
    return spm->record(std::move(call), result);
}

BOOL WINAPI SoftwarePortMonitor::readPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    const OutsideTheModule outside;
    Port* p = port(hPort);
    SoftwarePortMonitor* spm = p->owner;
    PortCall call = callOf(PortEntry::ReadPort, hPort);
    call.count = cbBuffer;
    bool injected = false;
    BOOL result = spm->programmed(PortEntry::ReadPort, injected);
    DWORD got = 0;
    if (result == TRUE && !injected) {
        PortPeer* peer;
        COMMTIMEOUTS timeouts;
        {
            std::lock_guard<std::mutex> guard(spm->lock_);
            peer = spm->peerOf(*p);
            timeouts = p->timeouts;
        }
        long n = peer != nullptr ? peer->onRead(pBuffer, cbBuffer, timeouts) : 0;
        if (n < 0) {
            SetLastError(kErrorBrokenLine);
            result = FALSE;
        } else {
            got = static_cast<DWORD>(std::min<std::size_t>(static_cast<std::size_t>(n), cbBuffer));
            call.data.assign(pBuffer, pBuffer + got);
            // A read told to return at once with what is there waits for nothing.
            const bool atOnce = timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 &&
                                timeouts.ReadTotalTimeoutConstant == 0;
            if (got == 0 && !atOnce) {
                std::lock_guard<std::mutex> guard(spm->lock_);
                ++spm->readsTimedOut_;
            }
        }
    }
    if (pcbRead != nullptr) *pcbRead = got;
    return spm->record(std::move(call), result);
}

BOOL WINAPI SoftwarePortMonitor::endDocPort(HANDLE hPort) {
    const OutsideTheModule outside;
    SoftwarePortMonitor* spm = port(hPort)->owner;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::EndDocPort, injected);
    return spm->record(callOf(PortEntry::EndDocPort, hPort), result);
}

BOOL WINAPI SoftwarePortMonitor::closePort(HANDLE hPort) {
    const OutsideTheModule outside;
    SoftwarePortMonitor* spm = port(hPort)->owner;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::ClosePort, injected);
    spm->record(callOf(PortEntry::ClosePort, hPort), result);
    if (result == TRUE && !injected) {
        std::lock_guard<std::mutex> guard(spm->lock_);
        auto& ports = spm->ports_;
        ports.erase(std::remove_if(ports.begin(), ports.end(), [hPort](const auto& q) { return q.get() == hPort; }),
                    ports.end());
    }
    return result;
}

BOOL WINAPI SoftwarePortMonitor::getPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                                        LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                                        DWORD cbOutBuffer, LPDWORD lpcbReturned) {
    const OutsideTheModule outside;
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call = callOf(PortEntry::GetPrinterDataFromPort, hPort);
    call.controlId = ControlID;
    call.name = wideFrom(pValueName);
    call.inBuffer = lpInBuffer;
    call.inSize = cbInBuffer;
    call.outBuffer = lpOutBuffer;
    call.count = cbOutBuffer;
    call.returned = lpcbReturned;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::GetPrinterDataFromPort, injected);
    if (result == TRUE && !injected) {
        WideString reply;
        {
            std::lock_guard<std::mutex> guard(spm->lock_);
            reply = spm->passThroughReply_;
        }
        const std::size_t bytes = reply.size() * sizeof(WCHAR);
        // The answer is counted by *lpcbReturned, not terminated, as a port monitor's may be.
        if (lpOutBuffer != nullptr && bytes <= cbOutBuffer) {
            std::memcpy(lpOutBuffer, reply.data(), bytes);  // NOLINT(bugprone-not-null-terminated-result)
        }
        if (lpcbReturned != nullptr) *lpcbReturned = static_cast<DWORD>(bytes);
    }
    return spm->record(std::move(call), result);
}

BOOL WINAPI SoftwarePortMonitor::setPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved) {
    const OutsideTheModule outside;
    Port* p = port(hPort);
    SoftwarePortMonitor* spm = p->owner;
    PortCall call = callOf(PortEntry::SetPortTimeOuts, hPort);
    if (lpCTO != nullptr) call.timeouts = *lpCTO;
    call.reserved = reserved;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::SetPortTimeOuts, injected);
    if (!injected && lpCTO != nullptr) {
        std::lock_guard<std::mutex> guard(spm->lock_);
        p->timeouts = *lpCTO;
    }
    return spm->record(std::move(call), result);
}

}  // namespace kestrova::standin
