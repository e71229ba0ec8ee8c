// How long a port read that finds nothing waits under a COMMTIMEOUTS record,
// by Windows' rules for a serial port, for everything that plays the far end
// of a port:
// - ReadIntervalTimeout MAXDWORD with both totals 0: at once, with what is there;
// - ReadIntervalTimeout and ReadTotalTimeoutMultiplier MAXDWORD and a
//   ReadTotalTimeoutConstant above 0 and below MAXDWORD: as soon as a byte is
//   there, else after the constant;
// - otherwise the total, multiplier times the bytes asked for plus the
//   constant; both 0 means no total time-out, and the interval time-out runs
//   only from a first byte, so an empty line waits for ever.
#pragma once

#include "platform/windows_types.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrova {

// nullopt: the read waits until a byte comes.
inline std::optional<std::uint64_t> readWaitMs(const COMMTIMEOUTS& timeouts, std::size_t size) {
    const DWORD interval = timeouts.ReadIntervalTimeout;
    const DWORD multiplier = timeouts.ReadTotalTimeoutMultiplier;
    const DWORD constant = timeouts.ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) return 0;
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant > 0 && constant < MAXDWORD) return constant;
    if (multiplier == 0 && constant == 0) return std::nullopt;
    return static_cast<std::uint64_t>(multiplier) * size + constant;
}

}  // namespace kestrova
