// What the machine is doing, as last learnt from its replies, and the codes
// that reach callers as hwErrorCode and sw_error_code.
#pragma once

#include <cstdint>

namespace kestrova {

using MachineState = std::int32_t;

namespace state {
constexpr MachineState Unknown = 0;
constexpr MachineState Ready = 1;
constexpr MachineState Restoring = 2;
constexpr MachineState RestoreComplete = 3;
constexpr MachineState PreLoadStarted = 4;
constexpr MachineState PreLoadComplete = 5;
constexpr MachineState LoadStarted = 6;
constexpr MachineState LoadComplete = 7;
constexpr MachineState Personalizing = 8;
constexpr MachineState PersonalizationComplete = 9;
constexpr MachineState Ejecting = 10;
constexpr MachineState EjectComplete = 11;
}  // namespace state

namespace code {
constexpr std::int32_t Success = 0;
constexpr std::int32_t WriteFailed = -1;
constexpr std::int32_t NoReply = -2;
constexpr std::int32_t UnexpectedReply = -3;
constexpr std::int32_t ReadyWhileBusy = -4;
constexpr std::int32_t CardWithoutItems = -5;
constexpr std::int32_t RejectBase = 0x1500;  // + the machine's reject code
}  // namespace code

// The name a status report gives a state; empty for codes outside 0..11.
const char* machineStateName(MachineState state);

}  // namespace kestrova
