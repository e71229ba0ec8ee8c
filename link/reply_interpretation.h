// What the machine's replies mean: the one place where an answer becomes the
// next machineState and hwErrorCode. It knows nothing of ports or cards; a
// reply that abandons the card in production says so in its meaning.
#pragma once

#include "link/link_session.h"
#include "link/machine_state.h"

#include <cstdint>

namespace kestrova {

struct ReplyMeaning {
    // What the exchange returns: 0, or one of the hwErrorCode values.
    std::int32_t result = code::Success;
    // A restore acknowledged after personalisation: the card at the front of
    // the queue is given up.
    bool abandonsFrontCard = false;
};

// Reads one reply the link received, updating the machine's state and error
// code as the reply says.
ReplyMeaning interpretReply(const LinkReply& reply, MachineState& machineState, std::int32_t& hwErrorCode);

}  // namespace kestrova
