// How long a port read waits for its first byte under a COMMTIMEOUTS record,
// as a serial port does: with ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier both MAXDWORD it returns as soon as a byte is
// there, else after ReadTotalTimeoutConstant with nothing.
#pragma once

#include "platform/windows_types.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrova::simulator {

// nullopt: no total time-out, the read waits until a byte comes.
std::optional<std::uint64_t> readWaitMs(const COMMTIMEOUTS& timeouts, std::size_t size);

}  // namespace kestrova::simulator
