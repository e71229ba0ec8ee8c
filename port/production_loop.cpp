// EndDocPort: the buffered job becomes cards, and the cards are produced one
// after another, one short cycle under portLock every 90 ms, so that control
// requests can act on the machine between two cycles.
#include "port/production_loop.h"

#include "link/machine_command.h"
#include "platform/platform_calls.h"
#include "port/job_ending.h"
#include "port/monitor_port.h"
#include "production/job_record_store.h"
#include "production/payload_texts.h"

#include <cstddef>
#include <mutex>
#include <new>

namespace kestrova {

namespace {

constexpr DWORD kCyclePauseMs = 90;
// Restores sent to take a deleted job's card out before the job ends; a
// machine that answers none of them keeps the card, and the next job
// restores it first.
constexpr std::size_t kEmptyingTries = 3;

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

    // A restore, whatever the machine's state: it takes the card out.
    void emptyMachine() { send(command::Restore, noPayload()); }

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
                return refuseJob(port, JobRefusal::DataNotStored, false);
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

        std::size_t emptyingTries = 0;
        for (;;) {
            {
                std::lock_guard<std::mutex> portGuard(port.portLock);
                if (port.abandoned) return leaveAbandonedPort(port);
                // A job deleted while its data came in has just been queued.
                if (port.documentDeleted) port.deleteQueuedCards();
                // Read under portLock: a deletion between this reading and the
                // cycle would otherwise leave the step of state 5 without a card.
                if (cardsLeft(port) == 0) {
                    // A card of the deleted job still in the machine goes out
                    // by a restore before the job ends, halted or not: no
                    // half-made card waits in the machine for the next job.
                    if (!port.cardInMachine.orphaned || emptyingTries == kEmptyingTries) return finishJob(port);
                    ++emptyingTries;
                    cycle.emptyMachine();
                } else if (port.hwErrorCode == code::Success) {
                    cycle.run();
                }
                port.cycleDone(true);
            }
            Sleep(kCyclePauseMs);
        }
    } catch (const std::bad_alloc&) {
        std::lock_guard<std::mutex> portGuard(port.portLock);
        if (cycle.personalised() != 0) return abandonJob(port, JobRefusal::MemoryRanOut, cardsInJob);
        return refuseJob(port, JobRefusal::MemoryRanOut, cycle.exchanged());
    } catch (...) {
        std::lock_guard<std::mutex> portGuard(port.portLock);
        if (cycle.personalised() != 0) return abandonJob(port, JobRefusal::ProductionFailed, cardsInJob);
        return refuseJob(port, JobRefusal::ProductionFailed, cycle.exchanged());
    }
}

}  // namespace kestrova
