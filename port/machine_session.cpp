// The port's one way to the machine: what already waits on the line read off
// first (each whole frame by the letter it carries), one exchange over the
// link, and each reply read for the machine and for the card.
#include "port/machine_session.h"

#include "link/frame_receiver.h"
#include "link/machine_command.h"
#include "link/reply_interpretation.h"

namespace kestrova {

MachineSession::MachineSession(const MONITOR2* portMonitor, HANDLE portHandle, const std::atomic<bool>& portClosed,
                               JobIntake& intake, const ModuleClock& clock)
    : portClosed_(portClosed), intake_(intake), link_(portMonitor, portHandle, clock) {}

ReplyMeaning MachineSession::read(const LinkReply& reply) {
    if (card_.givesUpFrontCard(reply, state_)) intake_.dropFrontCard();
    const ReplyMeaning meaning = interpretReply(reply, state_);
    if (meaning.clearsHalt) halt_ = ExchangeOutcome();
    if (meaning.outcome.kind() == ExchangeOutcome::Kind::CompletedWithError) halt_ = meaning.outcome;
    return meaning;
}

ExchangeOutcome MachineSession::exchange(std::uint8_t command, const Bytes& payload) {
    lastReply_.clear();
    if (portClosed_) return ExchangeOutcome::Kind::WriteFailed;
    // A reply that came after its exchange had given up is read now, by the
    // letter it carries, before it can pass for this command's answer. ENQ
    // and EOT name no command and say nothing any more. A completion that
    // failed halts as it would have in time: the command does not go out.
    link_.pauseBeforeExchange();
    const bool lineQuiet = link_.readWaiting(waitingReplies_);
    ExchangeOutcome lateFailure;
    for (const LinkReply& late : waitingReplies_) {
        if (late.replyCode == reply::ENQ || late.replyCode == reply::EOT) continue;
        const ReplyMeaning meaning = read(late);
        if (!succeeded(meaning.outcome) && late.replyCode != reply::ACK && late.replyCode != reply::NAK) {
            lateFailure = meaning.outcome;
        }
    }
    if (!succeeded(lateFailure)) return lateFailure;
    // The rest of a reply given up at the bound is still coming: this one's
    // answer would come behind it. Fails as a silent machine does.
    if (!lineQuiet) return ExchangeOutcome::Kind::NoReply;
    // Closed while the read above was held up beneath.
    if (portClosed_) return ExchangeOutcome::Kind::WriteFailed;

    // From the moment it goes out: a restore whose every reply is lost has
    // still emptied the machine, and the next reply of a restore decides.
    if (command == command::Restore) card_.restorePending = true;
    const ExchangeOutcome sent = link_.exchange(command, payload, lastReply_, LinkSession::Pause::Taken);
    if (sent != ExchangeOutcome()) return sent;
    return read(lastReply_).outcome;
}

void MachineSession::reserve(std::size_t largestPayload) {
    link_.reserve(largestPayload);
    lastReply_.replyPayload.reserve(FrameReceiver::kCapacity);
}

void MachineSession::orphanCard() {
    card_.orphaned = true;
    state_ = state::Unknown;
}

void MachineSession::orphanCardInPath() {
    if (state_ >= state::PreLoadStarted && state_ <= state::EjectComplete) orphanCard();
}

void MachineSession::presume(MachineState state, ExchangeOutcome halt, CardInMachine card) {
    state_ = state;
    halt_ = halt;
    card_ = card;
}

}  // namespace kestrova
