// One framed link message: STX, address, sequence, code, byte-stuffed
// payload, ETX and an XOR check byte. The codec does no I/O.
#pragma once

#include "link/bytes.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrova {

namespace frame_byte {
constexpr std::uint8_t SOH = 0x01;
constexpr std::uint8_t STX = 0x02;
constexpr std::uint8_t ETX = 0x03;
}  // namespace frame_byte

using MachineAddress = std::array<std::uint8_t, 4>;

// EOT, ENQ, ACK and NAK replies carry fixed bytes; every other code is a
// data reply, which needs at least 10 bytes.
constexpr bool isFixedReply(std::uint8_t code) { return code == 4 || code == 5 || code == 6 || code == 21; }

struct LinkFrame {
    MachineAddress address{};
    std::uint8_t sequence = 0;
    std::uint8_t command = 0;
    Bytes payload;
    std::uint8_t answeredCommand = 0;
    std::uint8_t rejectCode = 0;
    std::uint8_t completionCode = 0;

    void clear();
};

// Decode results: 0 a frame; the negatives all mean "not (yet) a frame".
namespace decode_result {
constexpr int Frame = 0;
constexpr int TooShort = -1;
constexpr int NoEtx = -2;
constexpr int CheckMismatch = -3;
}  // namespace decode_result

// A request: the payload stuffed right after the code.
Bytes encode(const LinkFrame& frame);
// The same into `out`, which is emptied first and keeps its storage: nothing
// is allocated when it already has room for 9 bytes and twice the payload.
void encodeInto(const LinkFrame& frame, Bytes& out);
Bytes encodeRequest(const MachineAddress& address, std::uint8_t sequence, std::uint8_t command,
                    const Bytes& payload = {});

// A frame whose bytes right after the code go out raw (a reply's answered
// letter, reject code or completion code), ahead of the stuffed payload.
Bytes encodeWithFixedBytes(const MachineAddress& address, std::uint8_t sequence, std::uint8_t code,
                           const Bytes& fixedBytes, const Bytes& payload);

// Decodes the bytes received so far (from the reply's first byte on).
// Clears the record first, so a negative result leaves it cleared.
int decode(const std::uint8_t* data, std::size_t size, LinkFrame& frame);

}  // namespace kestrova
