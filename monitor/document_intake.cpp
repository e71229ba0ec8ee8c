#include "monitor/document_intake.h"

#include "platform/platform_calls.h"
#include "port/monitor_port.h"
#include "production/configuration.h"

#include <utility>

namespace kestrova {

namespace {

// The identity the document will carry if it starts. Built before anything is
// opened, so that running out of memory here leaves nothing open behind.
JobInfo documentIdentity(LPWSTR pPrinterName, DWORD jobId, DWORD level, LPBYTE pDocInfo) {
    JobInfo info;
    info.jobPrinterName = wideFrom(pPrinterName);
    info.jobId = jobId;
    info.level = level;
    if (pDocInfo == nullptr) return info;
    if (level == 1) {
        const auto* doc = reinterpret_cast<const DOC_INFO_1W*>(pDocInfo);
        info.docInfo.docName = wideFrom(doc->pDocName);
        info.docInfo.outputFile = wideFrom(doc->pOutputFile);
        info.docInfo.datatype = wideFrom(doc->pDatatype);
    } else if (level == 2) {
        const auto* doc = reinterpret_cast<const DOC_INFO_2W*>(pDocInfo);
        info.docInfo.docName = wideFrom(doc->pDocName);
        info.docInfo.outputFile = wideFrom(doc->pOutputFile);
        info.docInfo.datatype = wideFrom(doc->pDatatype);
        info.docInfo.mode = doc->dwMode;
        info.docInfo.docJobId = doc->JobId;
    }
    return info;
}

}  // namespace

BOOL startDocPort(MonitorPort& port, LPWSTR pPrinterName, DWORD jobId, DWORD level, LPBYTE pDocInfo) {
    const PortLock guard(port);
    // All that needs memory comes first, while nothing is opened or changed:
    // running out of it leaves the port exactly as it was.
    JobInfo started = documentIdentity(pPrinterName, jobId, level, pDocInfo);
    CoordinateRuleSet rules = readConfiguration();

    port.jobInfo.clear();
    port.documentDeleted = false;
    // A document started again without an EndDocPort still holds the
    // previous handle; the field is about to be overwritten.
    port.releasePrinter();
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    // The spooler asks GetLastError why a document did not start: what
    // follows a failure (closing, the debugger text) must not overwrite the
    // reason.
    DWORD failure = ERROR_SUCCESS;
    BOOL result = OpenPrinterW(pPrinterName, &port.printerHandle, &defaults);
    if (result == TRUE) {
        result = port.portMonitor->pfnStartDocPort(port.portHandle, pPrinterName, jobId, level, pDocInfo);
        if (result == TRUE) {
            port.jobInfo = std::move(started);
        } else {
            failure = GetLastError();
            // No document will end, so nothing else would close it.
            port.releasePrinter();
        }
    } else {
        failure = GetLastError();
        port.printerHandle = nullptr;
    }

    port.intake().startDocument(std::move(rules));
    port.machine().restartSequence();
    if (result != TRUE) SetLastError(failure);
    return result;
}

BOOL writePort(MonitorPort& port, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    if (pcbWritten != nullptr) *pcbWritten = 0;
    if (pBuffer == nullptr && cbBuf != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (cbBuf != 0 && !port.intake().append(pBuffer, cbBuf)) {
        // The stream has lost bytes: it stays failed until the next document
        // starts, so that no later write can patch over the hole.
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (pcbWritten != nullptr) *pcbWritten = cbBuf;
    return TRUE;
}

}  // namespace kestrova
