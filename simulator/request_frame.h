// The machine's side of the frame format: finding and reading the frames the
// monitor writes, and building the replies the machine sends.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrova::simulator {

struct RequestFrame {
    MachineAddress address{};
    std::uint8_t sequence = 0;
    std::uint8_t command = 0;
    Bytes payload;  // unstuffed
};

// The length of the frame that starts at data[0] (an STX), once its ETX and
// check byte have arrived; nullopt while it is incomplete. A request's
// payload is stuffed, so its first raw ETX after the header ends it.
std::optional<std::size_t> requestFrameLength(const std::uint8_t* data, std::size_t size);

enum class RequestParse { Ok, BadCheck, BadStuffing, TooShort };

// Reads one whole frame (STX to check byte).
RequestParse parseRequestFrame(const std::uint8_t* data, std::size_t size, RequestFrame& out);

// A reply in the machine's form: the fixed bytes after the code raw (the
// answered letter, reject code or completion code), the payload stuffed, the
// check byte over everything from the address on.
Bytes encodeReply(const MachineAddress& address, std::uint8_t sequence, std::uint8_t code, const Bytes& fixedBytes,
                  const Bytes& payload = {});

}  // namespace kestrova::simulator
