// The port's one way to the machine: what already waits on the line read off
// first (each whole frame by the letter it carries), one exchange over its
// link, the reply read by the link's interpretation, and a card a reply
// abandons taken off the queue.
#include "link/frame_receiver.h"
#include "link/machine_command.h"
#include "link/reply_interpretation.h"
#include "port/monitor_port.h"

#include <mutex>

namespace kestrova {

std::int32_t MonitorPort::machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode,
                                          Bytes& replyPayload) {
    const std::int32_t result = machineExchange(command, payload, replyCode);
    replyPayload = lastReply.replyPayload;
    return result;
}

std::int32_t MonitorPort::machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode) {
    replyCode = 0;
    lastReply.clear();
    if (abandoned) return exchange_result::WriteFailed;  // the port beneath is closed, or its monitor shut down
    // A reply that came after its exchange had given up is read now, by the
    // letter it carries, before it can pass for this command's answer. ENQ
    // and EOT name no command and say nothing any more. A completion that
    // failed halts as it would have in time: the command does not go out.
    link.pauseBeforeExchange();
    const bool lineQuiet = link.readWaiting(waitingReplies_);
    std::int32_t lateFailure = code::Success;
    for (const LinkReply& late : waitingReplies_) {
        if (late.replyCode == reply::ENQ || late.replyCode == reply::EOT) continue;
        const ReplyMeaning meaning = interpretReply(late, machineState, hwErrorCode, cardInMachine);
        abandonFrontCard(meaning);
        if (meaning.result != code::Success && late.replyCode != reply::ACK && late.replyCode != reply::NAK) {
            lateFailure = meaning.result;
        }
    }
    if (lateFailure != code::Success) return lateFailure;
    // The rest of a reply given up at the bound is still coming: this one's
    // answer would come behind it. Fails as a silent machine does.
    if (!lineQuiet) return exchange_result::ReadFailed;
    // Closed while the read above was held up beneath.
    if (abandoned) return exchange_result::WriteFailed;

    // From the moment it goes out: a restore whose every reply is lost has
    // still emptied the machine, and the next reply of a restore decides.
    if (command == command::Restore) cardInMachine.restorePending = true;
    const std::int32_t linkResult = link.exchange(command, payload, lastReply, LinkSession::Pause::Taken);
    replyCode = lastReply.replyCode;
    if (linkResult != exchange_result::Ok) return linkResult;

    const ReplyMeaning meaning = interpretReply(lastReply, machineState, hwErrorCode, cardInMachine);
    abandonFrontCard(meaning);
    return meaning.result;
}

void MonitorPort::reserveExchanges(std::size_t largestPayload) {
    link.reserve(largestPayload);
    lastReply.replyPayload.reserve(FrameReceiver::kCapacity);
}

void MonitorPort::abandonFrontCard(const ReplyMeaning& meaning) {
    if (!meaning.abandonsFrontCard) return;
    std::lock_guard<std::mutex> guard(queueLock);
    if (jobQueue.size() != 0) jobQueue.popFront();
}

void MonitorPort::deleteQueuedCards() {
    {
        std::lock_guard<std::mutex> guard(queueLock);
        jobQueue.clearRecords();
    }
    // A card fed, loaded or on its way through the machine was one of them:
    // no later job may personalise it, eject it as its own or lose a card to
    // it, so the machine is restored before the job ends.
    if (machineState >= state::PreLoadStarted && machineState <= state::EjectComplete) {
        cardInMachine.orphaned = true;
        machineState = state::Unknown;
    }
}

void MonitorPort::deleteJob() {
    deleteQueuedCards();
    // During intake the queue is still empty: the mark keeps EndDocPort from
    // producing the cards its data holds.
    if (jobInfo.jobId != 0) documentDeleted = true;
}

}  // namespace kestrova
