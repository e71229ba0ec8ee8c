#include "link/machine_command.h"
#include "link_test_support.h"
#include "port/monitor_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace kestrova::testing {
namespace {

class MachineExchangeTest : public LinkFixture {
protected:
    void SetUp() override {
        LinkFixture::SetUp();
        port = std::make_unique<MonitorPort>(nullptr, spm.monitorHandle(), wideFromAscii("LPT1:"),
                                             wideFromAscii("Printer"), handle, spm.table());
    }

    // One exchange answered by `answer`, starting from the given state.
    std::int32_t answered(const Bytes& answer, MachineState from = state::Unknown, std::int32_t hwError = 77) {
        port->machineState = from;
        port->hwErrorCode = hwError;
        peer.pending.clear();
        peer.queue(answer);
        replyCode = 0xEE;
        replyPayload = {9, 9};
        std::lock_guard<std::mutex> guard(port->portLock);
        return port->machineExchange(command::Poll, {}, replyCode, replyPayload);
    }

    void queueCards(std::initializer_list<const char*> firstLines) {
        for (const char* line : firstLines) {
            CardLines lines;
            lines.push_back(line);
            port->jobQueue.records.emplace_back(port->jobQueue.layout, lines);
        }
    }

    std::unique_ptr<MonitorPort> port;
    std::uint8_t replyCode = 0;
    Bytes replyPayload;
};

TEST_F(MachineExchangeTest, AcknowledgementsStartAnOperation) {
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
        EXPECT_EQ(port->machineState, c.state < 0 ? state::LoadComplete : c.state);
        // Only the acknowledged restore clears the error.
        EXPECT_EQ(port->hwErrorCode, c.letter == '!' ? 0 : 77);
        EXPECT_EQ(replyCode, reply::ACK);
    }
}

TEST_F(MachineExchangeTest, DataRepliesFinishAnOperation) {
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
        EXPECT_EQ(port->machineState, c.state < 0 ? state::Ejecting : c.state);
        EXPECT_EQ(port->hwErrorCode, c.hwError);
        EXPECT_EQ(replyCode, c.letter);
        EXPECT_EQ(replyPayload, text("xy"));
    }
}

TEST_F(MachineExchangeTest, RefusalsPollAnswersAndLinkFailuresChangeNothing) {
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
        EXPECT_EQ(port->machineState, state::Personalizing);
        EXPECT_EQ(port->hwErrorCode, 77);
        EXPECT_EQ(replyCode, c.replyCode);
        EXPECT_TRUE(replyPayload.empty());
    }
    spm.failCall(standin::PortEntry::WritePort, 1);
    EXPECT_EQ(answered(ackFrame('!'), state::Ejecting), -1);
    EXPECT_EQ(port->machineState, state::Ejecting);
    EXPECT_EQ(port->hwErrorCode, 77);
}

TEST_F(MachineExchangeTest, RestoreAfterPersonalisationDropsTheFrontCard) {
    for (MachineState from = state::Unknown; from <= state::EjectComplete; ++from) {
        SCOPED_TRACE(from);
        port->jobQueue.records.clear();
        queueCards({"first", "second"});
        EXPECT_EQ(answered(ackFrame('!'), from), 0);
        EXPECT_EQ(port->machineState, state::Restoring);
        EXPECT_EQ(port->hwErrorCode, 0);
        const bool dropped = from >= state::PersonalizationComplete;
        ASSERT_EQ(port->jobQueue.size(), dropped ? 1u : 2u);
        EXPECT_EQ(port->jobQueue.records.front().lines()[0], dropped ? "second" : "first");
    }
    port->jobQueue.records.clear();
    EXPECT_EQ(answered(ackFrame('!'), state::Ejecting), 0);  // nothing to drop
    EXPECT_EQ(port->machineState, state::Restoring);
    // The queue lock is free again.
    EXPECT_TRUE(port->queueLock.try_lock());
    port->queueLock.unlock();
}

// Whichever of a restore's replies is read first gives up a card finished
// after personalisation, exactly once; a spoiled card, or one of a deleted
// job, is never given up. An empty reply is one lost on the line.
TEST_F(MachineExchangeTest, ARestoreGivesUpAFinishedCardOnceWhicheverReplyIsReadFirst) {
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
        port->jobQueue.records.clear();
        queueCards({"first", "second"});
        port->machineState = c.from;
        port->cardInMachine = c.card;
        for (const Step& step : c.steps) {
            peer.pending.clear();
            peer.queue(step.reply);
            std::lock_guard<std::mutex> guard(port->portLock);
            port->machineExchange(step.command, {}, replyCode, replyPayload);
        }
        EXPECT_EQ(port->machineState, state::RestoreComplete);
        ASSERT_EQ(port->jobQueue.size(), c.cardsLeft);
        EXPECT_EQ(port->jobQueue.records.front().lines()[0], c.cardsLeft == 1 ? "second" : "first");
        EXPECT_FALSE(port->cardInMachine.spoiled || port->cardInMachine.orphaned);
    }
}

TEST_F(MachineExchangeTest, WorkedStartOnANewPort) {
    const Bytes restoreAck = {0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x06, 0x21, 0x03, 0x65};
    const Bytes restoreDone = {0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x21, 0x30, 0x03, 0x50};
    peer.queue(enqFrame());
    peer.queue(restoreAck);
    peer.queue(restoreDone);
    std::lock_guard<std::mutex> guard(port->portLock);
    EXPECT_EQ(port->machineExchange(command::Poll, {}, replyCode, replyPayload), 0);
    EXPECT_EQ(port->machineState, state::Unknown);
    EXPECT_EQ(port->machineExchange(command::Restore, {}, replyCode, replyPayload), 0);
    EXPECT_EQ(port->machineState, state::Restoring);
    EXPECT_EQ(port->machineExchange(command::Poll, {}, replyCode, replyPayload), 0);
    EXPECT_EQ(port->machineState, state::RestoreComplete);
    const Bytes expected = {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33,   // Poll
                            0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x21, 0x03, 0x63,   // Restore
                            0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x70, 0x03, 0x31};  // Poll
    EXPECT_EQ(spm.writtenBytes(), expected);
}

TEST_F(MachineExchangeTest, AReplyThatCameAfterItsExchangeGaveUpIsReadByItsLetterBeforeTheNextCommand) {
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
        port->jobQueue.records.clear();
        queueCards({"A", "B"});
        port->machineState = c.from;
        port->hwErrorCode = -2;
        port->cardInMachine = CardInMachine{};
        peer.pending.clear();
        peer.onTheLine.clear();
        peer.alreadyOnTheLine(c.late);
        peer.queue(ackFrame('!'));
        spm.clearCalls();
        {
            std::lock_guard<std::mutex> guard(port->portLock);
            EXPECT_EQ(port->machineExchange(command::Restore, {}, replyCode, replyPayload), c.result);
        }
        EXPECT_EQ(port->machineState, c.state);
        EXPECT_EQ(port->jobQueue.size(), c.cardsLeft);
        EXPECT_EQ(spm.callsOf(standin::PortEntry::WritePort).size(), c.sent ? 1u : 0u);
        EXPECT_EQ(port->hwErrorCode, c.sent ? 0 : 51);
    }
}

}  // namespace
}  // namespace kestrova::testing
