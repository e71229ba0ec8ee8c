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
    // Room for the largest card queued.
    void reserve(MonitorPort& port) REQUIRES(port.portLock) {
        const CardBounds largest = port.intake().largestCard();
        const std::size_t payloadBound = payloadTextBound(largest.items, largest.textBytes);
        port.machine().reserve(payloadBound);
        port.currentRecord.reserve(largest.textBytes, largest.lines);
        setupText_.reserve(payloadBound);
        personalisationText_.reserve(payloadBound);
    }

    // A poll and, if the machine is ready for it, the step of the current
    // state. The caller has seen the machine not halted.
    void run(MonitorPort& port) REQUIRES(port.portLock) {
        MachineSession& machine = port.machine();
        if (!send(port, command::Poll, noPayload()) || machine.lastReply().replyCode != reply::ENQ) return;
        if (machine.holdsOrphan()) {
            // The machine holds a card of a deleted job: nothing of this job
            // goes to the machine before a restore has taken it out.
            send(port, command::Restore, noPayload());
            return;
        }
        switch (machine.state()) {
            case state::Unknown:
                send(port, command::Restore, noPayload());
                break;
            case state::Ready:
            case state::RestoreComplete:
                send(port, command::PreLoad, noPayload());
                break;
            case state::PreLoadComplete:
                loadCard(port);
                break;
            case state::LoadComplete:
                writeRecordSetupText(port.currentRecord, setupText_);
                if (send(port, command::JobSetup, setupText_)) {
                    writePersonalisationText(port.currentRecord, personalisationText_);
                    ++personalised_;
                    send(port, command::Personalize, personalisationText_);
                }
                break;
            case state::PersonalizationComplete:
                send(port, command::Eject, noPayload());
                break;
            case state::EjectComplete:
                finishCard(port);
                break;
            default:
                // Ready while an operation is in progress, or a state we do not know.
                machine.recordOutcome(ExchangeOutcome::Kind::ReadyWhileBusy);
                break;
        }
    }

    // A restore, whatever the machine's state: it takes the card out.
    void emptyMachine(MonitorPort& port) REQUIRES(port.portLock) { send(port, command::Restore, noPayload()); }

    // Whether anything of the job has gone to the machine.
    bool exchanged() const { return exchanges_ != 0; }
    // Personalize commands sent: from the first on, a card of the job may exist.
    std::size_t personalised() const { return personalised_; }

private:
    static const Bytes& noPayload() {
        static const Bytes empty;
        return empty;
    }

    // Every outcome halts production or lets it go on; true when it goes on.
    bool send(MonitorPort& port, std::uint8_t command, const Bytes& payload) REQUIRES(port.portLock) {
        ++exchanges_;
        MachineSession& machine = port.machine();
        machine.recordOutcome(machine.exchange(command, payload));
        return !machine.halted();
    }

    void loadCard(MonitorPort& port) REQUIRES(port.portLock) {
        port.intake().copyFrontCard(port.currentRecord);
        if (port.currentRecord.items().empty()) {
            port.machine().recordOutcome(ExchangeOutcome::Kind::CardWithoutItems);
            return;
        }
        send(port, command::Load, noPayload());
    }

    static void finishCard(MonitorPort& port) REQUIRES(port.portLock) {
        port.machine().cardEjected();
        port.intake().dropFrontCard();
    }

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
        const PortLock guard(port_);
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
    CycleRunner cycle;
    std::size_t cardsInJob = 0;
    try {
        {
            const PortLock guard(port);
            // WritePort lost some of the job's bytes: printing the rest would
            // deliver a run with cards missing, the last stored one possibly
            // cut. (A job deleted meanwhile is simply finished as deleted.)
            if (port.intake().lostBytes() && !port.documentDeleted) {
                return refuseJob(port, JobRefusal::DataNotStored, false);
            }
        }
        cardsInJob = port.intake().queueCards();
        port.intake().dropBytes();
        {
            const PortLock guard(port);
            cycle.reserve(port);
        }

        std::size_t emptyingTries = 0;
        for (;;) {
            {
                const PortLock guard(port);
                if (port.abandoned()) return leaveAbandonedPort(port);
                // A job deleted while its data came in has just been queued.
                if (port.documentDeleted) port.deleteQueuedCards();
                // Read under portLock: a deletion between this reading and the
                // cycle would otherwise leave the step of state 5 without a card.
                if (port.intake().cardsLeft() == 0) {
                    // A card of the deleted job still in the machine goes out
                    // by a restore before the job ends, halted or not: no
                    // half-made card waits in the machine for the next job.
                    if (!port.machine().holdsOrphan() || emptyingTries == kEmptyingTries) return finishJob(port);
                    ++emptyingTries;
                    cycle.emptyMachine(port);
                } else if (!port.machine().halted()) {
                    cycle.run(port);
                }
                port.cycleDone(true);
            }
            port.clock.pause(kCyclePauseMs);
        }
    } catch (const std::bad_alloc&) {
        const PortLock guard(port);
        if (cycle.personalised() != 0) return abandonJob(port, JobRefusal::MemoryRanOut, cardsInJob);
        return refuseJob(port, JobRefusal::MemoryRanOut, cycle.exchanged());
    } catch (...) {
        const PortLock guard(port);
        if (cycle.personalised() != 0) return abandonJob(port, JobRefusal::ProductionFailed, cardsInJob);
        return refuseJob(port, JobRefusal::ProductionFailed, cycle.exchanged());
    }
}

}  // namespace kestrova
