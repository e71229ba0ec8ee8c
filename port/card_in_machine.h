// What the port knows of the card in the machine beyond machineState, and
// what a reply means for that card and for the queue: whether a restore
// gives up the card at the queue's front.
#pragma once

#include "link/link_session.h"
#include "link/machine_state.h"

namespace kestrova {

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

    // Reads `reply` for the card, with the state the machine was in before
    // it. True when the card at the front of the queue is done with: a
    // restore's first reply found it personalised without error.
    bool givesUpFrontCard(const LinkReply& reply, MachineState before);
};

}  // namespace kestrova
