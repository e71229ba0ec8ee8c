// How production ends a job: finished, refused before any card was made,
// deleted after one was, or left when the port was closed under it. None of
// these allocates: they also run when memory has run out.
#include "port/job_ending.h"

#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "port/monitor_port.h"

#include <algorithm>

namespace kestrova {

namespace {

constexpr WideText kDataNotStored("KestrovaLM: job not printed: its data could not be stored (out of memory)\n");
constexpr WideText kMemoryRanOut("KestrovaLM: job not printed: memory ran out before its first card\n");
constexpr WideText kProductionFailed("KestrovaLM: job not printed: production failed before its first card\n");

const WCHAR* refusalText(JobRefusal why) {
    switch (why) {
        case JobRefusal::DataNotStored: return kDataNotStored.text;
        case JobRefusal::MemoryRanOut: return kMemoryRanOut.text;
        case JobRefusal::ProductionFailed: break;
    }
    return kProductionFailed.text;
}

DWORD refusalError(JobRefusal why) {
    return why == JobRefusal::ProductionFailed ? ERROR_INTERNAL_ERROR : ERROR_NOT_ENOUGH_MEMORY;
}

// A debugger line of fixed text and numbers, made without allocating.
class DebugLine {
public:
    DebugLine& operator<<(const char* ascii) {
        while (*ascii != '\0' && used_ + 2 < kUnits) text_[used_++] = static_cast<WCHAR>(*ascii++);
        text_[used_] = 0;
        return *this;
    }
    DebugLine& operator<<(std::size_t number) {
        char digits[24];
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number != 0);
        while (count > 0 && used_ + 2 < kUnits) text_[used_++] = static_cast<WCHAR>(digits[--count]);
        text_[used_] = 0;
        return *this;
    }
    const WCHAR* text() const { return text_; }

private:
    static constexpr std::size_t kUnits = 200;
    WCHAR text_[kUnits] = {};
    std::size_t used_ = 0;
};

}  // namespace

BOOL finishJob(MonitorPort& port) {
    const BOOL ended = port.portMonitor->pfnEndDocPort(port.portHandle);
    if (ended == TRUE) {
        SetJobW(port.printerHandle, port.jobInfo.jobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
        SetJobW(port.printerHandle, port.jobInfo.jobId, 0, nullptr, JOB_CONTROL_DELETE);
        ClosePrinter(port.printerHandle);
        port.printerHandle = nullptr;
    } else {
        // The job stays in the spooler, but this document's handle is done with.
        port.releasePrinter();
    }
    port.jobInfo.clear();
    port.documentDeleted = false;
    return ended;
}

BOOL refuseJob(MonitorPort& port, JobRefusal why, bool stoppedHalfWay) {
    port.deleteQueuedCards();
    // An exchange may have been cut short: what the machine did with this
    // job's card is not known, so the next job restores it first.
    if (stoppedHalfWay) port.machine().orphanCard();
    port.intake().dropBytes();
    port.portMonitor->pfnEndDocPort(port.portHandle);
    port.releasePrinter();
    port.jobInfo.clear();
    port.documentDeleted = false;
    OutputDebugStringW(refusalText(why));
    SetLastError(refusalError(why));
    return FALSE;
}

BOOL abandonJob(MonitorPort& port, JobRefusal why, std::size_t cardsInJob) {
    const std::size_t ejected = cardsInJob - std::min(cardsInJob, port.intake().cardsLeft());
    port.deleteQueuedCards();
    port.machine().orphanCard();
    port.intake().dropBytes();
    port.portMonitor->pfnEndDocPort(port.portHandle);
    SetJobW(port.printerHandle, port.jobInfo.jobId, 0, nullptr, JOB_CONTROL_DELETE);
    port.releasePrinter();
    port.jobInfo.clear();
    port.documentDeleted = false;
    DebugLine line;
    line << "KestrovaLM: job deleted, not printed again: "
         << (why == JobRefusal::MemoryRanOut ? "memory ran out" : "production failed") << " after a card was made; "
         << ejected << " of its " << cardsInJob << " cards had been ejected\n";
    OutputDebugStringW(line.text());
    SetLastError(refusalError(why));
    return FALSE;
}

BOOL leaveAbandonedPort(MonitorPort& port) {
    port.deleteQueuedCards();
    port.intake().dropBytes();
    port.releasePrinter();
    port.jobInfo.clear();
    port.documentDeleted = false;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

}  // namespace kestrova
