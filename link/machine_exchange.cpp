// The one place where the machine's answers become machineState and
// hwErrorCode.
#include "link/machine_command.h"
#include "monitor/monitor_port.h"

#include <mutex>
#include <utility>

namespace kestrova {

namespace {

constexpr std::uint8_t kCompletionSuccess = '0';

// The even state an acknowledgement starts; -1 for letters that start nothing.
MachineState startedState(std::uint8_t letter) {
    switch (letter) {
        case command::Restore: return state::Restoring;
        case command::PreLoad: return state::PreLoadStarted;
        case command::Load: return state::LoadStarted;
        case command::Personalize: return state::Personalizing;
        case command::Eject: return state::Ejecting;
        default: return -1;
    }
}

// The odd state a completion reaches; -1 when the letter has none.
MachineState completedState(std::uint8_t letter) {
    const MachineState started = startedState(letter);
    return started < 0 ? -1 : started + 1;
}

bool completesWithoutState(std::uint8_t letter) {
    return letter == command::JobSetup || letter == command::RunControl || letter == command::ModuleInfo;
}

}  // namespace

std::int32_t MonitorPort::machineExchange(std::uint8_t command, const Bytes& payload, std::uint8_t& replyCode,
                                          Bytes& replyPayload) {
    replyCode = 0;
    replyPayload.clear();
    LinkReply answer;
    const std::int32_t linkResult = link.exchange(command, payload, answer);
    replyCode = answer.replyCode;
    replyPayload = std::move(answer.replyPayload);
    if (linkResult != exchange_result::Ok) return linkResult;

    switch (answer.replyCode) {
        case reply::EOT:
        case reply::ENQ:
            return code::Success;

        case reply::ACK: {
            const MachineState started = startedState(answer.answeredCommand);
            if (started < 0) return code::UnexpectedReply;
            if (answer.answeredCommand == command::Restore) {
                // A restore after personalisation abandons the card at the
                // front of the queue.
                if (machineState > state::Personalizing) {
                    std::lock_guard<std::mutex> guard(queueLock);
                    if (jobQueue.size() != 0) jobQueue.popFront();
                }
                hwErrorCode = code::Success;
            }
            machineState = started;
            return code::Success;
        }

        case reply::NAK:
            return code::RejectBase + answer.rejectCode;

        default: {
            std::int32_t result = code::Success;
            const MachineState completed = completedState(answer.answeredCommand);
            if (completed >= 0) {
                machineState = completed;
            } else if (!completesWithoutState(answer.answeredCommand)) {
                result = code::UnexpectedReply;
            }
            if (answer.completionCode != kCompletionSuccess) {
                hwErrorCode = answer.completionCode;
                return answer.completionCode;
            }
            return result;
        }
    }
}

}  // namespace kestrova
