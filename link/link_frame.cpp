#include "link/link_frame.h"

namespace kestrova {

namespace {

bool needsEscape(std::uint8_t byte) {
    return byte == frame_byte::SOH || byte == frame_byte::STX || byte == frame_byte::ETX;
}

void encodeFrameInto(const MachineAddress& address, std::uint8_t sequence, std::uint8_t code,
                     const Bytes& fixedBytes, const Bytes& payload, Bytes& out) {
    out.clear();
    out.reserve(9 + fixedBytes.size() + 2 * payload.size());
    out.push_back(frame_byte::STX);
    std::uint8_t check = 0;
    auto put = [&](std::uint8_t byte) {
        out.push_back(byte);
        check ^= byte;
    };
    for (std::uint8_t byte : address) put(byte);
    put(sequence);
    put(code);
    for (std::uint8_t byte : fixedBytes) put(byte);
    for (std::uint8_t byte : payload) {
        if (needsEscape(byte)) {
            put(frame_byte::SOH);
            put(static_cast<std::uint8_t>(~byte));
        } else {
            put(byte);
        }
    }
    out.push_back(frame_byte::ETX);
    out.push_back(check);
}

}  // namespace

void LinkFrame::clear() {
    address = MachineAddress{};
    sequence = 0;
    command = 0;
    payload.clear();  // keeps its storage for the next frame
    answeredCommand = 0;
    rejectCode = 0;
    completionCode = 0;
}

Bytes encode(const LinkFrame& frame) {
    return encodeRequest(frame.address, frame.sequence, frame.command, frame.payload);
}

void encodeInto(const LinkFrame& frame, Bytes& out) {
    encodeFrameInto(frame.address, frame.sequence, frame.command, Bytes(), frame.payload, out);
}

Bytes encodeRequest(const MachineAddress& address, std::uint8_t sequence, std::uint8_t command, const Bytes& payload) {
    return encodeWithFixedBytes(address, sequence, command, Bytes(), payload);
}

Bytes encodeWithFixedBytes(const MachineAddress& address, std::uint8_t sequence, std::uint8_t code,
                           const Bytes& fixedBytes, const Bytes& payload) {
    Bytes out;
    encodeFrameInto(address, sequence, code, fixedBytes, payload, out);
    return out;
}

int decode(const std::uint8_t* data, std::size_t size, LinkFrame& frame) {
    frame.clear();
    if (size < 8) return decode_result::TooShort;
    const std::size_t etx = size - 2;
    if (data[etx] != frame_byte::ETX) return decode_result::NoEtx;
    std::uint8_t check = 0;
    for (std::size_t i = 1; i < etx; ++i) check ^= data[i];
    if (check != data[size - 1]) return decode_result::CheckMismatch;
    const std::uint8_t code = data[6];
    if (!isFixedReply(code) && size < 10) return decode_result::TooShort;

    for (std::size_t i = 0; i < 4; ++i) frame.address[i] = data[1 + i];
    frame.sequence = data[5];
    frame.command = code;
    if (code == 6) {
        frame.answeredCommand = data[7];
    } else if (code == 21) {
        frame.answeredCommand = data[7];
        frame.rejectCode = data[8];
    } else if (code != 4 && code != 5) {
        frame.answeredCommand = code;
        frame.completionCode = data[7];
        frame.payload.reserve(etx - 8);
        for (std::size_t i = 8; i < etx; ++i) {
            if (data[i] == frame_byte::SOH) {
                // A lone SOH right before the ETX escapes nothing: drop it
                // rather than read the ETX as its partner.
                if (i + 1 < etx) frame.payload.push_back(static_cast<std::uint8_t>(~data[++i]));
            } else {
                frame.payload.push_back(data[i]);
            }
        }
    }
    return decode_result::Frame;
}

}  // namespace kestrova
