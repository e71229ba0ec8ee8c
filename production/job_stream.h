// The job bytes buffered between document start and production. Stored in
// fixed-size chunks so that a large job never needs one huge block and the
// drain can give memory back as it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace kestrova {

class JobStream {
public:
    static constexpr std::size_t kChunkSize = 64 * 1024;

    // Appends the bytes; false when memory ran out (the stream is then in
    // its error state, reads as ended and holds no memory any more).
    bool append(const std::uint8_t* data, std::size_t size);

    // Reads the next byte; false at the end or in the error state.
    bool get(std::uint8_t& byte);

    // The unread bytes of the current chunk (empty at the end); consume()
    // moves past some of them. Lets a reader scan without per-byte calls.
    const std::uint8_t* chunkData() const;
    std::size_t chunkAvailable() const;
    void consume(std::size_t count);

    bool failed() const { return failed_; }
    // The bytes appended since the last reset (up to a failure).
    std::size_t size() const { return size_; }

    // Empties the stream, returns its positions to the start and clears the error state.
    void reset();

private:
    void settle();
    void dropReadChunks();

    std::deque<std::vector<std::uint8_t>> chunks_;
    std::size_t readChunk_ = 0;
    std::size_t readOffset_ = 0;
    std::size_t size_ = 0;
    bool failed_ = false;
};

}  // namespace kestrova
