// The clock the simulated machine's durations run on: the platform clock, so
// that on the virtual clock a whole job passes in moments. Waiting on the
// virtual clock moves it on instead of sleeping.
#pragma once

#include <cstdint>

namespace kestrova::simulator::machine_clock {

std::uint64_t nowMs();
bool isVirtual();
// Lets `ms` pass: sleeps on the real clock, advances the virtual one.
void waitMs(std::uint64_t ms);

}  // namespace kestrova::simulator::machine_clock
