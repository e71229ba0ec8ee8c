#include "link/link_frame.h"
#include "link/request_frame.h"
#include "link_test_support.h"
#include "platform/comm_timeouts.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

const MachineAddress kZ9qq = {'Z', '9', 'Q', 'Q'};

Bytes request(std::uint8_t command, const Bytes& payload = {}, std::uint8_t sequence = 0x20) {
    return encodeRequest(kZ9qq, sequence, command, payload);
}

// A frame as written, with its check byte made to fit whatever was changed.
Bytes withCheck(Bytes frame) {
    if (frame.size() < 2) return frame;
    std::uint8_t check = 0;
    for (std::size_t i = 1; i + 2 < frame.size(); ++i) check ^= frame[i];  // not the ETX
    frame.back() = check;
    return frame;
}

TEST(RequestFrameLength, FoundOnlyOnceTheCheckByteIsIn) {
    const std::vector<Bytes> frames = {
        request('p'),
        request('T', {'3'}),
        // Stuffed framing bytes in the payload do not end the frame.
        request('P', {'A', 0x01, 0x02, 0x03, 0x00, 0xFD, 0xFC, 0xFE}),
        request('J', Bytes(300, 0x03)),
    };
    const Bytes next = request('!');
    for (const Bytes& frame : frames) {
        SCOPED_TRACE(frame.size());
        // Split at every offset: the bytes seen so far, then the rest.
        for (std::size_t split = 0; split <= frame.size(); ++split) {
            SCOPED_TRACE(split);
            const auto seen = requestFrameLength(frame.data(), split);
            if (split < frame.size()) {
                EXPECT_EQ(seen, std::nullopt);
            } else {
                EXPECT_EQ(seen, frame.size());
            }
        }
        // With the next frame already behind it, the first one still ends where it ends.
        Bytes two = frame;
        two.insert(two.end(), next.begin(), next.end());
        for (std::size_t split = frame.size(); split <= two.size(); ++split) {
            EXPECT_EQ(requestFrameLength(two.data(), split), frame.size()) << split;
        }
    }
}

TEST(ReadRequestFrame, OutcomeCanonicalAndPayloadByCase) {
    const NeedlessEscape refused = NeedlessEscape::Refused;
    const NeedlessEscape read = NeedlessEscape::Read;
    struct Case {
        const char* name;
        Bytes bytes;
        NeedlessEscape needless;
        RequestParse outcome;
        bool canonical;
        Bytes payload;  // when Ok
    };
    const Bytes poll = request('p');
    const std::vector<Case> cases = {
        {"poll", poll, refused, RequestParse::Ok, true, {}},
        {"stuffed payload", request('P', {'A', 0x01, 0x02, 0x03, 0xFE}), refused, RequestParse::Ok, true,
         {'A', 0x01, 0x02, 0x03, 0xFE}},
        {"eight bytes", Bytes(poll.begin(), poll.end() - 1), refused, RequestParse::TooShort, false, {}},
        {"check byte off", [&] { Bytes b = poll; b.back() ^= 0x40; return b; }(), refused, RequestParse::BadCheck,
         false, {}},
        {"no ETX before the check byte", withCheck({0x02, 'Z', '9', 'Q', 'Q', 0x20, 'p', 'x', 0x00}), refused,
         RequestParse::BadCheck, false, {}},
        {"lone SOH, refused", withCheck({0x02, 'Z', '9', 'Q', 'Q', 0x20, 'T', '3', 0x01, 0x03, 0x00}), refused,
         RequestParse::BadStuffing, false, {}},
        {"lone SOH, read", withCheck({0x02, 'Z', '9', 'Q', 'Q', 0x20, 'T', '3', 0x01, 0x03, 0x00}), read,
         RequestParse::BadStuffing, false, {}},
        {"needless escape, refused", withCheck({0x02, 'Z', '9', 'Q', 'Q', 0x20, 'T', 0x01, 0xCC, 0x03, 0x00}),
         refused, RequestParse::BadStuffing, false, {}},
        {"needless escape, read", withCheck({0x02, 'Z', '9', 'Q', 'Q', 0x20, 'T', 0x01, 0xCC, 0x03, 0x00}), read,
         RequestParse::Ok, false, {'3'}},
        {"an escaped ETX reads as 0xFC", withCheck({0x02, 'Z', '9', 'Q', 'Q', 0x20, 'T', 0x01, 0x03, 0x03, 0x00}),
         read, RequestParse::Ok, false, {0xFC}},
        {"raw STX in the payload", encodeWithFixedBytes(kZ9qq, 0x20, 'J', {0x02}, {}), refused, RequestParse::Ok,
         false, {0x02}},
        {"raw ETX in the payload", encodeWithFixedBytes(kZ9qq, 0x20, 'J', {'1', 0x03, '2'}, {}), refused,
         RequestParse::Ok, false, {'1', 0x03, '2'}},
        {"no STX first", [&] { Bytes b = poll; b[0] = 0x7F; return b; }(), refused, RequestParse::Ok, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RequestFrame out;
        out.payload = {9, 9};
        const RequestReading reading = readRequestFrame(c.bytes.data(), c.bytes.size(), out, c.needless);
        EXPECT_EQ(reading.outcome, c.outcome);
        EXPECT_EQ(reading.canonical, c.canonical);
        if (c.outcome == RequestParse::Ok) {
            EXPECT_EQ(out.address, kZ9qq);
            EXPECT_EQ(out.sequence, 0x20);
            EXPECT_EQ(out.command, c.bytes[6]);
            EXPECT_EQ(out.payload, c.payload);
        }
    }
}

// Canonical means just this: our encoder writes the frame read as the very
// bytes read. Frames with changed payload bytes (the check byte fitted) put
// it to the test on stuffing of every kind.
TEST(ReadRequestFrame, CanonicalExactlyWhenOurEncoderWritesTheSameBytes) {
    std::mt19937 random(30);
    const Bytes picks = {0x00, 0x01, 0x02, 0x03, 0xFC, 0xFD, 0xFE, 'A', 0x7F};
    std::size_t canonicalSeen = 0;
    std::size_t otherSeen = 0;
    for (int round = 0; round < 4000; ++round) {
        Bytes payload(random() % 6);
        for (auto& byte : payload) byte = picks[random() % picks.size()];
        Bytes frame = request('P', payload, static_cast<std::uint8_t>(random()));
        const std::size_t changes = random() % 3;
        for (std::size_t k = 0; k < changes && frame.size() > 9; ++k) {
            frame[7 + random() % (frame.size() - 9)] = picks[random() % picks.size()];
        }
        frame = withCheck(frame);
        for (const NeedlessEscape needless : {NeedlessEscape::Refused, NeedlessEscape::Read}) {
            RequestFrame out;
            const RequestReading reading = readRequestFrame(frame.data(), frame.size(), out, needless);
            if (reading.outcome != RequestParse::Ok) {
                EXPECT_FALSE(reading.canonical);
                continue;
            }
            const bool same = encodeRequest(out.address, out.sequence, out.command, out.payload) == frame;
            ASSERT_EQ(reading.canonical, same) << round;
            ++(same ? canonicalSeen : otherSeen);
        }
    }
    EXPECT_GT(canonicalSeen, 100u);
    EXPECT_GT(otherSeen, 100u);
}

TEST(ReadWaitMs, WindowsRulesForAnEmptyLine) {
    constexpr DWORD M = MAXDWORD;
    constexpr std::uint64_t m = MAXDWORD;
    struct Case {
        const char* name;
        COMMTIMEOUTS timeouts;
        std::size_t size;
        std::optional<std::uint64_t> wait;
    } cases[] = {
        {"at once with what is there", {M, 0, 0, 0, 0}, 1, 0},
        {"the link's: a byte, else the constant", {M, M, 1500, 0, 1500}, 1, 1500},
        {"the constant whatever the size", {M, M, 1500, 0, 1500}, 64, 1500},
        {"constant 0 is not the first-byte case", {M, M, 0, 0, 0}, 2, 2 * m},
        {"constant MAXDWORD is not either", {M, M, M, 0, 0}, 1, m + m},
        {"no time-outs: for ever", {0, 0, 0, 0, 0}, 1, std::nullopt},
        {"an interval alone runs from a first byte", {50, 0, 0, 0, 0}, 1, std::nullopt},
        {"the total", {0, 10, 100, 0, 0}, 3, 130},
        {"the total with a MAXDWORD interval", {M, 10, 0, 0, 0}, 2, 20},
        {"a MAXDWORD multiplier without the interval", {0, M, 1500, 0, 0}, 1, m + 1500},
        {"a total of nothing asked for", {0, 10, 0, 0, 0}, 0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(readWaitMs(c.timeouts, c.size), c.wait) << c.name;
}

}  // namespace
}  // namespace kestrova::testing
