// What the machine's replies mean: the one place where an answer becomes the
// next machineState and hwErrorCode. It knows nothing of ports or cards; a
// reply that abandons the card in production says so in its meaning.
#pragma once

#include "link/link_session.h"
#include "link/machine_state.h"

#include <cstdint>

namespace kestrova {

// What the port remembers of the card in the machine beyond machineState;
// it decides whether a restore gives that card up.
struct CardInMachine {
    // A Restore went out and none of its replies has been read yet: a
    // completion read now is the first (its acknowledgement was lost) and
    // decides about the card.
    bool restorePending = false;
    // The card's personalisation completed with an error: it is spoiled, not
    // finished, and is produced again after the restore.
    bool spoiled = false;
    // The card belongs to no queued job (its job was deleted while the
    // machine held it): the machine is restored before the next card, and
    // that restore gives up nothing of the queue.
    bool orphaned = false;
};

struct ReplyMeaning {
    // What the exchange returns: 0, or one of the hwErrorCode values.
    std::int32_t result = code::Success;
    // A restore that found a finished card after personalisation: the card
    // at the front of the queue is done with.
    bool abandonsFrontCard = false;
};

// Reads one reply the link received, updating the machine's state, error
// code and what is known of its card as the reply says.
ReplyMeaning interpretReply(const LinkReply& reply, MachineState& machineState, std::int32_t& hwErrorCode,
                            CardInMachine& card);

}  // namespace kestrova
