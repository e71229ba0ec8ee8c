// Two faults the fault matrix found, each proved mended through the real
// module against the simulated machine on the virtual clock: a reply cut
// across the read time-out must not cost a card made twice, and a deleted
// last job must not leave its card in the machine.
#include "module_fixture.h"

#include <gtest/gtest.h>

#include <thread>

namespace kestrova::testing {
namespace {

class CardIntegrity : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        standin::setClockMode(standin::ClockMode::Virtual);
        standin::setRecordSleeps(false);
    }

    // EndDocPort on a thread of its own, with `atPause` called at each of
    // the loop's pauses on that thread (nothing of the port is locked then).
    BOOL produceWithPauses(std::function<void()> atPause) {
        BOOL result = FALSE;
        std::thread production([&] {
            standin::setThreadSleepHook([&](DWORD ms) {
                if (ms > 10) atPause();
            });
            result = spooler->endDoc();
            standin::setThreadSleepHook({});
        });
        production.join();
        return result;
    }
};

class CutReply : public CardIntegrity, public ::testing::WithParamInterface<const char*> {};

// Every reply, completions included, reached the line whole, only late or
// piecemeal: every card is delivered once, none made twice, none rejected.
TEST_P(CutReply, NoCardIsMadeTwice) {
    // With these durations frame 26 is the poll whose reply reports card 1 personalised.
    machine.setDurations(simulator::MachineDurations::brief());
    machine.setFaults(simulator::parseFaultPlan(GetParam()).plan.value());
    openInProcess();
    const std::string job = generatedJob(8);
    submit(job);
    std::size_t restores = 0;
    std::uint64_t nextLook = 0;  // once a second, as a person at the console
    const BOOL result = produceWithPauses([&] {
        if (standin::nowMs() < nextLook) return;
        nextLook = standin::nowMs() + 1000;
        if (control("get_info").hwErrorCode.value_or(0) != 0 && restores < 100) {
            control("restore");
            ++restores;
        }
    });
    EXPECT_EQ(result, TRUE);
    EXPECT_GT(machine.firedFaults().size(), 0u);
    EXPECT_EQ(personalisedTexts(), expectedTexts(job));
    for (const auto& card : machine.cardJourneys()) {
        EXPECT_FALSE(card.personalised && card.end != simulator::CardEnd::Delivered)
            << "machine card " << card.card << " personalised and " << simulator::cardEndName(card.end);
    }
    EXPECT_EQ(machine.status().cardsDelivered, 8u);
}

INSTANTIATE_TEST_SUITE_P(AcrossTheReadTimeOut, CutReply,
                         ::testing::Values("split:any:1510@#26", "split:any:4000@#26", "stray:any@#26",
                                           "trickle:any:1510@#26", "late:any:2500@#26"));

using Stage = simulator::CardInMachine::Stage;
class DeletedLastJob : public CardIntegrity, public ::testing::WithParamInterface<Stage> {};

// Deleted at each stage of its card (fed, loaded, personalised), a job with
// no job after it returns from EndDocPort with the machine empty: the card
// was taken out by a restore, and get_info shows the machine restored.
TEST_P(DeletedLastJob, LeavesTheMachineEmpty) {
    machine.setDurations(simulator::MachineDurations::uniform(300));
    openInProcess();
    submit(generatedJob(3));
    bool deleted = false;
    const BOOL result = produceWithPauses([&] {
        const auto card = machine.currentCard();
        if (!deleted && card && card->card == 2 && card->stage == GetParam()) {
            control("delete_job");
            deleted = true;
        }
    });
    EXPECT_TRUE(deleted);
    EXPECT_EQ(result, TRUE);
    EXPECT_FALSE(machine.currentCard()) << "a card is left in the machine";
    EXPECT_EQ(machine.status().cardsDelivered + machine.status().cardsRejected, 2u);
    const tool::ResultValues status = control("get_info");
    EXPECT_EQ(status.hwErrorCode.value_or(-99), 0);
}

INSTANTIATE_TEST_SUITE_P(AtEachStage, DeletedLastJob,
                         ::testing::Values(Stage::Feeding, Stage::Loaded, Stage::Personalised));

}  // namespace
}  // namespace kestrova::testing
