// The port's one way to the machine: one exchange over its link, the reply
// read by the link's interpretation, and a card the reply abandons taken off
// the queue.
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
    if (abandoned) {
        // The port beneath is closed, or its monitor shut down.
        lastReply.clear();
        replyCode = 0;
        return exchange_result::WriteFailed;
    }
    // From the moment it goes out: a restore whose every reply is lost has
    // still emptied the machine, and the next reply of a restore decides.
    if (command == command::Restore) cardInMachine.restorePending = true;
    const std::int32_t linkResult = link.exchange(command, payload, lastReply);
    replyCode = lastReply.replyCode;
    if (linkResult != exchange_result::Ok) return linkResult;

    const ReplyMeaning meaning = interpretReply(lastReply, machineState, hwErrorCode, cardInMachine);
    if (meaning.abandonsFrontCard) {
        std::lock_guard<std::mutex> guard(queueLock);
        if (jobQueue.size() != 0) jobQueue.popFront();
    }
    return meaning.result;
}

void MonitorPort::reserveExchanges(std::size_t largestPayload) {
    link.reserve(largestPayload);
    lastReply.replyPayload.reserve(FrameReceiver::kCapacity);
}

void MonitorPort::deleteQueuedCards() {
    {
        std::lock_guard<std::mutex> guard(queueLock);
        jobQueue.clearRecords();
    }
    // A card loaded or on its way through the machine was one of them: no
    // later job may personalise it, eject it as its own or lose a card to
    // it, so the machine is restored before the next card.
    if (machineState >= state::LoadStarted && machineState <= state::EjectComplete) {
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
