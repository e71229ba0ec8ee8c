// One command/reply exchange with the machine over the port monitor.
#pragma once

#include "link/bytes.h"
#include "link/frame_receiver.h"
#include "link/link_frame.h"
#include "platform/spooler_monitor.h"

#include <cstdint>

namespace kestrova {

struct LinkReply {
    std::uint8_t replyCode = 0;
    std::uint8_t answeredCommand = 0;
    std::uint8_t rejectCode = 0;
    std::uint8_t completionCode = 0;
    Bytes replyPayload;

    // Every field back to its initial value; the payload keeps its storage.
    void clear();
};

namespace exchange_result {
constexpr std::int32_t Ok = 0;
constexpr std::int32_t WriteFailed = -1;
constexpr std::int32_t ReadFailed = -2;
}  // namespace exchange_result

constexpr std::uint8_t kSequenceRestart = 31;

COMMTIMEOUTS linkTimeouts();
MachineAddress defaultMachineAddress();  // "Z9QQ"

class LinkSession {
public:
    LinkSession(const MONITOR2* portMonitor, HANDLE portHandle);

    // Sends one frame and reads one reply; the caller holds the port's portLock.
    // Allocates nothing once reserve() has made room for the payload and
    // `reply` has room for kCapacity bytes of reply payload.
    std::int32_t exchange(std::uint8_t command, const Bytes& payload, LinkReply& reply);
    // Room for commands with payloads of up to `largestPayload` bytes and for
    // any reply the receiver takes.
    void reserve(std::size_t largestPayload);

    const MONITOR2* portMonitor;
    HANDLE portHandle;
    COMMTIMEOUTS timeouts;
    LinkFrame frame;
    MachineAddress address;
    std::uint8_t sequence = kSequenceRestart;
    // An exchange ended by running out of memory may have left reply bytes
    // on the line; the next exchange reads them away before it sends.
    bool lineUnsettled = false;

private:
    std::int32_t transfer(const MONITOR2* table, LinkReply& reply);
    void drainLine(const MONITOR2* table);

    // Reused from exchange to exchange.
    Bytes wire_;
    FrameReceiver receiver_;
};

}  // namespace kestrova
