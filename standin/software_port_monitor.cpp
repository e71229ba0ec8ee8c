#include "standin/software_port_monitor.h"

#include "platform/platform_calls.h"

#include <algorithm>
#include <cstring>

namespace kestrova::standin {

struct SoftwarePortMonitor::Port {
    SoftwarePortMonitor* owner;
    WideString name;
    COMMTIMEOUTS timeouts{};
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

void SoftwarePortMonitor::setResult(PortEntry entry, BOOL result) {
    std::lock_guard<std::mutex> guard(lock_);
    results_[entry] = result;
}

void SoftwarePortMonitor::failCall(PortEntry entry, std::size_t nth, BOOL result, DWORD lastError) {
    std::lock_guard<std::mutex> guard(lock_);
    injections_[entry].push_back(Injection{counts_[entry] + nth, result, lastError});
}

void SoftwarePortMonitor::setStartDocError(DWORD error) {
    std::lock_guard<std::mutex> guard(lock_);
    startDocError_ = error;
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
    return found == results_.end() ? TRUE : found->second;
}

void SoftwarePortMonitor::record(PortCall call) {
    std::lock_guard<std::mutex> guard(lock_);
    if (recordCalls_) calls_.push_back(std::move(call));
}

BOOL WINAPI SoftwarePortMonitor::openPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
    SoftwarePortMonitor* spm = self(hMonitor);
    PortCall call;
    call.entry = PortEntry::OpenPort;
    call.handle = hMonitor;
    call.name = wideFrom(pName);
    bool injected = false;
    BOOL result = spm->programmed(PortEntry::OpenPort, injected);
    if (result == TRUE && !injected && pHandle != nullptr) {
        auto p = std::make_unique<Port>();
        p->owner = spm;
        p->name = call.name;
        *pHandle = p.get();
        std::lock_guard<std::mutex> guard(spm->lock_);
        spm->ports_.push_back(std::move(p));
    }
    call.result = result;
    spm->record(std::move(call));
    return result;
}

BOOL WINAPI SoftwarePortMonitor::startDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                                              LPBYTE pDocInfo) {
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call;
    call.entry = PortEntry::StartDocPort;
    call.handle = hPort;
    call.name = wideFrom(pPrinterName);
    call.jobId = JobId;
    call.level = Level;
    call.docInfo = pDocInfo;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::StartDocPort, injected);
    if (result != TRUE && !injected) {
        std::lock_guard<std::mutex> guard(spm->lock_);
        SetLastError(spm->startDocError_);
    }
    call.result = result;
    spm->record(std::move(call));
    return result;
}

BOOL WINAPI SoftwarePortMonitor::writePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call;
    call.entry = PortEntry::WritePort;
    call.handle = hPort;
    call.count = cbBuf;
    bool injected = false;
    BOOL result = spm->programmed(PortEntry::WritePort, injected);
    DWORD written = 0;
    if (result == TRUE && !injected) {
        PortPeer* peer;
        std::size_t limit;
        {
            std::lock_guard<std::mutex> guard(spm->lock_);
            peer = spm->peer_;
            limit = spm->writeLimit_;
        }
        std::size_t offer = cbBuf;
        if (limit != 0) offer = std::min(offer, limit);
        long accepted = peer != nullptr ? peer->onWrite(pBuffer, offer) : static_cast<long>(offer);
        if (accepted < 0) {
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
    call.result = result;
    spm->record(std::move(call));
    return result;
}

BOOL WINAPI SoftwarePortMonitor::readPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    Port* p = port(hPort);
    SoftwarePortMonitor* spm = p->owner;
    PortCall call;
    call.entry = PortEntry::ReadPort;
    call.handle = hPort;
    call.count = cbBuffer;
    bool injected = false;
    BOOL result = spm->programmed(PortEntry::ReadPort, injected);
    DWORD got = 0;
    if (result == TRUE && !injected) {
        PortPeer* peer;
        COMMTIMEOUTS timeouts;
        {
            std::lock_guard<std::mutex> guard(spm->lock_);
            peer = spm->peer_;
            timeouts = p->timeouts;
        }
        long n = peer != nullptr ? peer->onRead(pBuffer, cbBuffer, timeouts) : 0;
        if (n < 0) {
            result = FALSE;
        } else {
            got = static_cast<DWORD>(std::min<std::size_t>(static_cast<std::size_t>(n), cbBuffer));
            call.data.assign(pBuffer, pBuffer + got);
        }
    }
    if (pcbRead != nullptr) *pcbRead = got;
    call.result = result;
    spm->record(std::move(call));
    return result;
}

BOOL WINAPI SoftwarePortMonitor::endDocPort(HANDLE hPort) {
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call;
    call.entry = PortEntry::EndDocPort;
    call.handle = hPort;
    bool injected = false;
    call.result = spm->programmed(PortEntry::EndDocPort, injected);
    const BOOL result = call.result;
    spm->record(std::move(call));
    return result;
}

BOOL WINAPI SoftwarePortMonitor::closePort(HANDLE hPort) {
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call;
    call.entry = PortEntry::ClosePort;
    call.handle = hPort;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::ClosePort, injected);
    call.result = result;
    spm->record(std::move(call));
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
    SoftwarePortMonitor* spm = port(hPort)->owner;
    PortCall call;
    call.entry = PortEntry::GetPrinterDataFromPort;
    call.handle = hPort;
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
    call.result = result;
    spm->record(std::move(call));
    return result;
}

BOOL WINAPI SoftwarePortMonitor::setPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved) {
    Port* p = port(hPort);
    SoftwarePortMonitor* spm = p->owner;
    PortCall call;
    call.entry = PortEntry::SetPortTimeOuts;
    call.handle = hPort;
    if (lpCTO != nullptr) call.timeouts = *lpCTO;
    call.reserved = reserved;
    bool injected = false;
    const BOOL result = spm->programmed(PortEntry::SetPortTimeOuts, injected);
    if (!injected && lpCTO != nullptr) {
        std::lock_guard<std::mutex> guard(spm->lock_);
        p->timeouts = *lpCTO;
    }
    call.result = result;
    spm->record(std::move(call));
    return result;
}

}  // namespace kestrova::standin
