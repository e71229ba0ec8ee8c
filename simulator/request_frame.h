// The machine's side of the frame format: finding and reading the frames the
// monitor writes. The replies are the link's (link/reply_encoder.h).
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

    // The machine's replies to this request, by the link's encoder.
    Bytes eot() const;
    Bytes enq() const;
    Bytes ack(std::uint8_t letter) const;
    Bytes nak(std::uint8_t rejectCode) const;  // refuses this request's command
    Bytes data(std::uint8_t letter, std::uint8_t completionCode, const Bytes& replyPayload = {}) const;
};

// The length of the frame that starts at data[0] (an STX), once its ETX and
// check byte have arrived; nullopt while it is incomplete. A request's
// payload is stuffed, so its first raw ETX after the header ends it.
std::optional<std::size_t> requestFrameLength(const std::uint8_t* data, std::size_t size);

enum class RequestParse { Ok, BadCheck, BadStuffing, TooShort };

// Reads one whole frame (STX to check byte).
RequestParse parseRequestFrame(const std::uint8_t* data, std::size_t size, RequestFrame& out);

}  // namespace kestrova::simulator
