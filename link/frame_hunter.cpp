#include "link/frame_hunter.h"

namespace kestrova {

bool FrameHunter::push(std::uint8_t byte, LinkFrame& frame) {
    if (byte == frame_byte::STX) {
        if (candidates_.size() == kCandidates) candidates_.pop_front();
        candidates_.emplace_back();
    }
    for (auto it = candidates_.begin(); it != candidates_.end();) {
        if (it->full()) {
            it = candidates_.erase(it);
            continue;
        }
        if (it->push(byte) == decode_result::Frame) {
            it->complete(frame);
            candidates_.clear();
            return true;
        }
        ++it;
    }
    return false;
}

}  // namespace kestrova
