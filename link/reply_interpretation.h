// What the machine's replies mean for the machine: the one place where an
// answer becomes the next machineState and the exchange's outcome. It knows
// nothing of ports, cards or queues (port/card_in_machine.h reads the same
// reply for the card).
#pragma once

#include "link/exchange_outcome.h"
#include "link/link_session.h"
#include "link/machine_state.h"

namespace kestrova {

struct ReplyMeaning {
    ExchangeOutcome outcome;
    // An acknowledged restore: whatever halted the machine is over. (A
    // completion with an error halts it; that is its outcome.)
    bool clearsHalt = false;
};

// Reads one reply the link received, moving the machine's state on as the
// reply says.
ReplyMeaning interpretReply(const LinkReply& reply, MachineState& machineState);

}  // namespace kestrova
