// A 50-card job through the real module against the simulated machine on the
// virtual clock, with a fault every few cards and every halt restored through
// the control interface.
#include "module_fixture.h"

#include <gtest/gtest.h>

namespace kestrova::testing {
namespace {

class FiftyCardJob : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        standin::setClockMode(standin::ClockMode::Virtual);
        standin::setRecordSleeps(false);
    }
};

// Faults whose restores leave every card personalised exactly once: refused
// or failed steps before personalisation (the card is produced again from
// PreLoad), lost acknowledgements (the restore aborts what the machine
// started), and jams in the feed and at the exit (after personalisation the
// monitor drops the card the machine delivers).
TEST_F(FiftyCardJob, EveryCardIsPersonalisedOnceInOrderDespiteFaults) {
    machine.setFaults(simulator::parseFaultPlan("nak:load:7@*4,fail:load:5@*7,silent:personalize@*9,"
                                                "badcheck:preload@*6,stray:eject@*11,split:poll:40@*3,"
                                                "nak:jobsetup:2@13,jam:20,jam:35:eject")
                          .plan.value());
    openInProcess();
    const std::string job = generatedJob(50);
    submit(job, 1000);

    std::size_t restores = 0;
    const BOOL result = produceWhile([&](const std::atomic<bool>& finished) { restores = restoreOnEveryHalt(finished); });

    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(personalisedTexts(), expectedTexts(job));
    const auto cards = machine.personalisedCards();
    ASSERT_EQ(cards.size(), 50u);
    const JobQueue queued = tool::parseJob(job);
    for (std::size_t i = 0; i < cards.size(); ++i) {
        // Exactly what the monitor builds for the card, stuffed bytes and all.
        EXPECT_EQ(cards[i].personalisationText, personalisationText(queued.records[i])) << "card " << i + 1;
        EXPECT_EQ(cards[i].setupText, recordSetupText(queued.records[i]));
        EXPECT_TRUE(cards[i].delivered);
    }
    const auto status = machine.status();
    EXPECT_EQ(status.cardsDelivered, 50u);
    EXPECT_GE(machine.firedFaults().size(), 20u);
    // Every fault but the harmless split halted production once.
    std::size_t halting = 0;
    for (const auto& fault : machine.firedFaults()) halting += fault.text.rfind("split", 0) == 0 ? 0 : 1;
    EXPECT_EQ(restores, halting);
    // The job ends in the spooler as after a clean run.
    const auto setJob = standin::callsNamed("SetJobW");
    ASSERT_EQ(setJob.size(), 2u);
    EXPECT_EQ(setJob[0].command, JOB_CONTROL_LAST_PAGE_EJECTED);
    EXPECT_EQ(setJob[1].command, JOB_CONTROL_DELETE);
    EXPECT_EQ(setJob[0].jobId, 7u);
}

// A card whose personalisation fails is "Personalization Complete" with an
// error: the restore counts it as finished, so it is spoiled once and never
// made again, while the cards around it are made once each.
TEST_F(FiftyCardJob, ACardSpoiledInPersonalisationIsMadeAgainAfterTheRestore) {
    machine.setFaults(simulator::parseFaultPlan("fail:personalize:3@12,nak:preload:1@*10").plan.value());
    machine.setDurations(simulator::MachineDurations::instant());
    openInProcess();
    const std::string job = generatedJob(50);
    submit(job);

    const BOOL result = produceWhile([&](const std::atomic<bool>& finished) { restoreOnEveryHalt(finished); });
    EXPECT_EQ(result, TRUE);

    const std::vector<std::vector<std::string>> expected = expectedTexts(job);
    const auto cards = machine.personalisedCards();
    ASSERT_EQ(cards.size(), 51u);
    std::size_t spoiled = 0;
    for (const auto& card : cards) {
        if (card.completionCode != '0') {
            ++spoiled;
            EXPECT_EQ(card.completionCode, '3');
            EXPECT_FALSE(card.delivered);
            EXPECT_EQ(card.texts(), expected[11]) << "the spoiled card is the twelfth";
        }
    }
    EXPECT_EQ(spoiled, 1u);
    // Every card of the job is delivered once, in order: the spoiled one was made again.
    EXPECT_EQ(machine.status().cardsDelivered, 50u);
    EXPECT_EQ(personalisedTexts(), expected);
}

}  // namespace
}  // namespace kestrova::testing
