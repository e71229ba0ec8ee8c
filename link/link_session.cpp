#include "link/link_session.h"

#include "link/frame_hunter.h"
#include "link/frame_receiver.h"
#include "platform/platform_calls.h"

#include <algorithm>
#include <utility>

namespace kestrova {

namespace {

constexpr DWORD kExchangePauseMs = 10;
constexpr std::uint8_t kSequenceFirst = 32;
constexpr std::uint8_t kSequenceLast = 254;
// More than any reply could hold; a line that babbles on is left as it is.
constexpr std::size_t kMostBytesDrained = 64 * 1024;
// A read asked to return at once that takes this long was held up beneath.
constexpr DWORD kReadOffWaitedMs = 50;
// A reply whose bytes take longer than this (a minute) is not one reply.
constexpr DWORD kLongestHeldMs = 60000;

// What the caller gets of a decoded reply frame; its payload is taken.
void takeReply(LinkFrame& frame, LinkReply& reply) {
    reply.replyCode = frame.command;
    reply.answeredCommand = frame.answeredCommand;
    reply.rejectCode = frame.rejectCode;
    reply.completionCode = frame.completionCode;
    reply.replyPayload = std::move(frame.payload);
}

}  // namespace

void LinkReply::clear() {
    replyCode = 0;
    answeredCommand = 0;
    rejectCode = 0;
    completionCode = 0;
    replyPayload.clear();
}

COMMTIMEOUTS linkTimeouts() { return COMMTIMEOUTS{MAXDWORD, MAXDWORD, 1500, 0, 1500}; }

COMMTIMEOUTS waitingBytesTimeouts() { return COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 1500}; }

MachineAddress defaultMachineAddress() { return MachineAddress{'Z', '9', 'Q', 'Q'}; }

LinkSession::LinkSession(const MONITOR2* monitor, HANDLE handle, const ModuleClock& clock)
    : portMonitor(monitor),
      portHandle(handle),
      timeouts(linkTimeouts()),
      address(defaultMachineAddress()),
      clock_(&clock) {}

void LinkSession::reserve(std::size_t largestPayload) {
    // A stuffed byte takes two on the wire; the frame's payload also holds
    // each reply's, decoded.
    wire_.reserve(9 + 2 * largestPayload);
    frame.payload.reserve(std::max(largestPayload, FrameReceiver::kCapacity));
    receiver_.reserve();
    heldReply_.reserve(FrameReceiver::kCapacity);
    unfinished_.reserve(FrameReceiver::kCapacity);
}

void LinkSession::pauseBeforeExchange() { clock_->pause(kExchangePauseMs); }

ExchangeOutcome LinkSession::exchange(std::uint8_t command, const Bytes& payload, LinkReply& reply, Pause pause) {
    if (pause == Pause::First) pauseBeforeExchange();

    frame.clear();
    reply.clear();

    frame.address = address;
    // Every exchange uses up a number, sent or not; 255 and 0..31 are never sent.
    sequence = static_cast<std::uint8_t>(sequence + 1);
    if (sequence > kSequenceLast) sequence = kSequenceFirst;
    frame.sequence = sequence;
    frame.command = command;
    frame.payload = payload;

    // A port monitor without time-outs of its own keeps whatever it has.
    const MONITOR2* table = portMonitor;
    if (table != nullptr && table->pfnSetPortTimeOuts != nullptr) {
        table->pfnSetPortTimeOuts(portHandle, &timeouts, 0);
    }

    if (lineUnsettled) drainLine(table);
    // Set until this exchange has ended: running out of memory half-way (the
    // one failure that is thrown, not returned) leaves it set, and so does a
    // reply given up while its bytes were still coming.
    lineUnsettled = true;
    replyCutOff_ = false;
    const ExchangeOutcome result = transfer(table, reply);
    lineUnsettled = replyCutOff_;
    return result;
}

ExchangeOutcome LinkSession::transfer(const MONITOR2* table, LinkReply& reply) {
    encodeInto(frame, wire_);
    Bytes& wire = wire_;
    if (table == nullptr || table->pfnWritePort == nullptr) return ExchangeOutcome::Kind::WriteFailed;
    std::size_t sent = 0;
    while (sent < wire.size()) {
        DWORD written = 0;
        const BOOL ok = table->pfnWritePort(portHandle, wire.data() + sent, static_cast<DWORD>(wire.size() - sent),
                                            &written);
        if (ok != TRUE || written == 0) return ExchangeOutcome::Kind::WriteFailed;
        // A port monitor that claims more than it was given has taken it all.
        sent += std::min<std::size_t>(written, wire.size() - sent);
    }

    frame.clear();
    if (table->pfnReadPort == nullptr) return ExchangeOutcome::Kind::NoReply;
    FrameReceiver& receiver = receiver_;
    receiver.reset();
    const DWORD readingSince = clock_->nowMs();
    for (;;) {
        // Endless bytes that never make a frame end the exchange like silence,
        // and so do bytes that come too slowly ever to make one in time.
        if (receiver.full()) return ExchangeOutcome::Kind::NoReply;
        if (clock_->nowMs() - readingSince > kLongestReplyMs) {
            holdUnfinished(receiver.bytes());
            replyCutOff_ = true;
            return ExchangeOutcome::Kind::NoReply;
        }
        std::uint8_t byte = 0;
        DWORD got = 0;
        const BOOL ok = table->pfnReadPort(portHandle, &byte, 1, &got);
        if (ok != TRUE || got == 0) {
            // The exchange fails all the same; what it read of a reply is kept
            // for the read-off, which waits for the rest.
            const bool held = !heldReply_.empty();
            holdUnfinished(receiver.bytes());
            // The rest of a reply begun may be on its way: the read-off waits for it once.
            if (!held && !heldReply_.empty()) replyCutOff_ = true;
            return ExchangeOutcome::Kind::NoReply;
        }
        if (receiver.push(byte) == decode_result::Frame) break;
    }
    receiver.complete(frame);

    reply.replyCode = frame.command;
    reply.answeredCommand = frame.answeredCommand;
    reply.rejectCode = frame.rejectCode;
    reply.completionCode = frame.completionCode;
    reply.replyPayload = frame.payload;
    return {};
}

void LinkSession::holdUnfinished(const Bytes& bytes) {
    // Bytes held this long make no reply any more.
    if (!heldReply_.empty() && clock_->nowMs() - heldSince_ > kLongestHeldMs) heldReply_.clear();
    // After the start of a frame still held, every byte may be its rest;
    // otherwise only from a frame's start on: what came before it can never
    // be one.
    auto from = bytes.begin();
    if (heldReply_.empty()) {
        from = std::find(bytes.begin(), bytes.end(), frame_byte::STX);
        heldSince_ = clock_->nowMs();
    }
    const std::size_t kept = heldReply_.size() + static_cast<std::size_t>(bytes.end() - from);
    if (kept > FrameReceiver::kCapacity) {
        heldReply_.clear();
        return;
    }
    // Into storage that stays, so that a halted port allocates no more.
    heldReply_.insert(heldReply_.end(), from, bytes.end());
}

bool LinkSession::readWaiting(std::vector<LinkReply>& waiting) {
    waiting.clear();
    // Only where the port monitor takes the time-outs asked for: with its
    // own, each read might wait for a byte that is not coming. After a reply
    // given up while it was still coming, the rest of it is waited for (the
    // line going quiet for a read time-out ends that), within the bound on
    // one reply; otherwise only what is already there is read.
    const MONITOR2* table = portMonitor;
    if (table == nullptr || table->pfnReadPort == nullptr || table->pfnSetPortTimeOuts == nullptr) return true;
    FrameHunter& hunter = hunter_;
    hunter.reset();
    LinkFrame found;
    // The bytes since the last whole frame: the start of one still coming.
    Bytes& unfinished = unfinished_;
    unfinished.clear();
    bool frameTaken = false;
    auto take = [&](std::uint8_t byte) {
        if (unfinished.size() >= FrameReceiver::kCapacity) unfinished.clear();
        unfinished.push_back(byte);
        if (!hunter.push(byte, found)) return;
        unfinished.clear();
        frameTaken = true;
        LinkReply stale;
        takeReply(found, stale);
        waiting.push_back(std::move(stale));
    };
    // The bytes held from a reply given up come first; when they make a
    // whole frame by themselves, nothing is left to wait for.
    for (const std::uint8_t byte : heldReply_) take(byte);
    const bool wasHeld = !heldReply_.empty();
    heldReply_.clear();
    const bool settling = lineUnsettled && !(wasHeld && frameTaken && unfinished.empty());
    if (!settling) lineUnsettled = false;
    if (!settling && readOffWaits_) {
        holdUnfinished(unfinished);
        return true;
    }
    COMMTIMEOUTS readTimeouts = settling ? timeouts : waitingBytesTimeouts();
    if (table->pfnSetPortTimeOuts(portHandle, &readTimeouts, 0) != TRUE) {
        // The next exchange reads away what is left instead.
        holdUnfinished(unfinished);
        return true;
    }
    lineUnsettled = false;
    const DWORD since = clock_->nowMs();
    bool stillComing = false;
    for (std::size_t read = 0; read < kMostBytesDrained; ++read) {
        if (settling && clock_->nowMs() - since > kLongestReplyMs) {
            stillComing = true;
            break;
        }
        std::uint8_t byte = 0;
        DWORD got = 0;
        const DWORD readStarted = clock_->nowMs();
        if (table->pfnReadPort(portHandle, &byte, 1, &got) != TRUE || got == 0) {
            // Asked to return at once, the read waited: the port beneath keeps
            // time-outs of its own, and every read-off would cost that wait.
            if (!settling && clock_->nowMs() - readStarted >= kReadOffWaitedMs) readOffWaits_ = true;
            break;
        }
        take(byte);
    }
    // What is unfinished is held again: if no frame was made of it, it is
    // still the frame held before, as old as that one.
    if (wasHeld && !frameTaken && clock_->nowMs() - heldSince_ <= kLongestHeldMs) {
        heldReply_.assign(unfinished.begin(), unfinished.end());
    } else {
        holdUnfinished(unfinished);
    }
    if (!stillComing) return true;
    // Bytes kept coming to the bound: a command sent now would have its
    // answer behind them. The next read-off waits for the rest.
    lineUnsettled = true;
    return false;
}

void LinkSession::drainLine(const MONITOR2* table) {
    // What is left of a reply that was being read when memory ran out (or a
    // whole one not read yet) must not pass for the answer to the next
    // command: read it away until the line is quiet for a read time-out.
    if (table != nullptr && table->pfnReadPort != nullptr) {
        const DWORD since = clock_->nowMs();
        for (std::size_t drained = 0; drained < kMostBytesDrained; ++drained) {
            if (clock_->nowMs() - since > kLongestReplyMs) break;
            std::uint8_t byte = 0;
            DWORD got = 0;
            if (table->pfnReadPort(portHandle, &byte, 1, &got) != TRUE || got == 0) break;
        }
    }
    lineUnsettled = false;
    heldReply_.clear();
}

}  // namespace kestrova
