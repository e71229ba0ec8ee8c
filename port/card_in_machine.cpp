#include "port/card_in_machine.h"

#include "link/machine_command.h"

namespace kestrova {

bool CardInMachine::givesUpFrontCard(const LinkReply& reply, MachineState before) {
    // A restore empties the machine's card path: a card it finds personalised
    // without error is done with and leaves the queue, once per restore, by
    // whichever of the restore's replies is read first. (Read first, the
    // acknowledgement moves the state to "Restoring", so the completion that
    // follows finds nothing to give up.) A spoiled card, or one of a deleted
    // job, is not the queue's to give up.
    auto restoreGivesUp = [&](bool firstReply) {
        const bool givesUp = firstReply && before > state::Personalizing && !spoiled && !orphaned;
        *this = CardInMachine{};
        return givesUp;
    };
    switch (reply.replyCode) {
        case reply::EOT:
        case reply::ENQ:
        case reply::NAK:
            return false;
        case reply::ACK:
            // An acknowledgement of anything but an operation answers nothing.
            if (!command::startsOperation(reply.answeredCommand)) return false;
            if (reply.answeredCommand == command::Restore) return restoreGivesUp(true);
            if (reply.answeredCommand == command::Load) spoiled = false;  // a new card
            return false;
        default:
            // First only when its acknowledgement was lost on the line.
            if (reply.answeredCommand == command::Restore) return restoreGivesUp(restorePending);
            if (reply.answeredCommand == command::Personalize && reply.completionCode != reply::CompletedWithoutError) {
                spoiled = true;
            }
            return false;
    }
}

}  // namespace kestrova
