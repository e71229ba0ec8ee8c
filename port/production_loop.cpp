// EndDocPort: the buffered job becomes cards, and the cards are produced one
// after another, one short cycle under portLock every 90 ms, so that control
// requests can act on the machine between two cycles.
#include "port/production_loop.h"

#include "link/machine_command.h"
#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "port/monitor_port.h"
#include "production/payload_texts.h"

#include <cstddef>
#include <mutex>
#include <new>

namespace kestrova {

namespace {

constexpr DWORD kCyclePauseMs = 90;

// One cycle's exchanges, with the reply scratch reused from cycle to cycle.
class CycleRunner {
public:
    explicit CycleRunner(MonitorPort& port) : port_(port) {}

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
                if (send(command::JobSetup, recordSetupText(port_.currentRecord))) {
                    send(command::Personalize, personalisationText(port_.currentRecord));
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

private:
    static const Bytes& noPayload() {
        static const Bytes empty;
        return empty;
    }

    // Every result becomes hwErrorCode; true when it is 0.
    bool send(std::uint8_t command, const Bytes& payload) {
        port_.hwErrorCode = port_.machineExchange(command, payload, replyCode_, replyPayload_);
        return port_.hwErrorCode == code::Success;
    }

    void loadCard() {
        {
            // The queue may have been emptied since the cycle read its size.
            std::lock_guard<std::mutex> queueGuard(port_.queueLock);
            port_.currentRecord = port_.jobQueue.size() != 0 ? port_.jobQueue.front() : JobRecord();
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
    Bytes replyPayload_;
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
constexpr WideText kMemoryRanOut("KestrovaLM: job not printed: memory ran out while it was produced\n");
constexpr WideText kProductionFailed("KestrovaLM: job not printed: production failed\n");

// A job that cannot be produced whole is not produced at all and not
// reported printed: its cards are dropped (a card of it in the machine is
// restored away before the next job's), the document beneath ends, the
// printer handle is given back and the spooler sees FALSE with the reason in
// the last error; the debugger hears why. Allocates nothing, as it also runs
// when memory has run out. The caller holds portLock.
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
        }
        port.jobStream.reset();

        CycleRunner cycle(port);
        for (;;) {
            {
                std::lock_guard<std::mutex> portGuard(port.portLock);
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
        return refuseJob(port, kMemoryRanOut.text, ERROR_NOT_ENOUGH_MEMORY, true);
    } catch (...) {
        std::lock_guard<std::mutex> portGuard(port.portLock);
        return refuseJob(port, kProductionFailed.text, ERROR_INTERNAL_ERROR, true);
    }
}

}  // namespace kestrova
