#include "link/reply_interpretation.h"

#include "link/machine_command.h"

namespace kestrova {

namespace {

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

ReplyMeaning interpretReply(const LinkReply& answer, MachineState& machineState) {
    switch (answer.replyCode) {
        case reply::EOT:
        case reply::ENQ:
            return {};

        case reply::ACK: {
            const MachineState started = startedState(answer.answeredCommand);
            if (started < 0) return {ExchangeOutcome::Kind::UnexpectedReply};
            machineState = started;
            return {ExchangeOutcome(), answer.answeredCommand == command::Restore};
        }

        case reply::NAK:
            return {ExchangeOutcome::rejected(answer.rejectCode)};

        default: {
            ReplyMeaning meaning;
            const MachineState completed = completedState(answer.answeredCommand);
            if (completed >= 0) {
                machineState = completed;
            } else if (!completesWithoutState(answer.answeredCommand)) {
                meaning.outcome = ExchangeOutcome::Kind::UnexpectedReply;
            }
            if (answer.completionCode != reply::CompletedWithoutError) {
                meaning.outcome = ExchangeOutcome::completedWithError(answer.completionCode);
            }
            return meaning;
        }
    }
}

}  // namespace kestrova
