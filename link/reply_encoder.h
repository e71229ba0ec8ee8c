// The machine's replies as it writes them, for everything that plays the
// machine (the scripted machine, the simulator, the tests). Each repeats the
// address and sequence of the request it answers; the bytes right after the
// code (the answered letter, the reject code, the completion code) go out
// raw, and a data reply's payload stuffed.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"

#include <cstdint>

namespace kestrova {

// EOT: busy.
Bytes encodeEot(const MachineAddress& address, std::uint8_t sequence);
// ENQ: ready.
Bytes encodeEnq(const MachineAddress& address, std::uint8_t sequence);
// ACK: the operation `letter` has started.
Bytes encodeAck(const MachineAddress& address, std::uint8_t sequence, std::uint8_t letter);
// NAK: the command `letter` is refused with `rejectCode`.
Bytes encodeNak(const MachineAddress& address, std::uint8_t sequence, std::uint8_t letter, std::uint8_t rejectCode);
// A data reply: the command `letter` has finished with `completionCode`.
Bytes encodeData(const MachineAddress& address, std::uint8_t sequence, std::uint8_t letter,
                 std::uint8_t completionCode, const Bytes& payload = {});

}  // namespace kestrova
