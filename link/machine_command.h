// The machine's command letters, sent as a frame's code byte.
#pragma once

#include <cstdint>

namespace kestrova::command {

constexpr std::uint8_t Poll = 0x70;         // 'p'
constexpr std::uint8_t Restore = 0x21;      // '!'
constexpr std::uint8_t PreLoad = 0x6C;      // 'l'
constexpr std::uint8_t Load = 0x4C;         // 'L'
constexpr std::uint8_t JobSetup = 0x4A;     // 'J'
constexpr std::uint8_t Personalize = 0x50;  // 'P'
constexpr std::uint8_t Eject = 0x45;        // 'E'
constexpr std::uint8_t RunControl = 0x54;   // 'T'
constexpr std::uint8_t ModuleInfo = 0x77;   // 'w'

// The operations of a card's way through the machine: acknowledged at once,
// completed later by a data reply to a poll.
constexpr bool startsOperation(std::uint8_t letter) {
    return letter == Restore || letter == PreLoad || letter == Load || letter == Personalize || letter == Eject;
}

}  // namespace kestrova::command

// The one payload byte of a RunControl command.
namespace kestrova::run_control {

constexpr std::uint8_t Pause = 0x33;     // '3': what runs finishes, nothing new starts
constexpr std::uint8_t Continue = 0x34;  // '4'
constexpr std::uint8_t Step = 0x35;      // '5': one operation, then paused again

}  // namespace kestrova::run_control

namespace kestrova::reply {

constexpr std::uint8_t EOT = 0x04;
constexpr std::uint8_t ENQ = 0x05;
constexpr std::uint8_t ACK = 0x06;
constexpr std::uint8_t NAK = 0x15;
// A data reply's completion character when all went well.
constexpr std::uint8_t CompletedWithoutError = 0x30;  // '0'

}  // namespace kestrova::reply
