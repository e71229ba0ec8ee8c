// The simulated machine against hand-made frames: its answers, its timing on
// the virtual clock, run control, what it logs, and how a restore treats the
// card in it.
#include "machine_driver.h"

#include "simulator/machine_codes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using simulator::CardInMachine;
using simulator::MachineDurations;
using simulator::MachineSimulator;
namespace reject = simulator::reject;

const std::string kSetup = "06SZX85606SZY540";
const std::string kCard = "A012000452030CARD ONE;020000802030Ann";

class MachineSimulatorTest : public VirtualClockTest {
protected:
    MachineSimulator machine{MachineDurations::typical()};
    MachineDriver driver{machine};
};

TEST_F(MachineSimulatorTest, AnswersTheWorkedStartOfANewPortByteForByte) {
    const Bytes poll{0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33};
    const Bytes restore{0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x21, 0x03, 0x63};
    EXPECT_EQ(machine.answer(poll).bytes, requestFrame(0x20, reply::ENQ));
    EXPECT_EQ(machine.answer(restore).bytes, (Bytes{0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x06, 0x21, 0x03, 0x65}));
    // Busy for the restore's duration, then the completion once.
    standin::advanceVirtualClock(2499);
    EXPECT_EQ(machine.answer(requestFrame(0x22, command::Poll)).bytes, requestFrame(0x22, reply::EOT));
    standin::advanceVirtualClock(1);
    EXPECT_EQ(machine.answer(requestFrame(0x22, command::Poll)).bytes,
              (Bytes{0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x21, 0x30, 0x03, 0x50}));
    EXPECT_EQ(machine.answer(requestFrame(0x23, command::Poll)).bytes, requestFrame(0x23, reply::ENQ));
}

TEST_F(MachineSimulatorTest, EachOperationTakesItsDuration) {
    const MachineDurations durations{100, 200, 300, 400, 500};
    machine.setDurations(durations);
    driver.restore();
    struct Step {
        std::uint8_t letter;
        std::uint64_t ms;
        std::string payload;
    } steps[] = {{command::PreLoad, 200, ""}, {command::Load, 300, ""}, {command::Personalize, 400, kCard},
                 {command::Eject, 500, ""}};
    for (const Step& step : steps) {
        if (step.letter == command::Personalize) {
            ASSERT_TRUE(driver.send(command::JobSetup, bytesOf(kSetup)).completes(command::JobSetup));
        }
        ASSERT_TRUE(driver.send(step.letter, bytesOf(step.payload)).acks(step.letter)) << step.letter;
        standin::advanceVirtualClock(step.ms - 1);
        EXPECT_TRUE(driver.send(command::Poll).is(reply::EOT)) << step.letter;
        standin::advanceVirtualClock(1);
        EXPECT_TRUE(driver.send(command::Poll).completes(step.letter)) << step.letter;
    }
    EXPECT_TRUE(driver.send(command::Poll).is(reply::ENQ));
}

TEST_F(MachineSimulatorTest, LogsEachPersonalisedCardDecoded) {
    driver.restore();
    ASSERT_TRUE(driver.card(kSetup, kCard));
    ASSERT_TRUE(driver.card("06SZX-506SZY0", "A"));
    const auto cards = machine.personalisedCards();
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[0].setupText, bytesOf(kSetup));
    EXPECT_EQ(cards[0].personalisationText, bytesOf(kCard));
    ASSERT_TRUE(cards[0].setup);
    EXPECT_EQ(cards[0].setup->sx, 856);
    EXPECT_EQ(cards[0].setup->sy, 540);
    EXPECT_EQ(cards[0].texts(), (std::vector<std::string>{"CARD ONE", "Ann"}));
    EXPECT_EQ(cards[0].items[1].x, 200);
    EXPECT_EQ(cards[0].items[1].ci10, 30);
    EXPECT_TRUE(cards[0].decodedExactly);
    EXPECT_TRUE(cards[0].delivered);
    EXPECT_EQ(cards[1].setup->sx, -5);
    EXPECT_TRUE(cards[1].items.empty());
    EXPECT_EQ(machine.status().cardsDelivered, 2u);
    EXPECT_FALSE(machine.currentCard());
}

TEST_F(MachineSimulatorTest, RefusesCommandsThatDoNotFitTheCardsPlace) {
    // Before the first restore only restore, poll and the data commands work.
    EXPECT_TRUE(driver.send(command::PreLoad).naks(command::PreLoad, reject::NotRestored));
    EXPECT_TRUE(driver.send(command::ModuleInfo).completes(command::ModuleInfo));
    driver.restore();

    struct Case {
        const char* what;
        std::string payload;
        std::uint8_t letter;
        std::uint8_t rejectCode;
    } noCard[] = {
        {"load without a card", "", command::Load, reject::WrongStep},
        {"setup without a card", kSetup, command::JobSetup, reject::WrongStep},
        {"personalise without a card", kCard, command::Personalize, reject::WrongStep},
        {"eject without a card", "", command::Eject, reject::WrongStep},
        {"unknown command", "", 'Q', reject::UnknownCommand},
        {"run control without a mode", "", command::RunControl, reject::BadPayload},
        {"run control with another mode", "7", command::RunControl, reject::BadPayload},
    };
    for (const Case& c : noCard) {
        EXPECT_TRUE(driver.send(c.letter, bytesOf(c.payload)).naks(c.letter, c.rejectCode)) << c.what;
    }

    ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
    EXPECT_TRUE(driver.send(command::Load).naks(command::Load, reject::Busy)) << "while feeding";
    ASSERT_TRUE(driver.pollUntilDone().completes(command::PreLoad));
    EXPECT_TRUE(driver.send(command::PreLoad).naks(command::PreLoad, reject::WrongStep)) << "a card is there";
    ASSERT_TRUE(driver.send(command::Load).acks(command::Load));
    ASSERT_TRUE(driver.pollUntilDone().completes(command::Load));
    EXPECT_TRUE(driver.send(command::Personalize, bytesOf(kCard)).naks(command::Personalize, reject::WrongStep))
        << "no setup yet";
    EXPECT_TRUE(driver.send(command::JobSetup, bytesOf("06SZX")).naks(command::JobSetup, reject::BadPayload));
    ASSERT_TRUE(driver.send(command::JobSetup, bytesOf(kSetup)).completes(command::JobSetup));
    EXPECT_TRUE(driver.send(command::Personalize, bytesOf("B")).naks(command::Personalize, reject::BadPayload));

    // A damaged frame is answered with a NAK for whatever letter it carried.
    Bytes damaged = requestFrame(0x40, command::Eject);
    damaged.back() ^= 0x01;
    Answer answer;
    answer.bytes = machine.answer(damaged).bytes;
    ASSERT_EQ(decode(answer.bytes.data(), answer.bytes.size(), answer.frame), 0);
    answer.decoded = true;
    EXPECT_TRUE(answer.naks(command::Eject, reject::BadFrame));
    EXPECT_EQ(machine.status().badFrames, 1u);
}

TEST_F(MachineSimulatorTest, PauseHoldsTheNextOperationUntilContinue) {
    driver.restore();
    ASSERT_TRUE(driver.send(command::RunControl, bytesOf("3")).completes(command::RunControl));
    ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
    standin::advanceVirtualClock(60000);
    EXPECT_TRUE(driver.send(command::Poll).is(reply::EOT));
    EXPECT_TRUE(machine.status().operationHeld);

    // Continue starts it now: the whole duration is still to come.
    ASSERT_TRUE(driver.send(command::RunControl, bytesOf("4")).completes(command::RunControl));
    standin::advanceVirtualClock(799);
    EXPECT_TRUE(driver.send(command::Poll).is(reply::EOT));
    standin::advanceVirtualClock(1);
    EXPECT_TRUE(driver.send(command::Poll).completes(command::PreLoad));
}

TEST_F(MachineSimulatorTest, StepRunsOneOperationThenHoldsAgain) {
    driver.restore();
    ASSERT_TRUE(driver.send(command::RunControl, bytesOf("5")).completes(command::RunControl));
    ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
    EXPECT_TRUE(driver.pollUntilDone().completes(command::PreLoad)) << "the step's operation runs";
    ASSERT_TRUE(driver.send(command::Load).acks(command::Load));
    standin::advanceVirtualClock(60000);
    EXPECT_TRUE(driver.send(command::Poll).is(reply::EOT)) << "the next one is held";
    ASSERT_TRUE(driver.send(command::RunControl, bytesOf("5")).completes(command::RunControl));
    EXPECT_TRUE(driver.pollUntilDone().completes(command::Load)) << "a step releases the held one";
    EXPECT_TRUE(machine.status().paused);
}

TEST_F(MachineSimulatorTest, ARestoreIsNeverHeldByAPause) {
    ASSERT_TRUE(driver.send(command::RunControl, bytesOf("3")).completes(command::RunControl));
    driver.restore();
    EXPECT_TRUE(machine.status().restored);
}

// The card a restore finds: delivered when its personalisation was
// reported, rejected otherwise, so that the monitor's drop on a restore after
// "Personalization Complete" matches a delivered card.
TEST_F(MachineSimulatorTest, ARestoreDeliversOnlyACardWhosePersonalisationWasReported) {
    struct Case {
        const char* where;
        int stepsDone;  // 0 fed, 1 loaded, 2 personalising, 3 personalised, 4 ejecting
        bool delivered;
    } cases[] = {
        {"fed", 0, false},           {"loaded", 1, false},        {"personalising", 2, false},
        {"personalised", 3, true},   {"ejecting", 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        MachineSimulator fresh(MachineDurations::typical());
        MachineDriver d(fresh);
        d.restore();
        ASSERT_TRUE(d.send(command::PreLoad).acks(command::PreLoad));
        ASSERT_TRUE(d.pollUntilDone().completes(command::PreLoad));
        if (c.stepsDone >= 1) {
            ASSERT_TRUE(d.send(command::Load).acks(command::Load));
            ASSERT_TRUE(d.pollUntilDone().completes(command::Load));
            ASSERT_TRUE(d.send(command::JobSetup, bytesOf(kSetup)).completes(command::JobSetup));
        }
        if (c.stepsDone >= 2) {
            ASSERT_TRUE(d.send(command::Personalize, bytesOf(kCard)).acks(command::Personalize));
        }
        // Time enough to personalise, but unreported it does not count.
        standin::advanceVirtualClock(10000);
        if (c.stepsDone >= 3) {
            ASSERT_TRUE(d.send(command::Poll).completes(command::Personalize));
        }
        if (c.stepsDone >= 4) {
            ASSERT_TRUE(d.send(command::Eject).acks(command::Eject));
        }

        ASSERT_TRUE(d.send(command::Restore).acks(command::Restore));
        const auto status = fresh.status();
        EXPECT_EQ(status.cardsDelivered, c.delivered ? 1u : 0u);
        EXPECT_EQ(status.cardsRejected, c.delivered ? 0u : 1u);
        EXPECT_EQ(fresh.personalisedCards().size(), c.stepsDone >= 3 ? 1u : 0u);
        EXPECT_FALSE(fresh.currentCard());
        EXPECT_TRUE(d.pollUntilDone().completes(command::Restore)) << "the aborted operation reports nothing";
    }
}

TEST_F(MachineSimulatorTest, KeepsTheCardItIsWorkingOn) {
    driver.restore();
    ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
    ASSERT_TRUE(machine.currentCard());
    EXPECT_EQ(machine.currentCard()->stage, CardInMachine::Stage::Feeding);
    ASSERT_TRUE(driver.pollUntilDone().completes(command::PreLoad));
    ASSERT_TRUE(driver.send(command::Load).acks(command::Load));
    ASSERT_TRUE(driver.pollUntilDone().completes(command::Load));
    ASSERT_TRUE(driver.send(command::JobSetup, bytesOf(kSetup)).completes(command::JobSetup));
    const auto card = machine.currentCard();
    ASSERT_TRUE(card);
    EXPECT_EQ(card->card, 1u);
    EXPECT_EQ(card->stage, CardInMachine::Stage::Loaded);
    ASSERT_TRUE(card->setup);
    EXPECT_EQ(card->setup->sy, 540);
}

TEST_F(MachineSimulatorTest, ModuleInformationIsWellFormedEntries) {
    driver.restore();
    ASSERT_TRUE(driver.card(kSetup, kCard));
    const Answer answer = driver.send(command::ModuleInfo);
    ASSERT_TRUE(answer.completes(command::ModuleInfo));
    // Walk the entries as a reader would: length, key, text, ';'.
    const Bytes& text = answer.frame.payload;
    std::map<std::string, std::string> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        ASSERT_LE(at + 6, text.size());
        const int n = (text[at] - '0') * 10 + (text[at + 1] - '0');
        ASSERT_GE(n, 3);
        ASSERT_LT(at + 2 + n, text.size() + 1);
        const std::string key(text.begin() + at + 2, text.begin() + at + 5);
        entries[key] = std::string(text.begin() + at + 5, text.begin() + at + 2 + n);
        ASSERT_EQ(text[at + 2 + n], ';');
        at += 3 + n;
    }
    EXPECT_GE(entries.size(), 5u);
    EXPECT_EQ(entries["CNT"], "1");
    EXPECT_EQ(entries["STA"], "Ready");
    EXPECT_FALSE(entries["MDL"].empty());
}

TEST_F(MachineSimulatorTest, LogsEveryRequestWithTheCardItConcerned) {
    driver.restore();
    ASSERT_TRUE(driver.card(kSetup, kCard));
    const std::string letters = machine.commandLetters();
    EXPECT_EQ(letters.substr(0, 2), "!p");
    EXPECT_EQ(machine.countOf(command::JobSetup), 1u);
    const auto requests = machine.received();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().command, command::Poll);
    EXPECT_EQ(requests.back().card, 1u) << "the eject's completion still concerns card 1";
}

}  // namespace
}  // namespace kestrova::testing
