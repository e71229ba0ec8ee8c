// EndDocPort: the buffered job becomes cards, and the cards are produced one
// after another, one short cycle under portLock every 90 ms, so that control
// requests can act on the machine between two cycles.
#include "port/production_loop.h"

#include "link/machine_command.h"
#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "port/monitor_port.h"
#include "production/job_record_store.h"
#include "production/payload_texts.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <new>

namespace kestrova {

namespace {

constexpr DWORD kCyclePauseMs = 90;

// One cycle's exchanges. Everything a cycle needs is reserved before the
// first one (reserve()), so that producing a card allocates nothing: memory
// can run out only before anything of the job has reached the machine.
class CycleRunner {
public:
    explicit CycleRunner(MonitorPort& port) : port_(port) {}

    // Room for the largest card queued. The caller holds portLock.
    void reserve() {
        CardBounds largest;
        {
            std::lock_guard<std::mutex> queueGuard(port_.queueLock);
            largest = port_.jobQueue.records.bounds();
        }
        const std::size_t payloadBound = payloadTextBound(largest.items, largest.textBytes);
        port_.reserveExchanges(payloadBound);
        port_.currentRecord.reserve(largest.textBytes, largest.lines);
        setupText_.reserve(payloadBound);
        personalisationText_.reserve(payloadBound);
    }

    // A poll and, if the machine is ready for it, the step of the current
    // state. The caller holds portLock and has seen hwErrorCode at 0.
    void run() {
        if (!send(command::Poll, noPayload()) || replyCode_ != reply::ENQ) return;
        if (port_.cardInMachine.orphaned) {
            // The machine holds a card of a deleted job: nothing of this job
            // goes to the machine before a restore has taken it out.
            send(command::Restore, noPayload());
            return;
        }
        switch (port_.machineState) {
            case state::Unknown:
                send(command::Restore, noPayload());
                break;
            case state::Ready:
            case state::RestoreComplete:
                send(command::PreLoad, noPayload());
                break;
            case state::PreLoadComplete:
                loadCard();
                break;
            case state::LoadComplete:
                writeRecordSetupText(port_.currentRecord, setupText_);
                if (send(command::JobSetup, setupText_)) {
                    writePersonalisationText(port_.currentRecord, personalisationText_);
                    ++personalised_;
                    send(command::Personalize, personalisationText_);
                }
                break;
            case state::PersonalizationComplete:
                send(command::Eject, noPayload());
                break;
            case state::EjectComplete:
                finishCard();
                break;
            default:
                // Ready while an operation is in progress, or a state we do not know.
                port_.hwErrorCode = code::ReadyWhileBusy;
                break;
        }
    }

    // Whether anything of the job has gone to the machine.
    bool exchanged() const { return exchanges_ != 0; }
    // Personalize commands sent: from the first on, a card of the job may exist.
    std::size_t personalised() const { return personalised_; }

private:
    static const Bytes& noPayload() {
        static const Bytes empty;
        return empty;
    }

    // Every result becomes hwErrorCode; true when it is 0.
    bool send(std::uint8_t command, const Bytes& payload) {
        ++exchanges_;
        port_.hwErrorCode = port_.machineExchange(command, payload, replyCode_);
        return port_.hwErrorCode == code::Success;
    }

    void loadCard() {
        {
            // Into the reserved record: the copy allocates nothing.
            std::lock_guard<std::mutex> queueGuard(port_.queueLock);
            port_.jobQueue.copyFront(port_.currentRecord);
        }
        if (port_.currentRecord.items().empty()) {
            port_.hwErrorCode = code::CardWithoutItems;
            return;
        }
        send(command::Load, noPayload());
    }

    void finishCard() {
        port_.machineState = state::Ready;
        std::lock_guard<std::mutex> queueGuard(port_.queueLock);
        port_.jobQueue.popFront();
    }

    MonitorPort& port_;
    std::uint8_t replyCode_ = 0;
    Bytes setupText_;
    Bytes personalisationText_;
    std::size_t exchanges_ = 0;
    std::size_t personalised_ = 0;
};

std::size_t cardsLeft(MonitorPort& port) {
    std::lock_guard<std::mutex> queueGuard(port.queueLock);
    return port.jobQueue.size();
}

// Ends the document beneath and tells the spooler the job is done. The caller
// holds portLock.
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

constexpr WideText kDataNotStored("KestrovaLM: job not printed: its data could not be stored (out of memory)\n");
constexpr WideText kMemoryRanOut("KestrovaLM: job not printed: memory ran out before its first card\n");
constexpr WideText kProductionFailed("KestrovaLM: job not printed: production failed before its first card\n");

// A job that cannot be produced whole, and of which no card has been made,
// is not produced at all and not reported printed: its cards are dropped,
// the document beneath ends, the printer handle is given back and the
// spooler sees FALSE with the reason in the last error, so that the job can
// be printed again whole; the debugger hears why. Allocates nothing, as it
// also runs when memory has run out. The caller holds portLock.
BOOL refuseJob(MonitorPort& port, const WCHAR* why, DWORD lastError, bool stoppedHalfWay) {
    port.deleteQueuedCards();
    if (stoppedHalfWay) {
        // An exchange may have been cut short: what the machine did with
        // this job's card is not known, so the next job restores it first.
        port.cardInMachine.orphaned = true;
        port.machineState = state::Unknown;
    }
    port.jobStream.reset();
    port.portMonitor->pfnEndDocPort(port.portHandle);
    port.releasePrinter();
    port.jobInfo.clear();
    port.documentDeleted = false;
    OutputDebugStringW(why);
    SetLastError(lastError);
    return FALSE;
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

// Production failed after a card of the job may have been made. Offering
// the job again would make those cards a second time, so the job is deleted
// from the spooler's queue (not reported printed): the cards not made are
// printed again only by whoever prints them as a job of their own. The
// machine is restored before the next job (an exchange may have been cut
// short), the spooler sees FALSE with the reason, and the debugger hears how
// many cards were left. Allocates nothing. The caller holds portLock.
BOOL abandonJob(MonitorPort& port, const char* why, DWORD lastError, std::size_t cardsInJob) {
    const std::size_t ejected = cardsInJob - std::min(cardsInJob, cardsLeft(port));
    port.deleteQueuedCards();
    port.cardInMachine.orphaned = true;
    port.machineState = state::Unknown;
    port.jobStream.reset();
    port.portMonitor->pfnEndDocPort(port.portHandle);
    SetJobW(port.printerHandle, port.jobInfo.jobId, 0, nullptr, JOB_CONTROL_DELETE);
    port.releasePrinter();
    port.jobInfo.clear();
    port.documentDeleted = false;
    DebugLine line;
    line << "KestrovaLM: job deleted, not printed again: " << why << " after a card was made; " << ejected
         << " of its " << cardsInJob << " cards had been ejected\n";
    OutputDebugStringW(line.text());
    SetLastError(lastError);
    return FALSE;
}

// The spooler closed the port, or shut the monitor down, while this job was
// held up in a ReadPort beneath: nothing more goes beneath, the job is not
// reported printed, and the printer handle that ClosePort or Shutdown could
// not close is given back. The caller holds portLock.
BOOL leaveAbandonedPort(MonitorPort& port) {
    port.deleteQueuedCards();
    port.jobStream.reset();
    port.releasePrinter();
    port.jobInfo.clear();
    port.documentDeleted = false;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// Leaves no control request waiting for a cycle that will not come, however
// production ends.
class ProducingMark {
public:
    explicit ProducingMark(MonitorPort& port) : port_(port) {}
    ~ProducingMark() {
        std::lock_guard<std::mutex> portGuard(port_.portLock);
        port_.cycleDone(false);
    }
    ProducingMark(const ProducingMark&) = delete;
    ProducingMark& operator=(const ProducingMark&) = delete;

private:
    MonitorPort& port_;
};

}  // namespace

BOOL produceJob(MonitorPort& port) {
    const ProducingMark mark(port);
    CycleRunner cycle(port);
    std::size_t cardsInJob = 0;
    try {
        {
            std::lock_guard<std::mutex> portGuard(port.portLock);
            // WritePort lost some of the job's bytes: printing the rest would
            // deliver a run with cards missing, the last stored one possibly
            // cut. (A job deleted meanwhile is simply finished as deleted.)
            if (port.jobStream.failed() && !port.documentDeleted) {
                return refuseJob(port, kDataNotStored.text, ERROR_NOT_ENOUGH_MEMORY, false);
            }
        }
        {
            std::lock_guard<std::mutex> queueGuard(port.queueLock);
            splitJobStream(port.jobStream, port.jobQueue);
            cardsInJob = port.jobQueue.size();
        }
        port.jobStream.reset();
        {
            std::lock_guard<std::mutex> portGuard(port.portLock);
            cycle.reserve();
        }

        for (;;) {
            {
                std::lock_guard<std::mutex> portGuard(port.portLock);
                if (port.abandoned) return leaveAbandonedPort(port);
                // A job deleted while its data came in has just been queued.
                if (port.documentDeleted) port.deleteQueuedCards();
                // Read under portLock: a deletion between this reading and the
                // cycle would otherwise leave the step of state 5 without a card.
                if (cardsLeft(port) == 0) return finishJob(port);
                if (port.hwErrorCode == code::Success) cycle.run();
                port.cycleDone(true);
            }
            Sleep(kCyclePauseMs);
        }
    } catch (const std::bad_alloc&) {
        std::lock_guard<std::mutex> portGuard(port.portLock);
        if (cycle.personalised() != 0) {
            return abandonJob(port, "memory ran out", ERROR_NOT_ENOUGH_MEMORY, cardsInJob);
        }
        return refuseJob(port, kMemoryRanOut.text, ERROR_NOT_ENOUGH_MEMORY, cycle.exchanged());
    } catch (...) {
        std::lock_guard<std::mutex> portGuard(port.portLock);
        if (cycle.personalised() != 0) {
            return abandonJob(port, "production failed", ERROR_INTERNAL_ERROR, cardsInJob);
        }
        return refuseJob(port, kProductionFailed.text, ERROR_INTERNAL_ERROR, cycle.exchanged());
    }
}

}  // namespace kestrova
