#include "link/frame_receiver.h"
#include "link/link_session.h"
#include "link/machine_command.h"
#include "link_test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrova::testing {
namespace {

using standin::PortEntry;

class LinkSessionTest : public LinkFixture {
protected:
    LinkSession session() { return LinkSession(spm.table(), handle); }

    // A reply with something in every output, to see failures clear them.
    static LinkReply staleReply() {
        LinkReply r;
        r.replyCode = r.answeredCommand = r.rejectCode = r.completionCode = 9;
        r.replyPayload = {1, 2, 3};
        return r;
    }

    static void expectCleared(const LinkReply& r) {
        EXPECT_EQ(r.replyCode, 0);
        EXPECT_EQ(r.answeredCommand, 0);
        EXPECT_EQ(r.rejectCode, 0);
        EXPECT_EQ(r.completionCode, 0);
        EXPECT_TRUE(r.replyPayload.empty());
    }
};

TEST_F(LinkSessionTest, PollOnANewPortPausesSetsTimeOutsOnceThenWritesAndReads) {
    LinkSession link = session();
    peer.queue(enqFrame());
    LinkReply reply = staleReply();
    ASSERT_EQ(errorCode(link.exchange('p', {}, reply)), 0);
    EXPECT_EQ(reply.replyCode, 0x05);
    EXPECT_TRUE(reply.replyPayload.empty());
    EXPECT_EQ(spm.writtenBytes(), (Bytes{0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33}));
    EXPECT_EQ(standin::sleepCount(), 1u);
    EXPECT_EQ(standin::sleptMs(), 10u);

    const auto calls = spm.calls();
    ASSERT_EQ(calls.size(), 1 + 1 + enqFrame().size());
    EXPECT_EQ(calls[0].entry, PortEntry::SetPortTimeOuts);
    EXPECT_EQ(calls[0].handle, handle);
    EXPECT_EQ(calls[0].reserved, 0u);
    const COMMTIMEOUTS& t = calls[0].timeouts;
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 1500u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1500u);
    EXPECT_EQ(calls[1].entry, PortEntry::WritePort);
    for (std::size_t i = 2; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].entry, PortEntry::ReadPort);
        EXPECT_EQ(calls[i].count, 1u);
    }
}

TEST_F(LinkSessionTest, PartialWritesSendTheRestUntilAllIsAccepted) {
    const Bytes payload = text("A012000452030CARD ONE");
    for (std::size_t limit = 1; limit <= 40; ++limit) {
        spm.clearCalls();
        spm.setWriteLimit(limit);
        peer.queue(ackFrame('P'));
        LinkSession link = session();
        LinkReply reply;
        ASSERT_EQ(errorCode(link.exchange('P', payload, reply)), 0) << limit;
        const auto writes = spm.callsOf(PortEntry::WritePort);
        const std::size_t total = spm.writtenBytes().size();
        ASSERT_EQ(writes.size(), (total + limit - 1) / limit) << limit;
        std::size_t sent = 0;
        for (const auto& w : writes) {
            EXPECT_EQ(w.count, total - sent);
            sent += w.data.size();
        }
        LinkFrame f;
        const Bytes wire = spm.writtenBytes();
        ASSERT_EQ(decode(wire.data(), wire.size(), f), 0);  // request frames decode as data replies
        EXPECT_EQ(f.sequence, 32);
    }
}

TEST_F(LinkSessionTest, FailuresEndTheExchangeWithClearedOutputs) {
    struct Peer0 : QueuePeer {
        long onWrite(const std::uint8_t*, std::size_t) override { return 0; }
    };
    const Bytes reply = dataFrame('w', '0', text("INFO"));
    struct Case {
        const char* what;
        PortEntry entry;
        std::size_t nth;  // 0: no injection
        bool acceptNothing;
        std::size_t replyBytes;
        std::int32_t result;
    };
    const std::vector<Case> cases = {
        {"write of 0 bytes", PortEntry::WritePort, 0, true, reply.size(), -1},
        {"first write fails", PortEntry::WritePort, 1, false, reply.size(), -1},
        {"third write fails", PortEntry::WritePort, 3, false, reply.size(), -1},
        {"silence", PortEntry::ReadPort, 0, false, 0, -2},
        {"reply stops short", PortEntry::ReadPort, 0, false, reply.size() - 1, -2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        spm.clearCalls();
        Peer0 zero;
        QueuePeer& p = c.acceptNothing ? zero : peer;
        spm.setPeer(&p);
        spm.setWriteLimit(4);
        p.pending.clear();
        p.queue(Bytes(reply.begin(), reply.begin() + static_cast<long>(c.replyBytes)));
        if (c.nth != 0) spm.failCall(c.entry, c.nth);
        LinkSession link = session();
        LinkReply out = staleReply();
        EXPECT_EQ(errorCode(link.exchange('w', {}, out)), c.result);
        expectCleared(out);
        EXPECT_EQ(link.sequence, 32);  // used up all the same
        if (c.result == -1) {
            EXPECT_EQ(spm.callsOf(PortEntry::ReadPort).size(), 0u);
        }
        spm.setPeer(&peer);
    }
    // A read failing at any byte of the reply ends with -2; past the reply it is never reached.
    for (std::size_t nth = 1; nth <= reply.size() + 1; ++nth) {
        peer.pending.clear();
        peer.queue(reply);
        spm.failCall(PortEntry::ReadPort, nth);
        LinkSession link = session();
        LinkReply out = staleReply();
        const std::int32_t result = errorCode(link.exchange('w', {}, out));
        if (nth <= reply.size()) {
            EXPECT_EQ(result, -2) << nth;
            expectCleared(out);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(out.replyPayload, text("INFO"));
        }
    }
}

TEST_F(LinkSessionTest, SequenceRunsFrom32To254AndWraps) {
    spm.setRecordCalls(false);
    LinkSession link = session();
    std::vector<std::uint8_t> sent;
    for (int i = 0; i < 224 + 2; ++i) {
        if (i % 3 == 0) peer.queue(eotFrame());  // others fail with -2 and still count
        LinkReply reply;
        link.exchange('p', {}, reply);
        sent.push_back(link.sequence);
    }
    EXPECT_EQ(sent.front(), 32);
    EXPECT_EQ(sent[222], 254);
    EXPECT_EQ(sent[223], 32);
    EXPECT_EQ(sent[224], 33);
    EXPECT_TRUE(spm.writtenBytes().empty()) << "a run without recording keeps no bytes";
    for (std::uint8_t s : sent) {
        EXPECT_GE(s, 32);
        EXPECT_LE(s, 254);
    }
    link.sequence = kSequenceRestart;
    LinkReply reply;
    link.exchange('p', {}, reply);
    EXPECT_EQ(link.sequence, 32);
}

TEST_F(LinkSessionTest, ReadsExactlyOneFrameAndAcceptsAnyAddressOrSequence) {
    Bytes foreign = replyFrame(0x06, {'L'}, {}, 0x99);
    foreign[1] = 'A';
    foreign.back() ^= 'Z' ^ 'A';
    peer.queue(foreign);
    peer.queue(dataFrame('L', '3'));
    LinkSession link = session();
    LinkReply reply;
    ASSERT_EQ(errorCode(link.exchange('L', {}, reply)), 0);
    EXPECT_EQ(reply.replyCode, 0x06);
    EXPECT_EQ(reply.answeredCommand, 'L');
    EXPECT_EQ(spm.callsOf(PortEntry::ReadPort).size(), foreign.size());
    // The bytes after the frame start the next exchange's reply.
    ASSERT_EQ(errorCode(link.exchange('p', {}, reply)), 0);
    EXPECT_EQ(reply.replyCode, 'L');
    EXPECT_EQ(reply.completionCode, '3');
}

TEST_F(LinkSessionTest, EveryReplyGivesTheSameResultHoweverItArrives) {
    const std::vector<Bytes> replies = {eotFrame(), ackFrame('!'), nakFrame('J', 7),
                                        dataFrame('w', '0', {0x01, 0x02, 0x03, 'z'})};
    for (const Bytes& wire : replies) {
        LinkFrame expected;
        ASSERT_EQ(decode(wire.data(), wire.size(), expected), 0);
        // The reply split at every offset: the first part is waiting when the
        // request goes out, the rest arrives as the reads go on.
        for (std::size_t split = 0; split <= wire.size(); ++split) {
            struct SplitPeer : QueuePeer {
                Bytes later;
                long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& t) override {
                    if (pending.empty()) {
                        queue(later);
                        later.clear();
                    }
                    return QueuePeer::onRead(buffer, size, t);
                }
            } split_peer;
            split_peer.queue(Bytes(wire.begin(), wire.begin() + static_cast<long>(split)));
            split_peer.later.assign(wire.begin() + static_cast<long>(split), wire.end());
            spm.setPeer(&split_peer);
            spm.clearCalls();
            LinkSession link = session();
            LinkReply reply;
            ASSERT_EQ(errorCode(link.exchange('p', {}, reply)), 0);
            EXPECT_EQ(reply.replyCode, expected.command);
            EXPECT_EQ(reply.answeredCommand, expected.answeredCommand);
            EXPECT_EQ(reply.rejectCode, expected.rejectCode);
            EXPECT_EQ(reply.completionCode, expected.completionCode);
            EXPECT_EQ(reply.replyPayload, expected.payload);
            EXPECT_EQ(spm.callsOf(PortEntry::ReadPort).size(), wire.size());
            EXPECT_TRUE(split_peer.pending.empty() && split_peer.later.empty());
        }
    }
    spm.setPeer(&peer);
}

TEST_F(LinkSessionTest, EndlessBytesWithoutAFrameStopAtTheCap) {
    spm.setRecordCalls(false);
    // Falls silent only long after the cap, so a missing cap fails rather than hangs.
    struct Babbler : QueuePeer {
        std::size_t left = 2 * FrameReceiver::kCapacity;
        long onRead(std::uint8_t* buffer, std::size_t, const COMMTIMEOUTS&) override {
            if (left == 0) return 0;
            --left;
            buffer[0] = 0x00;
            return 1;
        }
    } babbler;
    spm.setPeer(&babbler);
    LinkSession link = session();
    LinkReply reply = staleReply();
    EXPECT_EQ(errorCode(link.exchange('p', {}, reply)), -2);
    expectCleared(reply);
    EXPECT_EQ(spm.countOf(PortEntry::ReadPort), FrameReceiver::kCapacity);

    // A reply that ends exactly at the cap is still taken.
    spm.setPeer(&peer);
    Bytes big = dataFrame('w', '0', Bytes(FrameReceiver::kCapacity - 10, 'x'));
    ASSERT_EQ(big.size(), FrameReceiver::kCapacity);
    peer.queue(big);
    EXPECT_EQ(errorCode(link.exchange('w', {}, reply)), 0);
    EXPECT_EQ(reply.replyPayload.size(), FrameReceiver::kCapacity - 10);
}

// A clock of the test's own: each reading is a second later than the last.
DWORD gTestNow = 0;
std::vector<DWORD> gTestPauses;
DWORD testNowMs() { return gTestNow += 1000; }
void testPause(DWORD ms) { gTestPauses.push_back(ms); }
constexpr ModuleClock kTestClock{&testNowMs, &testPause};

TEST_F(LinkSessionTest, WaitsAndMeasuresOnTheClockItIsGiven) {
    gTestNow = 0;
    gTestPauses.clear();
    LinkSession link(spm.table(), handle, kTestClock);
    peer.queue(enqFrame());
    LinkReply reply;
    // Nine reads of one byte each: on a clock a second on at each reading,
    // the bound on one reply passes before the frame is whole.
    EXPECT_EQ(errorCode(link.exchange('p', {}, reply)), -2);
    EXPECT_EQ(gTestPauses, std::vector<DWORD>{10});
    EXPECT_EQ(standin::sleepCount(), 0u);

    // The same reply on the platform's clock is taken.
    peer.pending.clear();
    peer.queue(enqFrame());
    LinkSession onPlatform = session();
    EXPECT_EQ(errorCode(onPlatform.exchange('p', {}, reply)), 0);
    EXPECT_EQ(standin::sleepCount(), 1u);
}

TEST_F(LinkSessionTest, MissingPortMonitorEntries) {
    struct Case {
        const char* what;
        bool timeouts, write, read;
        std::int32_t result;
    };
    const std::vector<Case> cases = {
        {"no SetPortTimeOuts", false, true, true, 0},
        {"no WritePort", true, false, true, -1},
        {"no ReadPort", true, true, false, -2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MONITOR2 table = *spm.table();
        if (!c.timeouts) table.pfnSetPortTimeOuts = nullptr;
        if (!c.write) table.pfnWritePort = nullptr;
        if (!c.read) table.pfnReadPort = nullptr;
        peer.pending.clear();
        peer.queue(enqFrame());
        spm.clearCalls();
        LinkSession link(&table, handle);
        LinkReply reply = staleReply();
        EXPECT_EQ(errorCode(link.exchange('p', {}, reply)), c.result);
        if (c.result != 0) expectCleared(reply);
        EXPECT_EQ(link.sequence, 32);
        EXPECT_EQ(spm.callsOf(PortEntry::WritePort).size(), c.write ? 1u : 0u);
    }
    LinkSession unbound(nullptr, handle);
    LinkReply reply;
    EXPECT_EQ(errorCode(unbound.exchange('p', {}, reply)), -1);
}

TEST_F(LinkSessionTest, WhatWaitsOnTheLineIsReadOffWithoutWaitingAndHandedBackFrameByFrame) {
    struct Case {
        const char* what;
        Bytes waiting;
        bool timeoutsTaken;  // the port monitor takes the time-outs that do not wait
        std::vector<std::uint8_t> codes;  // the reply codes handed back, in order
        std::size_t left;                 // bytes still on the line afterwards
    };
    Bytes ackAndData = ackFrame('L');
    const Bytes data = dataFrame('P', '0');
    ackAndData.insert(ackAndData.end(), data.begin(), data.end());
    Bytes cutThenFrame = {0x39, 0x51};
    cutThenFrame.insert(cutThenFrame.end(), data.begin(), data.end());
    const std::vector<Case> cases = {
        {"nothing", {}, true, {}, 0},
        {"an ENQ", enqFrame(), true, {reply::ENQ}, 0},
        {"two replies", ackAndData, true, {reply::ACK, 'P'}, 0},
        {"the rest of a reply, then a reply", cutThenFrame, true, {'P'}, 0},
        {"a port monitor that refuses the time-outs", enqFrame(), false, {}, enqFrame().size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        peer.onTheLine.clear();
        peer.alreadyOnTheLine(c.waiting);
        spm.clearCalls();
        spm.setResult(PortEntry::SetPortTimeOuts, c.timeoutsTaken ? TRUE : FALSE);
        LinkSession link = session();
        std::vector<LinkReply> found(3);
        link.readWaiting(found);
        std::vector<std::uint8_t> codes;
        for (const LinkReply& r : found) codes.push_back(r.replyCode);
        EXPECT_EQ(codes, c.codes);
        EXPECT_EQ(peer.onTheLine.size(), c.left);
        const auto calls = spm.calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls[0].entry, PortEntry::SetPortTimeOuts);
        EXPECT_EQ(calls[0].timeouts.ReadIntervalTimeout, MAXDWORD);
        EXPECT_EQ(calls[0].timeouts.ReadTotalTimeoutMultiplier, 0u);
        EXPECT_EQ(calls[0].timeouts.ReadTotalTimeoutConstant, 0u);
        EXPECT_EQ(spm.callsOf(PortEntry::ReadPort).size(), c.timeoutsTaken ? c.waiting.size() + 1 : 0u);
        EXPECT_EQ(link.sequence, kSequenceRestart) << "nothing was sent";
    }
    spm.setResult(PortEntry::SetPortTimeOuts, TRUE);
}

TEST_F(LinkSessionTest, AReplyThatTricklesIsGivenUpOnceItsReadingPassesTheBound) {
    // One byte per read, each after `gapMs` of the platform clock.
    struct Trickle : QueuePeer {
        std::uint64_t gapMs = 0;
        long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& t) override {
            if (pending.empty()) return 0;
            standin::advanceVirtualClock(gapMs);
            return QueuePeer::onRead(buffer, std::min<std::size_t>(size, 1), t);
        }
    };
    struct Case {
        std::uint64_t gapMs;
        std::int32_t result;
    } cases[] = {{300, 0}, {1400, -2}};
    const Bytes info = dataFrame('w', '0', text("MDL0"));  // 14 bytes
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gapMs);
        Trickle trickle;
        trickle.gapMs = c.gapMs;
        trickle.queue(info);
        spm.setPeer(&trickle);
        LinkSession link = session();
        LinkReply reply = staleReply();
        const std::uint64_t start = standin::nowMs();
        EXPECT_EQ(errorCode(link.exchange('w', {}, reply)), c.result);
        const std::uint64_t took = standin::nowMs() - start;
        if (c.result == 0) {
            EXPECT_EQ(reply.replyPayload, text("MDL0"));
        } else {
            expectCleared(reply);
            // The bound and at most one more read: not the 14 reads the reply would take.
            EXPECT_LE(took, 10 + kLongestReplyMs + c.gapMs);
            EXPECT_LT(trickle.pending.size(), info.size() - 3);
            // The rest still comes: nothing may be sent until it has, and
            // each wait for it stays within the bound.
            EXPECT_TRUE(link.lineUnsettled);
            std::vector<LinkReply> waiting;
            std::size_t rounds = 1;
            for (std::uint64_t before = standin::nowMs(); !link.readWaiting(waiting); before = standin::nowMs()) {
                EXPECT_LE(standin::nowMs() - before, kLongestReplyMs + c.gapMs);
                ++rounds;
            }
            EXPECT_GE(rounds, 2u);
            EXPECT_TRUE(trickle.pending.empty());
            EXPECT_FALSE(link.lineUnsettled);
        }
    }
    spm.setPeer(&peer);
}

}  // namespace
}  // namespace kestrova::testing
