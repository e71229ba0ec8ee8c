#include "simulator/simulator_peer.h"

#include "simulator/machine_clock.h"
#include "simulator/read_timeouts.h"

#include <algorithm>

namespace kestrova::simulator {

SimulatorPeer::SimulatorPeer(MachineSimulator& machine) : line_(machine) {}

long SimulatorPeer::onWrite(const std::uint8_t* data, std::size_t size) {
    if (!writing_) exchangeStart_ = machine_clock::nowMs();
    writing_ = true;
    return static_cast<long>(line_.receive(data, size));
}

long SimulatorPeer::onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) {
    if (size == 0) return 0;
    std::uint64_t now = machine_clock::nowMs();
    const std::optional<std::uint64_t> wait = readWaitMs(timeouts, size);
    // A read that does not wait looks at what is already there: it belongs to no exchange.
    const bool waits = !wait || *wait > 0;
    struct Span {
        SimulatorPeer& peer;
        bool counts;
        ~Span() {
            if (!counts) return;
            peer.writing_ = false;
            peer.longestExchangeMs_ = std::max(peer.longestExchangeMs_, machine_clock::nowMs() - peer.exchangeStart_);
        }
    } span{*this, waits};
    const std::uint64_t deadline = wait ? now + *wait : 0;
    for (;;) {
        const std::size_t got = line_.take(buffer, size, now);
        if (got > 0) return static_cast<long>(got);
        // Nothing else can arrive in-process but reply pieces on their way,
        // so a read without a time-out ends when there are none.
        const std::optional<std::uint64_t> next = line_.nextArrivalMs();
        if (!next || (wait && *next > deadline)) {
            if (wait && deadline > now) machine_clock::waitMs(deadline - now);
            return 0;
        }
        machine_clock::waitMs(*next > now ? *next - now : 0);
        now = machine_clock::nowMs();
    }
}

}  // namespace kestrova::simulator
