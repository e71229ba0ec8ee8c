#include "control/control_request.h"

#include "control/request_document.h"
#include "control/result_document.h"
#include "control/status_report.h"
#include "link/machine_command.h"
#include "platform/platform_calls.h"
#include "port/monitor_port.h"

#include <cstdint>
#include <optional>

namespace kestrova {

namespace {

// The one payload byte RunControl carries for a command; 0 for others.
std::uint8_t runControlByte(const TreeString& command) {
    if (command == L"pause") return run_control::Pause;
    if (command == L"continue") return run_control::Continue;
    if (command == L"step") return run_control::Step;
    return 0;
}

ExchangeOutcome exchange(MonitorPort& port, std::uint8_t command, const Bytes& payload) REQUIRES(port.portLock) {
    return port.machine().exchange(command, payload);
}

// With no document of its own the port beneath is opened for the request,
// and closed again however the request ends (running out of memory half-way
// included), so that the document calls beneath always pair up. True when
// StartDocPort was called; `failure` is its error when it failed. Two calls
// rather than a guard object: the thread-safety analysis cannot tell that a
// guard's destructor runs under the same port's lock.
bool openRequestDocument(MonitorPort& port, std::optional<DWORD>& failure) REQUIRES(port.portLock) {
    const MONITOR2* portMonitor = port.portMonitor;
    if (port.jobInfo.jobId != 0 || port.abandoned() || portMonitor->pfnStartDocPort == nullptr) return false;
    WideString printerName = port.printerName;  // NUL-terminated copy for the call
    if (portMonitor->pfnStartDocPort(port.portHandle, printerName.data(), 0, 0, nullptr) == FALSE) {
        failure = GetLastError();
    }
    return true;
}

void closeRequestDocument(MonitorPort& port, bool started) REQUIRES(port.portLock) {
    // Looks at jobInfo again rather than trusting what the opening saw.
    const MONITOR2* portMonitor = port.portMonitor;
    // A port closed meanwhile (abandoned) has no port beneath any more.
    if (!started || port.jobInfo.jobId != 0 || port.abandoned() || portMonitor->pfnEndDocPort == nullptr) return;
    portMonitor->pfnEndDocPort(port.portHandle);
}

// The request's exchanges: two polls, then its own command.
ExchangeOutcome askMachine(MonitorPort& port, const TreeString& command, ControlTree& tree) REQUIRES(port.portLock) {
    port.machine().restartSequence();
    ExchangeOutcome error = exchange(port, command::Poll, Bytes());
    if (succeeded(error)) error = exchange(port, command::Poll, Bytes());

    if (command == L"restore") {
        error = exchange(port, command::Restore, Bytes());
    } else if (const std::uint8_t control = runControlByte(command); control != 0) {
        error = exchange(port, command::RunControl, Bytes{control});
    } else if (command == L"get_info") {
        error = writeStatusReport(port, tree);
    }
    return error;
}

// Everything a handled request does under portLock.
ExchangeOutcome carryOut(MonitorPort& port, const TreeString& command, ControlTree& tree) REQUIRES(port.portLock) {
    if (command == L"delete_job") {
        port.deleteJob();
        return {};
    }

    std::optional<DWORD> startFailure;
    const bool started = openRequestDocument(port, startFailure);
    ExchangeOutcome error;
    try {
        if (startFailure) putResultNumber(tree, L"start_doc_port", *startFailure);
        error = askMachine(port, command, tree);
    } catch (...) {
        closeRequestDocument(port, started);
        throw;
    }
    closeRequestDocument(port, started);
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
        const PortLock guard(port, command == L"delete_job" ? PortLock::When::Now : PortLock::When::BetweenCycles);
        putResultNumber(*tree, L"sw_error_code", errorCode(carryOut(port, command, *tree)));
    }

    return deliverResultDocument(*tree, lpOutBuffer, cbOutBuffer, lpcbReturned);
}

}  // namespace kestrova
