// The port's one way to the machine: one exchange over its link, the reply
// read by the link's interpretation, and a card the reply abandons taken off
// the queue.
#include "link/reply_interpretation.h"
#include "port/monitor_port.h"

#include <mutex>
#include <utility>

namespace kestrova {

std::int32_t MonitorPort::machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode,
                                          Bytes& replyPayload) {
    replyCode = 0;
    replyPayload.clear();
    LinkReply answer;
    const std::int32_t linkResult = link.exchange(command, payload, answer);
    replyCode = answer.replyCode;
    replyPayload = std::move(answer.replyPayload);
    if (linkResult != exchange_result::Ok) return linkResult;

    const ReplyMeaning meaning = interpretReply(answer, machineState, hwErrorCode);
    if (meaning.abandonsFrontCard) {
        std::lock_guard<std::mutex> guard(queueLock);
        if (jobQueue.size() != 0) jobQueue.popFront();
    }
    return meaning.result;
}

}  // namespace kestrova
