#include "control/control_request.h"

#include "control/request_document.h"
#include "control/result_document.h"
#include "control/status_report.h"
#include "link/machine_command.h"
#include "platform/platform_calls.h"
#include "port/monitor_port.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace kestrova {

namespace {

// The one payload byte RunControl carries for a command; 0 for others.
std::uint8_t runControlByte(const TreeString& command) {
    if (command == L"pause") return '3';
    if (command == L"continue") return '4';
    if (command == L"step") return '5';
    return 0;
}

std::int32_t exchange(MonitorPort& port, std::uint8_t command, const Bytes& payload) {
    std::uint8_t replyCode = 0;
    Bytes replyPayload;
    return port.machineExchange(command, payload, replyCode, replyPayload);
}

// With no document of its own the port beneath is opened for the request,
// and closed again however the request ends (running out of memory half-way
// included), so that the document calls beneath always pair up.
class RequestDocument {
public:
    explicit RequestDocument(MonitorPort& port) : port_(port) {}
    ~RequestDocument() {
        // Looks at jobInfo again rather than trusting what open() saw.
        const MONITOR2* portMonitor = port_.portMonitor;
        if (!started_ || port_.jobInfo.jobId != 0 || portMonitor->pfnEndDocPort == nullptr) return;
        portMonitor->pfnEndDocPort(port_.portHandle);
    }
    RequestDocument(const RequestDocument&) = delete;
    RequestDocument& operator=(const RequestDocument&) = delete;

    void open(ControlTree& tree) {
        const MONITOR2* portMonitor = port_.portMonitor;
        if (port_.jobInfo.jobId != 0 || portMonitor->pfnStartDocPort == nullptr) return;
        WideString printerName = port_.printerName;  // NUL-terminated copy for the call
        started_ = true;
        if (portMonitor->pfnStartDocPort(port_.portHandle, printerName.data(), 0, 0, nullptr) == FALSE) {
            putResultNumber(tree, L"start_doc_port", GetLastError());
        }
    }

private:
    MonitorPort& port_;
    bool started_ = false;
};

// Everything a handled request does under portLock; returns the error value.
std::int32_t carryOut(MonitorPort& port, const TreeString& command, ControlTree& tree) {
    if (command == L"delete_job") {
        port.deleteJob();
        return 0;
    }

    RequestDocument document(port);
    document.open(tree);

    port.link.sequence = kSequenceRestart;
    std::int32_t error = exchange(port, command::Poll, Bytes());
    if (error == 0) error = exchange(port, command::Poll, Bytes());

    if (command == L"restore") {
        error = exchange(port, command::Restore, Bytes());
    } else if (const std::uint8_t control = runControlByte(command); control != 0) {
        error = exchange(port, command::RunControl, Bytes{control});
    } else if (command == L"get_info") {
        error = writeStatusReport(port, tree);
    }
    return error;
}

}  // namespace

BOOL getPrinterDataFromPort(MonitorPort& port, DWORD controlId, LPWSTR pValueName, LPWSTR lpInBuffer,
                            DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned) {
    if (pValueName == nullptr || lpOutBuffer == nullptr || lpcbReturned == nullptr) return FALSE;
    *lpcbReturned = 0;

    std::optional<ControlTree> tree = readRequestDocument(pValueName);
    const TreeString command = tree ? requestCommand(*tree) : TreeString();
    if (command.empty()) {
        // Not ours: the port monitor beneath answers, with the caller's arguments.
        const MONITOR2* portMonitor = port.portMonitor;
        if (portMonitor->pfnGetPrinterDataFromPort == nullptr) return FALSE;
        return portMonitor->pfnGetPrinterDataFromPort(port.portHandle, controlId, pValueName, lpInBuffer,
                                                      cbInBuffer, lpOutBuffer, cbOutBuffer, lpcbReturned);
    }

    {
        // delete_job makes no exchange, so it has no reason to wait for a
        // cycle to end; while it waited, the next cycle could load another
        // card of the job it deletes. It takes the lock as soon as it is free.
        const std::unique_lock<std::mutex> guard =
            command == L"delete_job" ? std::unique_lock<std::mutex>(port.portLock) : port.lockBetweenCycles();
        const std::int32_t error = carryOut(port, command, *tree);
        putResultNumber(*tree, L"sw_error_code", error);
    }

    return deliverResultDocument(*tree, lpOutBuffer, cbOutBuffer, lpcbReturned);
}

}  // namespace kestrova
