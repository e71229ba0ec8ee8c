#include "link/request_frame.h"

#include "link/reply_encoder.h"

namespace kestrova {

namespace {

constexpr std::size_t kHeaderEnd = 7;  // STX, 4 address bytes, sequence, code
constexpr std::size_t kEmptyFrame = 9;

bool needsStuffing(std::uint8_t byte) {
    return byte == frame_byte::SOH || byte == frame_byte::STX || byte == frame_byte::ETX;
}

}  // namespace

std::optional<std::size_t> requestFrameLength(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = kHeaderEnd; i + 1 < size; ++i) {
        if (data[i] == frame_byte::ETX) return i + 2;
    }
    return std::nullopt;
}

RequestReading readRequestFrame(const std::uint8_t* data, std::size_t size, RequestFrame& out,
                                NeedlessEscape needless) {
    out = RequestFrame();
    RequestReading reading;
    if (size < kEmptyFrame) return reading;
    const std::size_t etx = size - 2;
    std::uint8_t check = 0;
    for (std::size_t i = 1; i < etx; ++i) check ^= data[i];
    if (data[etx] != frame_byte::ETX || check != data[size - 1]) {
        reading.outcome = RequestParse::BadCheck;
        return reading;
    }
    for (std::size_t i = 0; i < 4; ++i) out.address[i] = data[1 + i];
    out.sequence = data[5];
    out.command = data[6];
    // The encoder writes the header raw and escapes exactly the three framing
    // bytes, so the frame is its writing unless a payload byte says otherwise.
    bool canonical = data[0] == frame_byte::STX;
    out.payload.reserve(etx - kHeaderEnd);
    for (std::size_t i = kHeaderEnd; i < etx; ++i) {
        if (data[i] != frame_byte::SOH) {
            if (needsStuffing(data[i])) canonical = false;
            out.payload.push_back(data[i]);
            continue;
        }
        if (i + 1 >= etx) {
            reading.outcome = RequestParse::BadStuffing;
            return reading;
        }
        const auto unstuffed = static_cast<std::uint8_t>(~data[++i]);
        if (!needsStuffing(unstuffed)) {
            if (needless == NeedlessEscape::Refused) {
                reading.outcome = RequestParse::BadStuffing;
                return reading;
            }
            canonical = false;
        }
        out.payload.push_back(unstuffed);
    }
    reading.outcome = RequestParse::Ok;
    reading.canonical = canonical;
    return reading;
}

Bytes RequestFrame::eot() const { return encodeEot(address, sequence); }

Bytes RequestFrame::enq() const { return encodeEnq(address, sequence); }

Bytes RequestFrame::ack(std::uint8_t letter) const { return encodeAck(address, sequence, letter); }

Bytes RequestFrame::nak(std::uint8_t rejectCode) const { return encodeNak(address, sequence, command, rejectCode); }

Bytes RequestFrame::data(std::uint8_t letter, std::uint8_t completionCode, const Bytes& replyPayload) const {
    return encodeData(address, sequence, letter, completionCode, replyPayload);
}

}  // namespace kestrova
