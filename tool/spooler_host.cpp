#include "tool/spooler_host.h"

#include "platform/platform_calls.h"

#include <algorithm>
#include <vector>

namespace kestrova::tool {

namespace {
// Far more than any result document: a request is not repeated for a larger
// buffer, because the module would carry out its command again.
constexpr DWORD kResultBufferBytes = 512 * 1024;
}  // namespace

SpoolerHost::~SpoolerHost() { close(); }

bool SpoolerHost::open(HANDLE portMonitorHandle, MONITOR2* portMonitor, std::string& error) {
    if (module_.entry() == nullptr) {
        error = "no module loaded";
        return false;
    }
    table_ = module_.entry()(nullptr, &monitor_);
    if (table_ == nullptr || monitor_ == nullptr || table_->pfnOpenPortEx == nullptr) {
        error = "InitializePrintMonitor2 of " + module_.path() + " returned no function table";
        return false;
    }
    WideString port(portName());
    WideString printer(printerName());
    if (table_->pfnOpenPortEx(monitor_, portMonitorHandle, port.data(), printer.data(), &port_, portMonitor) != TRUE) {
        error = "OpenPortEx failed";
        port_ = nullptr;
        return false;
    }
    return true;
}

BOOL SpoolerHost::startDoc(DWORD jobId, const WideString& docName) {
    WideString printer(printerName());
    WideString name = docName;
    WideString datatype = wideFromAscii("RAW");
    DOC_INFO_1 info{name.data(), nullptr, datatype.data()};
    return table_->pfnStartDocPort(port_, printer.data(), jobId, 1, reinterpret_cast<LPBYTE>(&info));
}

bool SpoolerHost::write(const Bytes& job, std::size_t chunk, std::string& error) {
    std::vector<std::uint8_t> piece;
    for (std::size_t at = 0; at < job.size();) {
        const std::size_t n = std::min(chunk, job.size() - at);
        piece.assign(job.begin() + static_cast<std::ptrdiff_t>(at), job.begin() + static_cast<std::ptrdiff_t>(at + n));
        DWORD written = 0;
        if (table_->pfnWritePort(port_, piece.data(), static_cast<DWORD>(n), &written) != TRUE || written != n) {
            error = "WritePort failed at byte " + std::to_string(at);
            return false;
        }
        at += n;
    }
    return true;
}

BOOL SpoolerHost::endDoc() { return table_->pfnEndDocPort(port_); }

ControlAnswer SpoolerHost::control(const WideString& request) const {
    ControlAnswer answer;
    WideString name = request;  // the entry takes a writable, NUL-terminated text
    std::vector<WCHAR> buffer(kResultBufferBytes / sizeof(WCHAR));
    DWORD returned = 0;
    SetLastError(0);
    answer.result = table_->pfnGetPrinterDataFromPort(port_, 0, name.data(), nullptr, 0, buffer.data(),
                                                      kResultBufferBytes, &returned);
    if (answer.result != TRUE) answer.lastError = GetLastError();
    const std::size_t units = std::min<std::size_t>(returned / sizeof(WCHAR), buffer.size());
    if (answer.result == TRUE) answer.text.assign(buffer.data(), units);
    return answer;
}

void SpoolerHost::close() {
    if (table_ != nullptr && port_ != nullptr) table_->pfnClosePort(port_);
    port_ = nullptr;
    if (table_ != nullptr && monitor_ != nullptr) table_->pfnShutdown(monitor_);
    monitor_ = nullptr;
    table_ = nullptr;
}

}  // namespace kestrova::tool
