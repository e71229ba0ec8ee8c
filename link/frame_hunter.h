// Finds whole frames in bytes that may begin in the middle of another reply:
// a frame may start at any STX. Only for what already waits on the line
// before a command goes out (the rest of a reply that was given up, replies
// that came late); an exchange's own reply is decoded from its first byte.
#pragma once

#include "link/frame_receiver.h"
#include "link/link_frame.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace kestrova {

class FrameHunter {
public:
    // Frames begun at the last this many STX bytes are followed at once.
    static constexpr std::size_t kCandidates = 8;

    // Appends one byte; true when it completes a frame, which `frame` then
    // holds. The earliest begun frame wins; the hunt then starts afresh.
    bool push(std::uint8_t byte, LinkFrame& frame);
    // Forgets every frame begun; the storage of the first stays.
    void reset() { candidates_.clear(); }

private:
    std::deque<FrameReceiver> candidates_;  // the oldest first
};

}  // namespace kestrova
