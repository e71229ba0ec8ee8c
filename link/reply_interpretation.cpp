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

// A restore empties the machine's card path: a card it finds personalised
// without error is done with and leaves the queue, once per restore, by
// whichever of the restore's replies is read first. (Read first, the
// acknowledgement moves the state to "Restoring", so the completion that
// follows finds nothing to give up.) A spoiled card, or one of a deleted
// job, is not the queue's to give up.
bool restoreGivesUpFrontCard(MachineState machineState, bool firstReply, CardInMachine& card) {
    const bool givesUp = firstReply && machineState > state::Personalizing && !card.spoiled && !card.orphaned;
    card = CardInMachine{};
    return givesUp;
}

}  // namespace

ReplyMeaning interpretReply(const LinkReply& answer, MachineState& machineState, std::int32_t& hwErrorCode,
                            CardInMachine& card) {
    switch (answer.replyCode) {
        case reply::EOT:
        case reply::ENQ:
            return {};

        case reply::ACK: {
            const MachineState started = startedState(answer.answeredCommand);
            if (started < 0) return {code::UnexpectedReply};
            ReplyMeaning meaning;
            if (answer.answeredCommand == command::Restore) {
                meaning.abandonsFrontCard = restoreGivesUpFrontCard(machineState, true, card);
                hwErrorCode = code::Success;
            } else if (answer.answeredCommand == command::Load) {
                card.spoiled = false;  // a new card
            }
            machineState = started;
            return meaning;
        }

        case reply::NAK:
            return {code::RejectBase + answer.rejectCode};

        default: {
            ReplyMeaning meaning;
            const bool failed = answer.completionCode != kCompletionSuccess;
            if (answer.answeredCommand == command::Restore) {
                // First only when its acknowledgement was lost on the line.
                meaning.abandonsFrontCard = restoreGivesUpFrontCard(machineState, card.restorePending, card);
            } else if (answer.answeredCommand == command::Personalize && failed) {
                card.spoiled = true;
            }
            const MachineState completed = completedState(answer.answeredCommand);
            if (completed >= 0) {
                machineState = completed;
            } else if (!completesWithoutState(answer.answeredCommand)) {
                meaning.result = code::UnexpectedReply;
            }
            if (failed) {
                hwErrorCode = answer.completionCode;
                meaning.result = answer.completionCode;
            }
            return meaning;
        }
    }
}

}  // namespace kestrova
