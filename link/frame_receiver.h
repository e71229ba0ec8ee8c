// Receives a reply byte by byte and tells after each byte what decoding the
// whole buffer would give, in constant time per byte; the frame's fields are
// decoded once, when it is complete.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"

#include <cstddef>
#include <cstdint>

namespace kestrova {

class FrameReceiver {
public:
    // Far above any real reply; a peer that sends this much without a frame
    // is treated like a silent one.
    static constexpr std::size_t kCapacity = 64 * 1024;

    // Appends one byte. Returns what decode() would return for all bytes
    // received so far, without filling a record.
    int push(std::uint8_t byte);

    // No room for another byte.
    bool full() const { return buffer_.size() >= kCapacity; }
    std::size_t size() const { return buffer_.size(); }
    // The bytes received so far.
    const Bytes& bytes() const { return buffer_; }

    // Fills the record from the bytes received (call after push() gave 0).
    int complete(LinkFrame& frame) const;

    // Ready for the next reply; the storage stays.
    void reset();
    // Room for a reply of kCapacity bytes, so that receiving allocates nothing.
    void reserve() { buffer_.reserve(kCapacity); }

private:
    Bytes buffer_;
    std::uint8_t check_ = 0;  // XOR of the bytes at offsets 1 .. size-3
};

}  // namespace kestrova
