// A port's conversation with its machine: the link, what the machine is
// doing as last learnt, whatever halted it, and the card inside it. Every
// exchange goes through here, so that the replies waiting on the line are
// read first and each reply is read once for the machine and once for the
// card. The port guards all of it with portLock (MonitorPort::machine()).
#pragma once

#include "link/bytes.h"
#include "link/exchange_outcome.h"
#include "link/link_session.h"
#include "link/machine_state.h"
#include "link/reply_interpretation.h"
#include "platform/module_clock.h"
#include "platform/spooler_monitor.h"
#include "port/card_in_machine.h"
#include "port/job_intake.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrova {

class MachineSession {
public:
    // `portClosed`: the port beneath is closed, or its monitor shut down;
    // nothing more goes out. `intake`: where a card a reply gives up leaves.
    // The link waits and measures on `clock`.
    MachineSession(const MONITOR2* portMonitor, HANDLE portHandle, const std::atomic<bool>& portClosed,
                   JobIntake& intake, const ModuleClock& clock);

    // One command to the machine, the replies found waiting read first. The
    // reply is in lastReply() until the next exchange. Allocates nothing
    // once reserve() has made room.
    ExchangeOutcome exchange(std::uint8_t command, const Bytes& payload);
    const LinkReply& lastReply() const { return lastReply_; }
    // Room for commands with payloads of up to `largestPayload` bytes and any reply.
    void reserve(std::size_t largestPayload);
    // A document or a control request numbers its frames from the start.
    void restartSequence() { link_.sequence = kSequenceRestart; }

    MachineState state() const { return state_; }
    // What halted production (0: nothing), as get_info shows it.
    std::int32_t hwErrorCode() const { return errorCode(halt_); }
    bool halted() const { return !succeeded(halt_); }
    // Production's reading of each exchange and step: the outcome halts it,
    // or lets it go on.
    void recordOutcome(ExchangeOutcome outcome) { halt_ = outcome; }

    // The card ejected is done with: the machine is ready for the next.
    void cardEjected() { state_ = state::Ready; }
    // Whether the machine may hold a card of no queued job.
    bool holdsOrphan() const { return card_.orphaned; }
    // What the machine did with the card is not known, or the card belongs to
    // no job any more: it is restored before the next card.
    void orphanCard();
    // The queue's cards are gone: a card fed, loaded or on its way through
    // the machine was one of them, and no later job may take it as its own.
    void orphanCardInPath();

    // What the port takes the machine to be, as after the replies that led
    // there: for starting a test or a measurement from a given step.
    void presume(MachineState state, ExchangeOutcome halt, CardInMachine card = {});
    const CardInMachine& card() const { return card_; }
    const LinkSession& link() const { return link_; }

private:
    // Reads one reply for the machine and for the card; a card it gives up
    // leaves the queue.
    ReplyMeaning read(const LinkReply& reply);

    const std::atomic<bool>& portClosed_;
    JobIntake& intake_;
    LinkSession link_;
    MachineState state_ = state::Unknown;
    ExchangeOutcome halt_;
    CardInMachine card_;
    // The last reply, its storage reused from exchange to exchange.
    LinkReply lastReply_;
    // Scratch for the replies found waiting before an exchange.
    std::vector<LinkReply> waitingReplies_;
};

}  // namespace kestrova
