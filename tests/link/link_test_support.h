// Helpers for the link tests: reply frames built by hand (fixed bytes raw,
// payload stuffed) and a peer that replays queued bytes.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"
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

// STX "Z9QQ" sequence code, the fixed bytes raw, the payload stuffed, ETX, check.
inline Bytes replyFrame(std::uint8_t code, Bytes fixed = {}, const Bytes& payload = {}, std::uint8_t sequence = 0x20) {
    Bytes body = {'Z', '9', 'Q', 'Q', sequence, code};
    body.insert(body.end(), fixed.begin(), fixed.end());
    for (std::uint8_t b : payload) {
        if (b >= 1 && b <= 3) {
            body.push_back(0x01);
            body.push_back(static_cast<std::uint8_t>(~b));
        } else {
            body.push_back(b);
        }
    }
    std::uint8_t check = 0;
    for (std::uint8_t b : body) check ^= b;
    Bytes frame = {0x02};
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(0x03);
    frame.push_back(check);
    return frame;
}
inline Bytes eotFrame() { return replyFrame(0x04); }
inline Bytes enqFrame() { return replyFrame(0x05); }
inline Bytes ackFrame(std::uint8_t letter) { return replyFrame(0x06, {letter}); }
inline Bytes nakFrame(std::uint8_t letter, std::uint8_t reject) { return replyFrame(0x15, {letter, reject}); }
inline Bytes dataFrame(std::uint8_t letter, std::uint8_t completion = '0', const Bytes& payload = {}) {
    return replyFrame(letter, {completion}, payload);
}

// Accepts every write; hands out the queued bytes, at most `chunk` per read
// while they last, then nothing.
class QueuePeer : public standin::PortPeer {
public:
    void queue(const Bytes& bytes) { pending.insert(pending.end(), bytes.begin(), bytes.end()); }
    long onWrite(const std::uint8_t*, std::size_t size) override { return static_cast<long>(size); }
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS&) override {
        std::size_t n = 0;
        while (n < size && !pending.empty()) {
            buffer[n++] = pending.front();
            pending.pop_front();
        }
        return static_cast<long>(n);
    }
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
