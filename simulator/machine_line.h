// The machine's end of the serial line: bytes from the host are gathered
// into frames and answered by the machine; its replies wait on the line
// until the host reads them, each piece from the moment it arrives.
#pragma once

#include "link/bytes.h"
#include "simulator/machine_simulator.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

namespace kestrova::simulator {

class MachineLine {
public:
    // Told of every whole frame received and of every reply sent (for traces).
    using FrameObserver = std::function<void(bool fromHost, const Bytes& bytes)>;

    explicit MachineLine(MachineSimulator& machine);

    // Bytes from the host. Returns how many the machine took: all of them,
    // or fewer when its fault plan limits each write.
    std::size_t receive(const std::uint8_t* data, std::size_t size);
    // Takes every byte however the fault plan limits writes (a socket
    // delivers what was sent).
    void receiveAll(const std::uint8_t* data, std::size_t size);

    // Moves up to `size` reply bytes that have arrived by `nowMs` into `buffer`.
    std::size_t take(std::uint8_t* buffer, std::size_t size, std::uint64_t nowMs);
    // When the next reply byte arrives; nullopt when none is on its way.
    std::optional<std::uint64_t> nextArrivalMs() const;
    // Reply bytes sent but not yet read.
    std::size_t pending() const;
    // Replies the host began to read only after it had sent a later frame:
    // each one was taken for the answer to another command.
    std::size_t staleReplies() const;

    void setObserver(FrameObserver observer);
    MachineSimulator& machine() { return machine_; }

private:
    struct Piece {
        Bytes bytes;
        std::uint64_t arrivesAt;
        std::size_t frame;  // the host frame it answers, by this line's count
        std::size_t reportsCard = 0;  // the card whose personalisation it reports
    };
    void answerFrames();

    // Far beyond any request; bytes that never close a frame are dropped.
    static constexpr std::size_t kMaxInbound = 1u << 20;

    MachineSimulator& machine_;
    mutable std::mutex lock_;
    Bytes inbound_;
    std::deque<Piece> outbound_;
    std::size_t takenFromFront_ = 0;
    std::size_t framesIn_ = 0;
    std::size_t staleReplies_ = 0;
    std::size_t lastStaleFrame_ = 0;
    FrameObserver observer_;
};

}  // namespace kestrova::simulator
