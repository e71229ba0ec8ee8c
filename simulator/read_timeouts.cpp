#include "simulator/read_timeouts.h"

namespace kestrova::simulator {

std::optional<std::uint64_t> readWaitMs(const COMMTIMEOUTS& timeouts, std::size_t size) {
    if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts.ReadTotalTimeoutConstant != MAXDWORD) {
        return timeouts.ReadTotalTimeoutConstant;
    }
    if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 &&
        timeouts.ReadTotalTimeoutConstant == 0) {
        return 0;  // returns at once with what is there
    }
    const std::uint64_t total =
        static_cast<std::uint64_t>(timeouts.ReadTotalTimeoutMultiplier) * size + timeouts.ReadTotalTimeoutConstant;
    if (total == 0) return std::nullopt;
    return total;
}

}  // namespace kestrova::simulator
