#include "link/frame_receiver.h"

namespace kestrova {

int FrameReceiver::push(std::uint8_t byte) {
    buffer_.push_back(byte);
    const std::size_t size = buffer_.size();
    // The byte that just moved out of the ETX and check positions joins the
    // checked range, which starts after the STX.
    if (size >= 4) check_ ^= buffer_[size - 3];
    if (size < 8) return decode_result::TooShort;
    if (buffer_[size - 2] != frame_byte::ETX) return decode_result::NoEtx;
    if (check_ != buffer_[size - 1]) return decode_result::CheckMismatch;
    if (!isFixedReply(buffer_[6]) && size < 10) return decode_result::TooShort;
    return decode_result::Frame;
}

int FrameReceiver::complete(LinkFrame& frame) const { return decode(buffer_.data(), buffer_.size(), frame); }

void FrameReceiver::reset() {
    buffer_.clear();
    check_ = 0;
}

}  // namespace kestrova
