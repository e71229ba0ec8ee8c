#include "simulator/machine_line.h"

#include "link/link_frame.h"
#include "link/request_frame.h"
#include "simulator/machine_clock.h"

#include <algorithm>
#include <utility>

namespace kestrova::simulator {

MachineLine::MachineLine(MachineSimulator& machine) : machine_(machine) {}

std::size_t MachineLine::receive(const std::uint8_t* data, std::size_t size) {
    const std::size_t chunk = machine_.faults().writeChunk();
    const std::size_t taken = chunk == 0 ? size : std::min(size, chunk);
    receiveAll(data, taken);
    return taken;
}

void MachineLine::receiveAll(const std::uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    inbound_.insert(inbound_.end(), data, data + size);
    answerFrames();
}

void MachineLine::answerFrames() {
    for (;;) {
        // Noise between frames is skipped up to the next STX.
        const auto stx = std::find(inbound_.begin(), inbound_.end(), frame_byte::STX);
        inbound_.erase(inbound_.begin(), stx);
        if (inbound_.empty()) return;
        const auto length = requestFrameLength(inbound_.data(), inbound_.size());
        if (!length) {
            if (inbound_.size() > kMaxInbound) inbound_.clear();
            return;
        }
        // A frame whose writing broke off leaves its head before the next
        // one; answer the whole frame that ends here.
        std::size_t start = 0;
        RequestFrame probe;
        for (std::size_t at = 1; at + 9 <= *length; ++at) {
            if (inbound_[at] == frame_byte::STX &&
                readRequestFrame(inbound_.data() + at, *length - at, probe).outcome == RequestParse::Ok) {
                start = at;
                break;
            }
        }
        const Bytes frame(inbound_.begin() + static_cast<std::ptrdiff_t>(start),
                          inbound_.begin() + static_cast<std::ptrdiff_t>(*length));
        inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(*length));

        MachineReply reply = machine_.answer(frame);
        ++framesIn_;
        if (observer_) observer_(true, frame);
        std::uint64_t at = machine_clock::nowMs();
        if (reply.powerCut) {
            // The restart loses whatever the machine had not finished sending.
            while (!outbound_.empty() && outbound_.back().arrivesAt > at &&
                   (outbound_.size() > 1 || takenFromFront_ == 0)) {
                if (outbound_.back().reportsCard != 0) machine_.reportLost(outbound_.back().reportsCard, "powercut");
                outbound_.pop_back();
            }
        }
        if (reply.bytes.empty()) continue;
        if (observer_) observer_(false, reply.bytes);

        // A line keeps its order: nothing overtakes bytes still on their way.
        at += reply.delayMs;
        if (!outbound_.empty()) at = std::max(at, outbound_.back().arrivesAt);
        if (reply.byteGapMs > 0) {
            for (const std::uint8_t byte : reply.bytes) {
                at += reply.byteGapMs;
                outbound_.push_back(Piece{Bytes{byte}, at, framesIn_, reply.reportsCard});
            }
        } else if (reply.splitAt > 0 && reply.splitAt < reply.bytes.size()) {
            Bytes tail(reply.bytes.begin() + static_cast<std::ptrdiff_t>(reply.splitAt), reply.bytes.end());
            reply.bytes.resize(reply.splitAt);
            outbound_.push_back(Piece{std::move(reply.bytes), at, framesIn_, reply.reportsCard});
            outbound_.push_back(Piece{std::move(tail), at + reply.gapMs, framesIn_, reply.reportsCard});
        } else {
            outbound_.push_back(Piece{std::move(reply.bytes), at, framesIn_, reply.reportsCard});
        }
    }
}

std::size_t MachineLine::take(std::uint8_t* buffer, std::size_t size, std::uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t count = 0;
    while (count < size && !outbound_.empty() && outbound_.front().arrivesAt <= nowMs) {
        const Bytes& front = outbound_.front().bytes;
        const std::size_t answers = outbound_.front().frame;
        if (answers < framesIn_ && answers != lastStaleFrame_) {
            ++staleReplies_;
            lastStaleFrame_ = answers;
        }
        const std::size_t n = std::min(size - count, front.size() - takenFromFront_);
        std::copy_n(front.begin() + static_cast<std::ptrdiff_t>(takenFromFront_), n, buffer + count);
        count += n;
        takenFromFront_ += n;
        if (takenFromFront_ == front.size()) {
            outbound_.pop_front();
            takenFromFront_ = 0;
        }
    }
    return count;
}

std::optional<std::uint64_t> MachineLine::nextArrivalMs() const {
    std::lock_guard<std::mutex> guard(lock_);
    if (outbound_.empty()) return std::nullopt;
    return outbound_.front().arrivesAt;
}

std::size_t MachineLine::pending() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::size_t total = 0;
    for (const Piece& piece : outbound_) total += piece.bytes.size();
    return total - takenFromFront_;
}

std::size_t MachineLine::staleReplies() const {
    std::lock_guard<std::mutex> guard(lock_);
    return staleReplies_;
}

void MachineLine::setObserver(FrameObserver observer) {
    std::lock_guard<std::mutex> guard(lock_);
    observer_ = std::move(observer);
}

}  // namespace kestrova::simulator
