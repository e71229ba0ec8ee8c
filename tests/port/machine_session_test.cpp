// A port's exchanges with its machine: each reply read for the machine, for
// the card in it and for the queue, and what waits on the line read first.
#include "link/link_test_support.h"
#include "link/machine_command.h"
#include "port/monitor_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace kestrova::testing {
namespace {

class MachineSessionTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        port = std::make_unique<MonitorPort>(nullptr, spm.monitorHandle(), wideFromAscii("LPT1:"),
                                             wideFromAscii("Printer"), handle, spm.table());
    }

    // One exchange answered by `answer`, starting from the given state and
    // an earlier halt (completion character 77).
    std::int32_t answered(const Bytes& answer, MachineState from = state::Unknown) {
        const PortLock guard(*port);
        port->machine().presume(from, ExchangeOutcome::completedWithError(77));
        peer.pending.clear();
        peer.queue(answer);
        return exchange(command::Poll);
    }

    // One exchange; the reply's code and payload are kept for the test.
    std::int32_t exchange(std::uint8_t command) REQUIRES(port->portLock) {
        const std::int32_t result = errorCode(port->machine().exchange(command, {}));
        replyCode = port->machine().lastReply().replyCode;
        replyPayload = port->machine().lastReply().replyPayload;
        return result;
    }

    void queueCards(std::initializer_list<const char*> firstLines) {
        port->intake().withQueue([&](JobQueue& queue) {
            queue.clearRecords();
            for (const char* line : firstLines) {
                CardLines lines;
                lines.push_back(line);
                queue.records.emplace_back(queue.layout, lines);
            }
        });
    }

    std::string frontCard() {
        return port->intake().withQueue([](JobQueue& queue) { return std::string(queue.records.front().lines()[0]); });
    }

    std::unique_ptr<MonitorPort> port;
    std::uint8_t replyCode = 0;
    Bytes replyPayload;
};

TEST_F(MachineSessionTest, AcknowledgementsStartAnOperation) {
    struct Case {
        std::uint8_t letter;
        std::int32_t result;
        MachineState state;  // -1: unchanged
    };
    const std::vector<Case> cases = {
        {'!', 0, 2}, {'l', 0, 4},  {'L', 0, 6},  {'P', 0, 8},  {'E', 0, 10},
        {'J', -3, -1}, {'T', -3, -1}, {'w', -3, -1}, {'p', -3, -1}, {'Z', -3, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letter);
        EXPECT_EQ(answered(ackFrame(c.letter), state::LoadComplete), c.result);
        EXPECT_EQ(port->machine().state(), c.state < 0 ? state::LoadComplete : c.state);
        // Only the acknowledged restore clears the error.
        EXPECT_EQ(port->machine().hwErrorCode(), c.letter == '!' ? 0 : 77);
        EXPECT_EQ(replyCode, reply::ACK);
    }
}

TEST_F(MachineSessionTest, DataRepliesFinishAnOperation) {
    struct Case {
        std::uint8_t letter;
        std::uint8_t completion;
        std::int32_t result;
        MachineState state;  // -1: unchanged
        std::int32_t hwError;
    };
    const std::vector<Case> cases = {
        {'!', '0', 0, 3, 77},   {'l', '0', 0, 5, 77},  {'L', '0', 0, 7, 77},     {'P', '0', 0, 9, 77},
        {'E', '0', 0, 11, 77},  {'J', '0', 0, -1, 77}, {'T', '0', 0, -1, 77},    {'w', '0', 0, -1, 77},
        {'Z', '0', -3, -1, 77}, {'L', '3', 51, 7, 51}, {'J', 0xFF, 255, -1, 255}, {'Z', '3', 51, -1, 51},
        {'Z', 0x00, 0, -1, 0},  {'E', 0x02, 2, 11, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.letter << " completion " << int(c.completion));
        EXPECT_EQ(answered(dataFrame(c.letter, c.completion, text("xy")), state::Ejecting), c.result);
        EXPECT_EQ(port->machine().state(), c.state < 0 ? state::Ejecting : c.state);
        EXPECT_EQ(port->machine().hwErrorCode(), c.hwError);
        EXPECT_EQ(replyCode, c.letter);
        EXPECT_EQ(replyPayload, text("xy"));
    }
}

TEST_F(MachineSessionTest, RefusalsPollAnswersAndLinkFailuresChangeNothing) {
    struct Case {
        const char* what;
        Bytes answer;
        std::int32_t result;
        std::uint8_t replyCode;
    };
    const std::vector<Case> cases = {
        {"NAK 7", nakFrame('J', 7), 5383, reply::NAK},
        {"NAK 255", nakFrame('P', 0xFF), 0x1500 + 255, reply::NAK},
        {"EOT", eotFrame(), 0, reply::EOT},
        {"ENQ", enqFrame(), 0, reply::ENQ},
        {"silence", {}, -2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(answered(c.answer, state::Personalizing), c.result);
        EXPECT_EQ(port->machine().state(), state::Personalizing);
        EXPECT_EQ(port->machine().hwErrorCode(), 77);
        EXPECT_EQ(replyCode, c.replyCode);
        EXPECT_TRUE(replyPayload.empty());
    }
    spm.failCall(standin::PortEntry::WritePort, 1);
    EXPECT_EQ(answered(ackFrame('!'), state::Ejecting), -1);
    EXPECT_EQ(port->machine().state(), state::Ejecting);
    EXPECT_EQ(port->machine().hwErrorCode(), 77);
}

TEST_F(MachineSessionTest, RestoreAfterPersonalisationDropsTheFrontCard) {
    for (MachineState from = state::Unknown; from <= state::EjectComplete; ++from) {
        SCOPED_TRACE(from);
        queueCards({"first", "second"});
        EXPECT_EQ(answered(ackFrame('!'), from), 0);
        EXPECT_EQ(port->machine().state(), state::Restoring);
        EXPECT_EQ(port->machine().hwErrorCode(), 0);
        const bool dropped = from >= state::PersonalizationComplete;
        ASSERT_EQ(port->intake().cardsLeft(), dropped ? 1u : 2u);
        EXPECT_EQ(frontCard(), dropped ? "second" : "first");
    }
    queueCards({});
    EXPECT_EQ(answered(ackFrame('!'), state::Ejecting), 0);  // nothing to drop
    EXPECT_EQ(port->machine().state(), state::Restoring);
    EXPECT_EQ(port->intake().cardsLeft(), 0u);
}

// Whichever of a restore's replies is read first gives up a card finished
// after personalisation, exactly once; a spoiled card, or one of a deleted
// job, is never given up. An empty reply is one lost on the line.
TEST_F(MachineSessionTest, ARestoreGivesUpAFinishedCardOnceWhicheverReplyIsReadFirst) {
    struct Step {
        std::uint8_t command;
        Bytes reply;
    };
    struct Case {
        const char* name;
        MachineState from;
        CardInMachine card;
        std::vector<Step> steps;
        std::size_t cardsLeft;  // of two
    };
    const Bytes lost;
    Bytes corrupt = ackFrame('!');
    corrupt.back() ^= 0xFF;
    const Step restoreAcked{command::Restore, ackFrame('!')};
    const Step restoreDone{command::Poll, dataFrame('!')};
    const CardInMachine spoiled{false, true, false};
    const CardInMachine orphaned{false, false, true};
    const std::vector<Case> cases = {
        {"AckThenCompletion", state::PersonalizationComplete, {}, {restoreAcked, restoreDone}, 1},
        {"AckLostThenCompletion", state::PersonalizationComplete, {}, {{command::Restore, lost}, restoreDone}, 1},
        {"AckCorruptThenCompletion", state::Ejecting, {}, {{command::Restore, corrupt}, restoreDone}, 1},
        {"BothLostThenRestoredAgain",
         state::EjectComplete,
         {},
         {{command::Restore, lost}, {command::Poll, lost}, restoreAcked, restoreDone},
         1},
        {"StateMovedOnAfterTheAck",
         state::PersonalizationComplete,
         {},
         {restoreAcked, {command::Poll, dataFrame('E')}, restoreDone},
         1},
        {"AckLostBeforePersonalisationDone", state::Personalizing, {}, {{command::Restore, lost}, restoreDone}, 2},
        {"SpoiledCard", state::PersonalizationComplete, spoiled, {restoreAcked, restoreDone}, 2},
        {"SpoiledCardAckLost", state::PersonalizationComplete, spoiled, {{command::Restore, lost}, restoreDone}, 2},
        {"CardOfADeletedJob", state::EjectComplete, orphaned, {{command::Restore, lost}, restoreDone}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        queueCards({"first", "second"});
        const PortLock guard(*port);
        port->machine().presume(c.from, {}, c.card);
        for (const Step& step : c.steps) {
            peer.pending.clear();
            peer.queue(step.reply);
            exchange(step.command);
        }
        EXPECT_EQ(port->machine().state(), state::RestoreComplete);
        ASSERT_EQ(port->intake().cardsLeft(), c.cardsLeft);
        EXPECT_EQ(frontCard(), c.cardsLeft == 1 ? "second" : "first");
        EXPECT_FALSE(port->machine().card().spoiled || port->machine().card().orphaned);
    }
}

TEST_F(MachineSessionTest, WorkedStartOnANewPort) {
    const Bytes restoreAck = {0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x06, 0x21, 0x03, 0x65};
    const Bytes restoreDone = {0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x21, 0x30, 0x03, 0x50};
    peer.queue(enqFrame());
    peer.queue(restoreAck);
    peer.queue(restoreDone);
    const PortLock guard(*port);
    EXPECT_EQ(exchange(command::Poll), 0);
    EXPECT_EQ(port->machine().state(), state::Unknown);
    EXPECT_EQ(exchange(command::Restore), 0);
    EXPECT_EQ(port->machine().state(), state::Restoring);
    EXPECT_EQ(exchange(command::Poll), 0);
    EXPECT_EQ(port->machine().state(), state::RestoreComplete);
    const Bytes expected = {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33,   // Poll
                            0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x21, 0x03, 0x63,   // Restore
                            0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x70, 0x03, 0x31};  // Poll
    EXPECT_EQ(spm.writtenBytes(), expected);
}

TEST_F(MachineSessionTest, AReplyThatCameAfterItsExchangeGaveUpIsReadByItsLetterBeforeTheNextCommand) {
    // The machine's report came after the read time-out; the port was halted
    // and a restore is now sent. Read as the restore's own answer it would
    // hide the restore's acknowledgement; read first, by its letter, it is
    // what it says.
    struct Case {
        const char* what;
        Bytes late;
        MachineState from;
        std::int32_t result;
        MachineState state;
        std::size_t cardsLeft;
        bool sent;  // the Restore went out
    };
    Bytes two = ackFrame('E');
    const Bytes ejected = dataFrame('E', '0');
    two.insert(two.end(), ejected.begin(), ejected.end());
    const std::vector<Case> cases = {
        {"personalisation done: the restore gives the card up", dataFrame('P', '0'), state::Personalizing, 0,
         state::Restoring, 1, true},
        {"an ENQ says nothing", enqFrame(), state::Personalizing, 0, state::Restoring, 2, true},
        {"acknowledged and done: the card is out", two, state::PersonalizationComplete, 0, state::Restoring, 1, true},
        {"a load that failed halts, nothing is sent", dataFrame('L', '3'), state::LoadStarted, 51,
         state::LoadComplete, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        queueCards({"A", "B"});
        const PortLock guard(*port);
        port->machine().presume(c.from, ExchangeOutcome::Kind::NoReply);
        peer.pending.clear();
        peer.onTheLine.clear();
        peer.alreadyOnTheLine(c.late);
        peer.queue(ackFrame('!'));
        spm.clearCalls();
        EXPECT_EQ(exchange(command::Restore), c.result);
        EXPECT_EQ(port->machine().state(), c.state);
        EXPECT_EQ(port->intake().cardsLeft(), c.cardsLeft);
        EXPECT_EQ(spm.callsOf(standin::PortEntry::WritePort).size(), c.sent ? 1u : 0u);
        EXPECT_EQ(port->machine().hwErrorCode(), c.sent ? 0 : 51);
    }
}

}  // namespace
}  // namespace kestrova::testing
