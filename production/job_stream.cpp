#include "production/job_stream.h"

#include <algorithm>
#include <new>

namespace kestrova {

bool JobStream::append(const std::uint8_t* data, std::size_t size) {
    if (failed_) return false;
    try {
        while (size > 0) {
            if (chunks_.empty() || chunks_.back().size() == kChunkSize) {
                chunks_.emplace_back();
                chunks_.back().reserve(kChunkSize);
            }
            auto& chunk = chunks_.back();
            const std::size_t take = std::min(size, kChunkSize - chunk.size());
            chunk.insert(chunk.end(), data, data + take);
            data += take;
            size -= take;
            size_ += take;
        }
        // Bytes appended after everything had been read are readable at once.
        settle();
        return true;
    } catch (const std::bad_alloc&) {
        // What was stored can never be read now: give it all back at once,
        // not when the document ends, so that the process (the spooler, and
        // every other port in it) does not stay out of memory until then.
        failed_ = true;
        std::deque<std::vector<std::uint8_t>>().swap(chunks_);
        readChunk_ = 0;
        readOffset_ = 0;
        return false;
    }
}

const std::uint8_t* JobStream::chunkData() const {
    if (failed_ || readChunk_ >= chunks_.size()) return nullptr;
    return chunks_[readChunk_].data() + readOffset_;
}

std::size_t JobStream::chunkAvailable() const {
    if (failed_ || readChunk_ >= chunks_.size()) return 0;
    return chunks_[readChunk_].size() - readOffset_;
}

void JobStream::consume(std::size_t count) {
    readOffset_ += std::min(count, chunkAvailable());
    settle();
}

void JobStream::settle() {
    // Moves a read position at the end of a chunk to the next chunk, so that
    // chunkAvailable() is 0 only at the true end of the stream.
    while (readChunk_ < chunks_.size() && readOffset_ >= chunks_[readChunk_].size() &&
           readChunk_ + 1 < chunks_.size()) {
        readOffset_ -= chunks_[readChunk_].size();
        ++readChunk_;
        dropReadChunks();
    }
}

bool JobStream::get(std::uint8_t& byte) {
    if (chunkAvailable() == 0) return false;
    byte = *chunkData();
    consume(1);
    return true;
}

void JobStream::dropReadChunks() {
    // What has been read is never read again: give its memory back.
    while (readChunk_ > 0) {
        chunks_.pop_front();
        --readChunk_;
    }
}

void JobStream::reset() {
    chunks_.clear();
    readChunk_ = 0;
    readOffset_ = 0;
    size_ = 0;
    failed_ = false;
}

}  // namespace kestrova
