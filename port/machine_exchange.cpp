// The port's one way to the machine: one exchange over its link, the reply
// read by the link's interpretation, and a card the reply abandons taken off
// the queue.
#include "link/machine_command.h"
#include "link/reply_interpretation.h"
#include "port/monitor_port.h"

#include <mutex>
#include <utility>

namespace kestrova {

std::int32_t MonitorPort::machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode,
                                          Bytes& replyPayload) {
    replyCode = 0;
    replyPayload.clear();
    // From the moment it goes out: a restore whose every reply is lost has
    // still emptied the machine, and the next reply of a restore decides.
    if (command == command::Restore) cardInMachine.restorePending = true;
    LinkReply answer;
    const std::int32_t linkResult = link.exchange(command, payload, answer);
    replyCode = answer.replyCode;
    replyPayload = std::move(answer.replyPayload);
    if (linkResult != exchange_result::Ok) return linkResult;

    const ReplyMeaning meaning = interpretReply(answer, machineState, hwErrorCode, cardInMachine);
    if (meaning.abandonsFrontCard) {
        std::lock_guard<std::mutex> guard(queueLock);
        if (jobQueue.size() != 0) jobQueue.popFront();
    }
    return meaning.result;
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
