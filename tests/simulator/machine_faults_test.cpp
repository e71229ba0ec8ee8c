// The faults the simulated machine commits: what each does to its answer and
// to the machine, and which cards they strike.
#include "machine_driver.h"

#include "simulator/machine_codes.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using simulator::FaultPlan;
using simulator::MachineDurations;
using simulator::MachineSimulator;
namespace reject = simulator::reject;

const std::string kSetup = "06SZX85606SZY540";
const std::string kCard = "A012000452030CARD ONE";

FaultPlan plan(const std::string& option) {
    auto parsed = simulator::parseFaultPlan(option);
    EXPECT_TRUE(parsed.plan) << parsed.error;
    return parsed.plan.value_or(FaultPlan());
}

class MachineFaultsTest : public VirtualClockTest {};

// A card taken in, loaded and set up, its personalisation acknowledged.
void startPersonalisation(MachineDriver& driver) {
    ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
    ASSERT_TRUE(driver.pollUntilDone().completes(command::PreLoad));
    ASSERT_TRUE(driver.send(command::Load).acks(command::Load));
    ASSERT_TRUE(driver.pollUntilDone().completes(command::Load));
    ASSERT_TRUE(driver.send(command::JobSetup, bytesOf(kSetup)).completes(command::JobSetup));
    ASSERT_TRUE(driver.send(command::Personalize, bytesOf(kCard)).acks(command::Personalize));
}

TEST_F(MachineFaultsTest, EachFaultChangesTheAnswerToItsCommand) {
    struct Case {
        const char* option;
        std::uint8_t command;
        std::function<void(const simulator::MachineReply&)> check;
    } cases[] = {
        {"nak:restore:7", command::Restore,
         [](const simulator::MachineReply& r) {
             LinkFrame f;
             ASSERT_EQ(decode(r.bytes.data(), r.bytes.size(), f), 0);
             EXPECT_EQ(f.command, reply::NAK);
             EXPECT_EQ(f.answeredCommand, command::Restore);
             EXPECT_EQ(f.rejectCode, 7);
         }},
        {"silent:poll", command::Poll, [](const simulator::MachineReply& r) { EXPECT_TRUE(r.bytes.empty()); }},
        {"badcheck:poll", command::Poll,
         [](const simulator::MachineReply& r) {
             LinkFrame f;
             EXPECT_EQ(decode(r.bytes.data(), r.bytes.size(), f), decode_result::CheckMismatch);
         }},
        {"stray:poll", command::Poll,
         [](const simulator::MachineReply& r) {
             LinkFrame f;
             ASSERT_EQ(r.bytes.size(), 10u);
             EXPECT_NE(decode(r.bytes.data(), r.bytes.size(), f), 0) << "shifted, the frame never decodes";
             EXPECT_EQ(decode(r.bytes.data() + 1, r.bytes.size() - 1, f), 0);
             EXPECT_EQ(f.command, reply::ENQ);
         }},
        {"split:poll:700", command::Poll,
         [](const simulator::MachineReply& r) {
             EXPECT_EQ(r.bytes, requestFrame(0x20, reply::ENQ));
             EXPECT_EQ(r.splitAt, 4u);
             EXPECT_EQ(r.gapMs, 700u);
         }},
        {"late:poll", command::Poll,
         [](const simulator::MachineReply& r) {
             EXPECT_EQ(r.bytes, requestFrame(0x20, reply::ENQ));
             EXPECT_EQ(r.delayMs, 1600u) << "after the host's 1500 ms read time-out";
         }},
        {"twice:poll", command::Poll,
         [](const simulator::MachineReply& r) {
             Bytes both = requestFrame(0x20, reply::ENQ);
             both.insert(both.end(), both.begin(), both.end());
             EXPECT_EQ(r.bytes, both);
         }},
        {"trickle:poll:900", command::Poll,
         [](const simulator::MachineReply& r) {
             EXPECT_EQ(r.bytes, requestFrame(0x20, reply::ENQ));
             EXPECT_EQ(r.byteGapMs, 900u);
         }},
        {"lostack:restore", command::Restore, [](const simulator::MachineReply& r) { EXPECT_TRUE(r.bytes.empty()); }},
        {"silent:any@#1", command::Poll, [](const simulator::MachineReply& r) { EXPECT_TRUE(r.bytes.empty()); }},
        {"powercut", command::Poll,
         [](const simulator::MachineReply& r) {
             EXPECT_TRUE(r.powerCut);
             EXPECT_EQ(r.bytes, requestFrame(0x20, reply::ENQ)) << "the new machine answers the frame";
         }},
        {"fail:moduleinfo:4", command::ModuleInfo,
         [](const simulator::MachineReply& r) {
             LinkFrame f;
             ASSERT_EQ(decode(r.bytes.data(), r.bytes.size(), f), 0);
             EXPECT_EQ(f.answeredCommand, command::ModuleInfo);
             EXPECT_EQ(f.completionCode, '4');
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        MachineSimulator machine(MachineDurations::instant(), plan(c.option));
        std::vector<std::string> told;  // what a trace shows
        machine.setFaultObserver([&told](const simulator::FiredFault& f) { told.push_back(f.text); });
        c.check(machine.answer(requestFrame(0x20, c.command)));
        EXPECT_EQ(told, std::vector<std::string>{c.option});
        // A one-off fault strikes once only.
        const auto again = machine.answer(requestFrame(0x21, c.command));
        LinkFrame f;
        EXPECT_EQ(decode(again.bytes.data(), again.bytes.size(), f), 0);
        EXPECT_EQ(again.splitAt + again.delayMs + again.byteGapMs, 0u);
        EXPECT_FALSE(again.powerCut);
        EXPECT_EQ(machine.firedFaults().size(), 1u);
    }
}

TEST_F(MachineFaultsTest, AFailedCompletionStillEndsTheOperation) {
    MachineSimulator machine(MachineDurations::instant(), plan("fail:personalize:3"));
    MachineDriver driver(machine);
    driver.restore();
    ASSERT_NO_FATAL_FAILURE(startPersonalisation(driver));
    EXPECT_TRUE(driver.pollUntilDone().completes(command::Personalize, '3'));
    // The spoiled card is logged as such and goes to the reject bin.
    ASSERT_EQ(machine.personalisedCards().size(), 1u);
    EXPECT_EQ(machine.personalisedCards()[0].completionCode, '3');
    ASSERT_TRUE(driver.send(command::Restore).acks(command::Restore));
    EXPECT_EQ(machine.status().cardsRejected, 1u);
    EXPECT_EQ(machine.status().cardsDelivered, 0u);
    EXPECT_FALSE(machine.personalisedCards()[0].delivered);
}

TEST_F(MachineFaultsTest, APersonalisationWhoseReportIsDamagedIsLoggedAsLost) {
    // Only a reply the host cannot read loses the report; a silent poll is
    // not taken at all, and a split reply still arrives whole.
    struct Case {
        const char* fault;
        bool lost;
    } cases[] = {{"badcheck:poll", true},       {"stray:poll", true},  {"split:poll:20", false},
                 {"silent:poll", false},        {"late:poll", false},  {"twice:poll", false},
                 {"lostdone:personalize", true}, {"trickle:poll", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        MachineSimulator machine(MachineDurations::instant());
        MachineDriver driver(machine);
        driver.restore();
        ASSERT_NO_FATAL_FAILURE(startPersonalisation(driver));
        const std::size_t personalizeFrame = machine.status().framesReceived;
        machine.setFaults(plan(c.fault));
        if (driver.send(command::Poll).bytes.empty()) driver.send(command::Poll);
        const auto log = machine.personalisedCards();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].completionLost, c.lost);
        EXPECT_EQ(log[0].personalizeFrame, personalizeFrame);
        EXPECT_EQ(log[0].faults, std::vector<std::string>{c.fault}) << "the card log names what struck it";
        // Reported, even if unread: a restore sends the card to the exit.
        driver.restore();
        EXPECT_TRUE(machine.personalisedCards()[0].delivered);
    }
}

TEST_F(MachineFaultsTest, AJammedCardHoldsTheMachineUntilARestore) {
    struct Case {
        const char* option;
        std::size_t goodCards;
        bool atEject;
    } cases[] = {{"jam:2", 2, false}, {"jam:1:eject", 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        MachineSimulator machine(MachineDurations::instant(), plan(c.option));
        MachineDriver driver(machine);
        driver.restore();
        for (std::size_t i = 0; i < c.goodCards; ++i) ASSERT_TRUE(driver.card(kSetup, kCard));

        ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
        ASSERT_TRUE(driver.pollUntilDone().completes(command::PreLoad));
        ASSERT_TRUE(driver.send(command::Load).acks(command::Load));
        if (c.atEject) {
            ASSERT_TRUE(driver.pollUntilDone().completes(command::Load));
            ASSERT_TRUE(driver.send(command::JobSetup, bytesOf(kSetup)).completes(command::JobSetup));
            ASSERT_TRUE(driver.send(command::Personalize, bytesOf(kCard)).acks(command::Personalize));
            ASSERT_TRUE(driver.pollUntilDone().completes(command::Personalize));
            ASSERT_TRUE(driver.send(command::Eject).acks(command::Eject));
            EXPECT_TRUE(driver.pollUntilDone().completes(command::Eject, simulator::completion::Jam));
        } else {
            EXPECT_TRUE(driver.pollUntilDone().completes(command::Load, simulator::completion::Jam));
        }
        EXPECT_TRUE(machine.status().jammed);
        EXPECT_TRUE(driver.send(command::Eject).naks(command::Eject, reject::Jammed));
        EXPECT_TRUE(driver.send(command::PreLoad).naks(command::PreLoad, reject::Jammed));

        driver.restore();
        EXPECT_FALSE(machine.status().jammed);
        // Stuck at the exit the card was personalised: the restore delivers it.
        EXPECT_EQ(machine.status().cardsDelivered, c.goodCards + (c.atEject ? 1 : 0));
        EXPECT_TRUE(driver.card(kSetup, kCard)) << "the jam strikes once";
    }
}

TEST_F(MachineFaultsTest, FaultsStrikeTheCardsTheirWhenNames) {
    // Which cards (by the number the machine gives them) a PreLoad NAK hits.
    struct Case {
        const char* option;
        std::vector<std::size_t> struck;
    } cases[] = {
        {"nak:preload:1", {1}},
        {"nak:preload:1@3", {3}},
        {"nak:preload:1@*2", {2, 4, 6}},
        {"nak:preload:1@*", {1, 2, 3, 4, 5, 6}},
        {"nak:preload:1@?1", {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        MachineSimulator machine(MachineDurations::instant(), plan(c.option));
        MachineDriver driver(machine);
        driver.restore();
        std::vector<std::size_t> struck;
        for (std::size_t card = 1; card <= 6; ++card) {
            // The refused card is offered again and then taken in.
            const Answer first = driver.send(command::PreLoad);
            if (first.naks(command::PreLoad, 1)) {
                struck.push_back(card);
                ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad)) << "once per card";
            } else {
                ASSERT_TRUE(first.acks(command::PreLoad));
            }
            ASSERT_TRUE(driver.pollUntilDone().completes(command::PreLoad));
            ASSERT_TRUE(driver.send(command::Restore).acks(command::Restore));
            ASSERT_TRUE(driver.pollUntilDone().completes(command::Restore));
        }
        EXPECT_EQ(struck, c.struck);
        EXPECT_EQ(machine.firedFaults().size(), c.struck.size());
    }
}

TEST_F(MachineFaultsTest, ALostAcknowledgementStillStartsTheOperation) {
    MachineSimulator machine(MachineDurations::instant(), plan("lostack:personalize"));
    MachineDriver driver(machine);
    driver.restore();
    ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
    ASSERT_TRUE(driver.pollUntilDone().completes(command::PreLoad));
    ASSERT_TRUE(driver.send(command::Load).acks(command::Load));
    ASSERT_TRUE(driver.pollUntilDone().completes(command::Load));
    ASSERT_TRUE(driver.send(command::JobSetup, bytesOf(kSetup)).completes(command::JobSetup));
    EXPECT_TRUE(driver.send(command::Personalize, bytesOf(kCard)).bytes.empty());
    EXPECT_TRUE(driver.pollUntilDone().completes(command::Personalize)) << "the completion follows";
    EXPECT_EQ(machine.personalisedCards().size(), 1u);
}

TEST_F(MachineFaultsTest, APowerCutLeavesANewMachineWithTheCardInside) {
    MachineSimulator machine(MachineDurations::instant());
    MachineDriver driver(machine);
    driver.restore();
    ASSERT_TRUE(driver.send(command::PreLoad).acks(command::PreLoad));
    ASSERT_TRUE(driver.pollUntilDone().completes(command::PreLoad));
    ASSERT_TRUE(driver.send(command::Load).acks(command::Load));
    // Cut while the load runs: the next frame finds a machine that knows nothing of it.
    machine.setFaults(plan("powercut@#" + std::to_string(machine.status().framesReceived + 1)));
    EXPECT_TRUE(driver.send(command::Poll).is(reply::ENQ));
    EXPECT_TRUE(driver.send(command::JobSetup, bytesOf(kSetup)).naks(command::JobSetup, reject::NotRestored));
    EXPECT_EQ(machine.status().powerCuts, 1u);
    ASSERT_TRUE(machine.currentCard());
    driver.restore();
    EXPECT_EQ(machine.status().cardsRejected, 1u) << "the restore takes the card out";
    EXPECT_FALSE(machine.currentCard());
}

TEST_F(MachineFaultsTest, ASilentCommandHasNoEffect) {
    MachineSimulator machine(MachineDurations::instant(), plan("silent:restore"));
    MachineDriver driver(machine);
    EXPECT_TRUE(driver.send(command::Restore).bytes.empty());
    EXPECT_FALSE(machine.status().restored);
    EXPECT_EQ(machine.status().operation, 0) << "the frame was lost on the line";
    driver.restore();
}

}  // namespace
}  // namespace kestrova::testing
