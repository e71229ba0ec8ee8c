#include "link/frame_receiver.h"
#include "link/link_frame.h"
#include "link/reply_encoder.h"
#include "link_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace kestrova::testing {
namespace {

LinkFrame request(std::uint8_t sequence, std::uint8_t command, Bytes payload = {}) {
    LinkFrame f;
    f.address = {'Z', '9', 'Q', 'Q'};
    f.sequence = sequence;
    f.command = command;
    f.payload = std::move(payload);
    return f;
}

// A record full of leftovers, to see decoding clear it.
LinkFrame dirtyFrame() {
    LinkFrame f = request(9, 9, {1, 2, 3});
    f.answeredCommand = f.rejectCode = f.completionCode = 7;
    return f;
}

void expectCleared(const LinkFrame& f) {
    EXPECT_EQ(f.address, MachineAddress{});
    EXPECT_EQ(f.sequence, 0);
    EXPECT_EQ(f.command, 0);
    EXPECT_EQ(f.answeredCommand, 0);
    EXPECT_EQ(f.rejectCode, 0);
    EXPECT_EQ(f.completionCode, 0);
    EXPECT_TRUE(f.payload.empty());
}

TEST(FrameEncode, WireBytesOfKnownFrames) {
    struct Case {
        LinkFrame frame;
        Bytes wire;
    };
    const std::vector<Case> cases = {
        {request(0x20, 'p'), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33}},
        {request(0x20, 'T', {'3'}), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x54, 0x33, 0x03, 0x24}},
        // The check byte covers the escaped pair, not the 0x02 it stands for.
        {request(0x21, 'T', {0x02}), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x54, 0x01, 0xFD, 0x03, 0xEA}},
        {request(0x21, '!'), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x21, 0x03, 0x63}},
    };
    for (const auto& c : cases) EXPECT_EQ(encode(c.frame), c.wire);
}

TEST(FrameEncode, RepliesAsTheMachineWritesThem) {
    const MachineAddress z9qq = {'Z', '9', 'Q', 'Q'};
    struct Case {
        Bytes encoded;
        Bytes wire;
    };
    const std::vector<Case> cases = {
        {encodeEot(z9qq, 0x20), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x04, 0x03, 0x47}},
        {encodeEnq(z9qq, 0x20), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x05, 0x03, 0x46}},
        {encodeAck(z9qq, 0x21, '!'), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x06, 0x21, 0x03, 0x65}},
        // The reject code goes out raw even where a payload byte would be stuffed.
        {encodeNak(z9qq, 0x20, 'J', 0x02), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x15, 0x4A, 0x02, 0x03, 0x1E}},
        {encodeData(z9qq, 0x22, '!', '0'), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x21, 0x30, 0x03, 0x50}},
        {encodeData(z9qq, 0x23, 'w', '0', {'A', 0x03}),
         {0x02, 0x5A, 0x39, 0x51, 0x51, 0x23, 0x77, 0x30, 0x41, 0x01, 0xFC, 0x03, 0xBB}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.encoded, c.wire);
}

TEST(FrameEncode, StuffsOnlyPayloadBytesOneToThree) {
    // Header bytes 0x01..0x03 stay raw; the payload's are stuffed; 0x00, 0x04
    // and a lone 0xFC..0xFE go out as they are.
    LinkFrame f = request(0x03, 0x02, {0x00, 0x01, 0x02, 0x03, 0x04, 0xFC, 0xFD, 0xFE});
    f.address = {0x01, 0x02, 0x03, 0x04};
    const Bytes wire = encode(f);
    const Bytes inner(wire.begin() + 1, wire.end() - 2);
    EXPECT_EQ(inner, (Bytes{0x01, 0x02, 0x03, 0x04, 0x03, 0x02, 0x00, 0x01, 0xFE, 0x01, 0xFD, 0x01, 0xFC, 0x04,
                            0xFC, 0xFD, 0xFE}));
}

TEST(FrameDecode, RepliesByCode) {
    LinkFrame f = dirtyFrame();
    ASSERT_EQ(decode(ackFrame('P').data(), ackFrame('P').size(), f), 0);
    EXPECT_EQ(f.command, 0x06);
    EXPECT_EQ(f.answeredCommand, 'P');
    EXPECT_TRUE(f.payload.empty());

    const Bytes nak = nakFrame('J', 7);
    ASSERT_EQ(decode(nak.data(), nak.size(), f), 0);
    EXPECT_EQ(f.answeredCommand, 'J');
    EXPECT_EQ(f.rejectCode, 7);

    // Worked reply of a restore: code "!", completion "0".
    const Bytes done = {0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x21, 0x30, 0x03, 0x50};
    ASSERT_EQ(decode(done.data(), done.size(), f), 0);
    EXPECT_EQ(f.address, (MachineAddress{'Z', '9', 'Q', 'Q'}));
    EXPECT_EQ(f.sequence, 0x22);
    EXPECT_EQ(f.answeredCommand, '!');
    EXPECT_EQ(f.completionCode, '0');

    const Bytes info = dataFrame('w', '0', text("MODULE 1"));
    ASSERT_EQ(decode(info.data(), info.size(), f), 0);
    EXPECT_EQ(f.answeredCommand, 'w');
    EXPECT_EQ(f.payload, text("MODULE 1"));

    // Bytes after an EOT's code are ignored but still checked.
    const Bytes eot = replyFrame(0x04, {'x', 'y'});
    ASSERT_EQ(decode(eot.data(), eot.size(), f), 0);
    EXPECT_EQ(f.command, 0x04);
    EXPECT_EQ(f.answeredCommand, 0);
}

TEST(FrameDecode, EveryPayloadByteSurvivesTheRoundTrip) {
    Bytes all = {'0'};  // the completion code leads a data reply's payload
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<std::uint8_t>(b));
    const Bytes wire = encode(request(0x40, 'w', all));
    LinkFrame f;
    ASSERT_EQ(decode(wire.data(), wire.size(), f), 0);
    EXPECT_EQ(f.payload, Bytes(all.begin() + 1, all.end()));
}

TEST(FrameDecode, SohUnescapesOnlyTheByteAfterIt) {
    struct Case {
        Bytes stuffed;  // payload as sent
        Bytes plain;
    };
    const std::vector<Case> cases = {
        {{0xFD}, {0xFD}},
        {{0x01, 0xFD}, {0x02}},
        {{0x01, 0x41}, {0xBE}},
        {{'A', 0x01}, {'A'}},  // a lone SOH before the ETX is dropped
        {{0x01}, {}},
    };
    for (const auto& c : cases) {
        Bytes fixed = {'0'};
        fixed.insert(fixed.end(), c.stuffed.begin(), c.stuffed.end());
        const Bytes wire = replyFrame('w', fixed);
        LinkFrame f;
        ASSERT_EQ(decode(wire.data(), wire.size(), f), 0);
        EXPECT_EQ(f.payload, c.plain);
    }
}

TEST(FrameDecode, NegativeResultsLeaveTheRecordCleared) {
    Bytes badCheck = ackFrame('P');
    badCheck.back() ^= 0x10;
    Bytes noEtx = ackFrame('P');
    noEtx.push_back(0x00);
    // 8 and 9 bytes with a data code whose check matches: still too short.
    Bytes eight = {0x02, 'Z', '9', 'Q', 'Q', 0x20, 0x03, 0x00};
    for (std::size_t i = 1; i <= 5; ++i) eight[7] ^= eight[i];
    Bytes eightBadCheck = eight;
    eightBadCheck[7] ^= 0x01;
    const Bytes nine = replyFrame('w');
    struct Case {
        Bytes wire;
        int result;
    };
    const std::vector<Case> cases = {
        {{}, -1},         {Bytes(7, 0x03), -1}, {noEtx, -2}, {badCheck, -3},
        {eightBadCheck, -3}, {eight, -1},       {nine, -1},
    };
    for (const auto& c : cases) {
        LinkFrame f = dirtyFrame();
        // An exactly sized copy lets the sanitizers see any read past the end.
        const Bytes exact(c.wire);
        EXPECT_EQ(decode(exact.data(), exact.size(), f), c.result);
        expectCleared(f);
    }
}

TEST(FrameDecode, ByteByByteOnlyTheCheckByteCompletes) {
    const Bytes stray = [] {
        Bytes b = {0x00};
        const Bytes enq = enqFrame();
        b.insert(b.end(), enq.begin(), enq.end());
        return b;
    }();
    for (const Bytes& wire : {enqFrame(), ackFrame('!'), nakFrame('J', 7), dataFrame('w', '0', {0x01, 0x03, 'x'})}) {
        LinkFrame f;
        for (std::size_t n = 1; n <= wire.size(); ++n) {
            const int result = decode(wire.data(), n, f);
            if (n < 8) {
                EXPECT_EQ(result, -1) << n;
            } else if (n < wire.size()) {
                EXPECT_LT(result, 0) << n;
            } else {
                EXPECT_EQ(result, 0);
            }
        }
    }
    // A stray leading byte drags the STX into the check: nothing ever decodes.
    LinkFrame f;
    for (std::size_t n = 1; n <= stray.size(); ++n) EXPECT_LT(decode(stray.data(), n, f), 0) << n;
}

// The receiver must agree with decoding the whole buffer after every byte.
// Returns how many prefixes were frames.
int expectReceiverAgrees(const Bytes& buffer) {
    int frames = 0;
    FrameReceiver receiver;
    for (std::size_t n = 1; n <= buffer.size(); ++n) {
        LinkFrame whole;
        const int expected = decode(buffer.data(), n, whole);
        const int pushed = receiver.push(buffer[n - 1]);
        EXPECT_EQ(pushed, expected) << "after byte " << n;
        if (pushed != expected) return frames;
        if (expected == 0) {
            ++frames;
            LinkFrame got = dirtyFrame();
            EXPECT_EQ(receiver.complete(got), 0);
            EXPECT_EQ(got.address, whole.address);
            EXPECT_EQ(got.sequence, whole.sequence);
            EXPECT_EQ(got.command, whole.command);
            EXPECT_EQ(got.answeredCommand, whole.answeredCommand);
            EXPECT_EQ(got.rejectCode, whole.rejectCode);
            EXPECT_EQ(got.completionCode, whole.completionCode);
            EXPECT_EQ(got.payload, whole.payload);
        }
    }
    return frames;
}

TEST(FrameReceiver, AgreesWithDecodeOnEveryPrefix) {
    for (const Bytes& wire : {eotFrame(), ackFrame('L'), nakFrame('P', 3), dataFrame('w', '0', text("abc\x01\x02")),
                              dataFrame('L', '3'), replyFrame('w', {'0', 'A', 0x01})}) {
        expectReceiverAgrees(wire);
        Bytes twice = wire;  // a frame, then bytes that keep the buffer going
        twice.insert(twice.end(), wire.begin(), wire.end());
        expectReceiverAgrees(twice);
    }
    // Random buffers over bytes that make ETX and matching checks common.
    int frames = 0;
    std::mt19937 random(12345);
    const std::uint8_t alphabet[] = {0x01, 0x02, 0x03, 0x04, 0x06, 0x15, 0x21, 0x30};
    for (int round = 0; round < 2000; ++round) {
        Bytes buffer(1 + random() % 40);
        for (auto& b : buffer) b = alphabet[random() % sizeof alphabet];
        frames += expectReceiverAgrees(buffer);
    }
    EXPECT_GT(frames, 50);  // the corpus really exercises completion
}

}  // namespace
}  // namespace kestrova::testing
