#include "simulator/simulator_peer.h"

#include "platform/comm_timeouts.h"
#include "simulator/machine_clock.h"

#include <algorithm>

namespace kestrova::simulator {

SimulatorPeer::SimulatorPeer(MachineSimulator& machine) : line_(machine) {}

void SimulatorPeer::noteUse(std::uint64_t start, std::uint64_t end) {
    if (start != lastUseEnd_) exchangeStart_ = start;
    lastUseEnd_ = end;
    longestExchangeMs_ = std::max(longestExchangeMs_, end - exchangeStart_);
}

long SimulatorPeer::onWrite(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t now = machine_clock::nowMs();
    noteUse(now, now);
    return static_cast<long>(line_.receive(data, size));
}

long SimulatorPeer::onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) {
    if (size == 0) return 0;
    std::uint64_t now = machine_clock::nowMs();
    const std::optional<std::uint64_t> wait = readWaitMs(timeouts, size);
    struct Use {
        SimulatorPeer& peer;
        std::uint64_t start;
        ~Use() { peer.noteUse(start, machine_clock::nowMs()); }
    } use{*this, now};
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
