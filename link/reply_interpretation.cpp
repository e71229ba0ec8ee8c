#include "link/reply_interpretation.h"

#include "link/machine_command.h"

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

ReplyMeaning interpretReply(const LinkReply& answer, MachineState& machineState, std::int32_t& hwErrorCode) {
    switch (answer.replyCode) {
        case reply::EOT:
        case reply::ENQ:
            return {};

        case reply::ACK: {
            const MachineState started = startedState(answer.answeredCommand);
            if (started < 0) return {code::UnexpectedReply};
            ReplyMeaning meaning;
            if (answer.answeredCommand == command::Restore) {
                // A restore after personalisation abandons the card at the
                // front of the queue.
                meaning.abandonsFrontCard = machineState > state::Personalizing;
                hwErrorCode = code::Success;
            }
            machineState = started;
            return meaning;
        }

        case reply::NAK:
            return {code::RejectBase + answer.rejectCode};

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
                return {answer.completionCode};
            }
            return {result};
        }
    }
}

}  // namespace kestrova
