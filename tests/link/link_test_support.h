// Helpers for the link tests: the machine's replies to sequence 0x20, by the
// link's encoder, and a peer that replays queued bytes.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"
#include "link/link_session.h"
#include "link/reply_encoder.h"
#include "platform/wide_string.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <string>

namespace kestrova::testing {

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// STX "Z9QQ" sequence code, the fixed bytes raw, the payload stuffed, ETX,
// check: for replies the machine would not send as they are.
inline Bytes replyFrame(std::uint8_t code, const Bytes& fixed = {}, const Bytes& payload = {},
                        std::uint8_t sequence = 0x20) {
    return encodeWithFixedBytes(defaultMachineAddress(), sequence, code, fixed, payload);
}
inline Bytes eotFrame() { return encodeEot(defaultMachineAddress(), 0x20); }
inline Bytes enqFrame() { return encodeEnq(defaultMachineAddress(), 0x20); }
inline Bytes ackFrame(std::uint8_t letter) { return encodeAck(defaultMachineAddress(), 0x20, letter); }
inline Bytes nakFrame(std::uint8_t letter, std::uint8_t reject) {
    return encodeNak(defaultMachineAddress(), 0x20, letter, reject);
}
inline Bytes dataFrame(std::uint8_t letter, std::uint8_t completion = '0', const Bytes& payload = {}) {
    return encodeData(defaultMachineAddress(), 0x20, letter, completion, payload);
}

// Accepts every write; hands out the queued bytes while they last, then
// nothing. The queued bytes answer the next frame: a read that does not wait
// (one that reads off what is already on the line) finds only the bytes
// `onTheLine` says were there before it.
class QueuePeer : public standin::PortPeer {
public:
    void queue(const Bytes& bytes) { pending.insert(pending.end(), bytes.begin(), bytes.end()); }
    void alreadyOnTheLine(const Bytes& bytes) { onTheLine.insert(onTheLine.end(), bytes.begin(), bytes.end()); }
    long onWrite(const std::uint8_t*, std::size_t size) override { return static_cast<long>(size); }
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override {
        const bool waits = !(timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 &&
                             timeouts.ReadTotalTimeoutConstant == 0);
        std::size_t n = 0;
        while (n < size && !onTheLine.empty()) {
            buffer[n++] = onTheLine.front();
            onTheLine.pop_front();
        }
        while (waits && n < size && !pending.empty()) {
            buffer[n++] = pending.front();
            pending.pop_front();
        }
        return static_cast<long>(n);
    }
    std::deque<std::uint8_t> onTheLine;
    std::deque<std::uint8_t> pending;
};

// A port opened on a software port monitor, on the virtual clock.
class LinkFixture : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        standin::setClockMode(standin::ClockMode::Virtual);
        spm.setPeer(&peer);
        ASSERT_EQ(spm.table()->pfnOpenPort(spm.monitorHandle(), portName.data(), &handle), TRUE);
        spm.clearCalls();
    }

    standin::SoftwarePortMonitor spm;
    QueuePeer peer;
    WideString portName = wideFromAscii("LPT1:");
    HANDLE handle = nullptr;
};

}  // namespace kestrova::testing
