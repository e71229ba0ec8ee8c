// The simulated machine's own codes: the reject codes of its NAK replies and
// the completion characters it reports. The monitor passes them on without
// meaning; these are what the simulator chooses to say.
#pragma once

#include "link/machine_command.h"

#include <cstdint>

namespace kestrova::simulator {

namespace reject {
constexpr std::uint8_t Busy = 1;          // an operation is still running
constexpr std::uint8_t NotRestored = 2;   // the machine has not been restored since power-on
constexpr std::uint8_t WrongStep = 3;     // the card is not where the command needs it
constexpr std::uint8_t BadPayload = 4;    // the command's text does not read
constexpr std::uint8_t UnknownCommand = 5;
constexpr std::uint8_t BadFrame = 6;      // check byte or stuffing wrong
constexpr std::uint8_t Jammed = 9;        // a card is stuck; only a restore helps
}  // namespace reject

namespace completion {
constexpr std::uint8_t Success = reply::CompletedWithoutError;
constexpr std::uint8_t Jam = '7';
}  // namespace completion

}  // namespace kestrova::simulator
