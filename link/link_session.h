// One command/reply exchange with the machine over the port monitor.
#pragma once

#include "link/bytes.h"
#include "link/exchange_outcome.h"
#include "link/frame_hunter.h"
#include "link/frame_receiver.h"
#include "link/link_frame.h"
#include "platform/module_clock.h"
#include "platform/spooler_monitor.h"

#include <cstdint>
#include <vector>

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

constexpr std::uint8_t kSequenceRestart = 31;

COMMTIMEOUTS linkTimeouts();
// Time-outs under which a read returns at once with what is already there.
COMMTIMEOUTS waitingBytesTimeouts();

// The longest one exchange may read its reply, from the end of the write:
// the first byte may take the whole read time-out (1.5 s), and 3.5 s carry
// the longest reply the machine sends (ModuleInfo, eight entries of at most
// 105 bytes, under 2 s even at 4800 baud). A peer that trickles one byte
// just inside every read time-out is cut off here, not after 64 Ki reads.
constexpr DWORD kLongestReplyMs = 5000;
MachineAddress defaultMachineAddress();  // "Z9QQ"

class LinkSession {
public:
    // Waits and measures on `clock`.
    LinkSession(const MONITOR2* portMonitor, HANDLE portHandle, const ModuleClock& clock = platformClock());

    // Sends one frame and reads one reply: Done, WriteFailed or NoReply; the
    // caller holds the port's portLock.
    // Allocates nothing once reserve() has made room for the payload and
    // `reply` has room for kCapacity bytes of reply payload.
    // The link's pause before the frame comes first, unless the caller has
    // taken it (pauseBeforeExchange).
    enum class Pause { First, Taken };
    ExchangeOutcome exchange(std::uint8_t command, const Bytes& payload, LinkReply& reply, Pause pause = Pause::First);

    void pauseBeforeExchange();
    // Reads off what already waits on the line, so that it cannot pass for
    // the reply to the next command: the whole frames among it (a frame may
    // start after the rest of another, and the bytes of a reply given up
    // come first), in the order they came, go to `waiting`; what makes no
    // frame is dropped. Reads only where the port monitor takes time-outs
    // under which a read returns at once, and stops reading off on a port
    // whose empty read was seen to wait; after a reply given up with bytes
    // of it read, waits for the rest, within the bound on one reply. False
    // when a frame is still coming then: no command should go out, and its
    // bytes are kept for the next read-off. The next exchange sets the
    // link's own time-outs again.
    bool readWaiting(std::vector<LinkReply>& waiting);
    // The port beneath kept a read-off waiting although it took time-outs
    // under which a read returns at once: this port reads off no more
    // (only the rest of a reply given up is still waited for).
    bool readOffWaits() const { return readOffWaits_; }
    // Room for commands with payloads of up to `largestPayload` bytes and for
    // any reply the receiver takes.
    void reserve(std::size_t largestPayload);

    const MONITOR2* portMonitor;
    HANDLE portHandle;
    COMMTIMEOUTS timeouts;
    LinkFrame frame;
    MachineAddress address;
    std::uint8_t sequence = kSequenceRestart;
    // An exchange ended by running out of memory, or one whose reply was
    // given up at the bound while its bytes were still coming, may have left
    // reply bytes on the line; the next exchange reads them away before it
    // sends.
    bool lineUnsettled = false;

private:
    const ModuleClock* clock_;
    bool replyCutOff_ = false;
    bool readOffWaits_ = false;
    // The bytes of a reply given up before they made a frame: kept so that
    // the rest, when it comes, completes it (a frame reached the line whole
    // is never lost to a read time-out).
    Bytes heldReply_;
    DWORD heldSince_ = 0;
    Bytes unfinished_;
    void holdUnfinished(const Bytes& bytes);
    ExchangeOutcome transfer(const MONITOR2* table, LinkReply& reply);
    void drainLine(const MONITOR2* table);

    // Reused from exchange to exchange.
    Bytes wire_;
    FrameReceiver receiver_;
    FrameHunter hunter_;
};

}  // namespace kestrova
