// The in-process line between a port and the machine: frames gathered from
// pieces of writes, replies that arrive later, and reads that wait as the
// port's time-outs say, on the virtual clock.
#include "machine_driver.h"

#include "simulator/simulator_peer.h"

#include <gtest/gtest.h>

namespace kestrova::testing {
namespace {

using simulator::MachineDurations;
using simulator::MachineSimulator;
using simulator::SimulatorPeer;

simulator::FaultPlan plan(const std::string& option) { return simulator::parseFaultPlan(option).plan.value(); }

class MachineLineTest : public VirtualClockTest {
protected:
    // Reads one byte at a time, as the link does, until a read brings none.
    Bytes readAll(SimulatorPeer& peer, COMMTIMEOUTS timeouts = linkTimeouts()) {
        Bytes out;
        std::uint8_t byte = 0;
        while (peer.onRead(&byte, 1, timeouts) == 1) out.push_back(byte);
        return out;
    }
};

TEST_F(MachineLineTest, AReadWithNothingToComeWaitsTheTotalTimeOut) {
    MachineSimulator machine(MachineDurations::instant());
    SimulatorPeer peer(machine);
    std::uint8_t byte = 0;
    const auto before = standin::nowMs();
    EXPECT_EQ(peer.onRead(&byte, 1, linkTimeouts()), 0);
    EXPECT_EQ(standin::nowMs() - before, 1500u);
    EXPECT_EQ(peer.onRead(&byte, 1, COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}), 0);
    EXPECT_EQ(standin::nowMs() - before, 1500u) << "an immediate read does not wait";
}

TEST_F(MachineLineTest, AFrameWrittenInPiecesIsAnsweredWhenWhole) {
    MachineSimulator machine(MachineDurations::instant(), plan("wchunk:3"));
    SimulatorPeer peer(machine);
    const Bytes poll = requestFrame(0x20, command::Poll);
    std::size_t sent = 0;
    int writes = 0;
    while (sent < poll.size()) {
        const long n = peer.onWrite(poll.data() + sent, poll.size() - sent);
        ASSERT_GT(n, 0);
        EXPECT_LE(n, 3);
        sent += static_cast<std::size_t>(n);
        ++writes;
        if (sent < poll.size()) {
            EXPECT_EQ(peer.line().pending(), 0u) << "nothing answered before the frame is whole";
        }
    }
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(readAll(peer), requestFrame(0x20, reply::ENQ));
}

TEST_F(MachineLineTest, NoiseAndTwoFramesInOneWriteAreAnsweredInOrder) {
    MachineSimulator machine(MachineDurations::instant());
    SimulatorPeer peer(machine);
    Bytes bytes{0x00, 0xFF};
    for (const Bytes& frame : {requestFrame(0x20, command::Poll), requestFrame(0x21, command::Restore)}) {
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    ASSERT_EQ(peer.onWrite(bytes.data(), bytes.size()), static_cast<long>(bytes.size()));
    Bytes expected = requestFrame(0x20, reply::ENQ);
    const Bytes ack{0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x06, 0x21, 0x03, 0x65};
    expected.insert(expected.end(), ack.begin(), ack.end());
    EXPECT_EQ(readAll(peer), expected);
    EXPECT_EQ(machine.status().badFrames, 0u);
}

TEST_F(MachineLineTest, ASplitReplyArrivesAfterItsGap) {
    struct Case {
        std::uint64_t gapMs;
        bool inTime;  // within the read's 1500 ms
    } cases[] = {{50, true}, {1500, true}, {1501, false}, {4000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gapMs);
        standin::reset();
        standin::setClockMode(standin::ClockMode::Virtual);
        MachineSimulator machine(MachineDurations::instant(), plan("split:poll:" + std::to_string(c.gapMs)));
        SimulatorPeer peer(machine);
        const Bytes poll = requestFrame(0x20, command::Poll);
        peer.onWrite(poll.data(), poll.size());
        const Bytes enq = requestFrame(0x20, reply::ENQ);
        const Bytes got = readAll(peer);
        if (c.inTime) {
            EXPECT_EQ(got, enq);
            EXPECT_EQ(standin::nowMs(), c.gapMs + 1500) << "the gap, then the read that finds nothing more";
        } else {
            EXPECT_EQ(got, Bytes(enq.begin(), enq.begin() + 4));
            // The tail is still on its way and comes with later reads.
            Bytes tail;
            for (int reads = 0; reads < 4 && tail.size() < 5; ++reads) {
                const Bytes more = readAll(peer);
                tail.insert(tail.end(), more.begin(), more.end());
            }
            EXPECT_EQ(tail, Bytes(enq.begin() + 4, enq.end()));
            EXPECT_GE(standin::nowMs(), c.gapMs);
        }
    }
}

TEST_F(MachineLineTest, LateAndTrickledRepliesArriveWhenTheFaultSaysAndAreCountedWhenReadLate) {
    struct Case {
        const char* fault;
        std::vector<std::uint64_t> arrivals;  // ms after the request, per piece on the line
        bool readLate;                        // read only after a second frame went out
    } cases[] = {
        {"late:poll", {1600}, true},
        {"trickle:poll:100", {100, 200, 300, 400, 500, 600, 700, 800, 900}, true},
        {"twice:poll", {0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        MachineSimulator machine(MachineDurations::instant(), plan(c.fault));
        SimulatorPeer peer(machine);
        const std::uint64_t start = standin::nowMs();
        const Bytes poll = requestFrame(0x20, command::Poll);
        ASSERT_EQ(peer.onWrite(poll.data(), poll.size()), static_cast<long>(poll.size()));
        std::vector<std::uint64_t> arrivals;
        std::uint8_t byte = 0;
        if (c.readLate) {
            // The host gives up at once and sends its next frame first.
            const Bytes next = requestFrame(0x21, command::Poll);
            peer.onWrite(next.data(), next.size());
        }
        for (std::size_t i = 0; i < c.arrivals.size(); ++i) {
            standin::advanceVirtualClock(*peer.line().nextArrivalMs() - standin::nowMs());
            arrivals.push_back(standin::nowMs() - start);
            while (peer.line().nextArrivalMs() && *peer.line().nextArrivalMs() <= standin::nowMs()) {
                ASSERT_EQ(peer.onRead(&byte, 1, COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}), 1);
            }
        }
        EXPECT_EQ(arrivals, c.arrivals);
        EXPECT_EQ(peer.line().staleReplies(), c.readLate ? 1u : 0u);
    }
}

}  // namespace
}  // namespace kestrova::testing
