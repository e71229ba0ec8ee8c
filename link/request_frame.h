// The machine's side of the frame format: finding and reading the requests
// the monitor writes, for everything that plays the machine (the scripted
// machine, the simulator, the frame trace). The monitor itself never reads a
// request; its replies come from reply_encoder.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrova {

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

// An SOH that escapes a byte needing no escape. The simulated machine refuses
// the frame (BadStuffing); the scripted machine reads the byte and answers,
// only marking the frame as one our encoder would not have written.
enum class NeedlessEscape { Refused, Read };

struct RequestReading {
    RequestParse outcome = RequestParse::TooShort;
    // Ok, and byte for byte what encodeRequest writes for the frame read.
    bool canonical = false;
};

// Reads one whole frame, data[0] to its check byte, as the caller found it:
// data[0] is taken for the STX (a frame not starting with one is read, but
// is not canonical). A lone SOH right before the ETX is BadStuffing either way.
RequestReading readRequestFrame(const std::uint8_t* data, std::size_t size, RequestFrame& out,
                                NeedlessEscape needless = NeedlessEscape::Refused);

}  // namespace kestrova
