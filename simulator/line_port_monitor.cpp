#include "simulator/line_port_monitor.h"

#include "platform/platform_calls.h"
#include "simulator/simulator_peer.h"
#include "simulator/socket_peer.h"

#include <algorithm>

namespace kestrova::simulator {

namespace {
constexpr DWORD kErrorNotReady = 21;       // the machine cannot be reached
constexpr DWORD kErrorNotSupported = 50;   // no port monitor beneath to ask
constexpr DWORD kErrorBrokenLine = 1236;   // the line went away
}  // namespace

struct LinePortMonitor::Port {
    LinePortMonitor* owner = nullptr;
    std::shared_ptr<standin::PortPeer> peer;
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 1500, 0, 1500};
};

LinePortMonitor::LinePortMonitor(Connect connect) : connect_(std::move(connect)) {
    table_.cbSize = sizeof(MONITOR2);
    table_.pfnOpenPort = &LinePortMonitor::openPort;
    table_.pfnStartDocPort = &LinePortMonitor::startDocPort;
    table_.pfnWritePort = &LinePortMonitor::writePort;
    table_.pfnReadPort = &LinePortMonitor::readPort;
    table_.pfnEndDocPort = &LinePortMonitor::endDocPort;
    table_.pfnClosePort = &LinePortMonitor::closePort;
    table_.pfnGetPrinterDataFromPort = &LinePortMonitor::getPrinterDataFromPort;
    table_.pfnSetPortTimeOuts = &LinePortMonitor::setPortTimeOuts;
}

LinePortMonitor::~LinePortMonitor() = default;

LinePortMonitor::Connect LinePortMonitor::toSimulator(SimulatorPeer& peer) {
    return [&peer](std::string&) { return std::shared_ptr<standin::PortPeer>(std::shared_ptr<void>(), &peer); };
}

LinePortMonitor::Connect LinePortMonitor::toAddress(const net::Endpoint& machine) {
    return [machine](std::string& error) -> std::shared_ptr<standin::PortPeer> {
        auto peer = std::make_shared<SocketPeer>();
        if (!peer->connect(machine, error)) return nullptr;
        return peer;
    };
}

std::string LinePortMonitor::lastError() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lastError_;
}

std::size_t LinePortMonitor::openPorts() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ports_.size();
}

BOOL WINAPI LinePortMonitor::openPort(HANDLE hMonitor, LPWSTR /*pName*/, PHANDLE pHandle) {
    auto* self = static_cast<LinePortMonitor*>(hMonitor);
    if (self == nullptr || pHandle == nullptr) return FALSE;
    std::string error;
    std::shared_ptr<standin::PortPeer> peer = self->connect_(error);
    std::lock_guard<std::mutex> guard(self->lock_);
    if (!peer) {
        self->lastError_ = error;
        SetLastError(kErrorNotReady);
        return FALSE;
    }
    auto p = std::make_unique<Port>();
    p->owner = self;
    p->peer = std::move(peer);
    *pHandle = p.get();
    self->ports_.push_back(std::move(p));
    return TRUE;
}

BOOL WINAPI LinePortMonitor::startDocPort(HANDLE hPort, LPWSTR, DWORD, DWORD, LPBYTE) {
    return hPort != nullptr ? TRUE : FALSE;
}

BOOL WINAPI LinePortMonitor::endDocPort(HANDLE hPort) { return hPort != nullptr ? TRUE : FALSE; }

BOOL WINAPI LinePortMonitor::writePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    if (pcbWritten != nullptr) *pcbWritten = 0;
    Port* p = port(hPort);
    if (p == nullptr || (pBuffer == nullptr && cbBuf > 0)) return FALSE;
    if (cbBuf == 0) return TRUE;
    const long accepted = p->peer->onWrite(pBuffer, cbBuf);
    if (accepted < 0) {
        SetLastError(kErrorBrokenLine);
        return FALSE;
    }
    const auto written = static_cast<DWORD>(std::min<long>(accepted, static_cast<long>(cbBuf)));
    if (pcbWritten != nullptr) *pcbWritten = written;
    if (p->owner->tracer_ != nullptr && written > 0) p->owner->tracer_->written(pBuffer, written);
    return TRUE;
}

BOOL WINAPI LinePortMonitor::readPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    if (pcbRead != nullptr) *pcbRead = 0;
    Port* p = port(hPort);
    if (p == nullptr || pBuffer == nullptr) return FALSE;
    if (cbBuffer == 0) return TRUE;
    const long got = p->peer->onRead(pBuffer, cbBuffer, p->timeouts);
    if (got < 0) {
        SetLastError(kErrorBrokenLine);
        return FALSE;
    }
    FrameTracer* tracer = p->owner->tracer_;
    if (got == 0) {
        ++p->owner->readsTimedOut_;
        if (tracer != nullptr) tracer->readNothing();
        return TRUE;
    }
    const auto read = static_cast<DWORD>(std::min<long>(got, static_cast<long>(cbBuffer)));
    if (pcbRead != nullptr) *pcbRead = read;
    if (tracer != nullptr) tracer->read(pBuffer, read);
    return TRUE;
}

BOOL WINAPI LinePortMonitor::closePort(HANDLE hPort) {
    Port* p = port(hPort);
    if (p == nullptr) return FALSE;
    LinePortMonitor* self = p->owner;
    std::lock_guard<std::mutex> guard(self->lock_);
    auto& ports = self->ports_;
    ports.erase(std::remove_if(ports.begin(), ports.end(), [p](const auto& q) { return q.get() == p; }),
                ports.end());
    return TRUE;
}

BOOL WINAPI LinePortMonitor::getPrinterDataFromPort(HANDLE, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                                    LPDWORD lpcbReturned) {
    if (lpcbReturned != nullptr) *lpcbReturned = 0;
    SetLastError(kErrorNotSupported);
    return FALSE;
}

BOOL WINAPI LinePortMonitor::setPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD) {
    Port* p = port(hPort);
    if (p == nullptr || lpCTO == nullptr) return FALSE;
    p->timeouts = *lpCTO;
    return TRUE;
}

}  // namespace kestrova::simulator
