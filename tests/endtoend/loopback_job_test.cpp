// Jobs through the real module over the loopback TCP transport: the machine
// served by the machine server, the port a connection to it.
#include "module_fixture.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kestrova::testing {
namespace {

class LoopbackJob : public ModuleFixture {};

// The 50-card job with faults that answer at once (so the socket's real
// read time-outs play no part), on the virtual clock.
TEST_F(LoopbackJob, FiftyCardJobWithFaultsOnTheVirtualClock) {
    standin::setClockMode(standin::ClockMode::Virtual);
    standin::setRecordSleeps(false);
    machine.setDurations(simulator::MachineDurations::instant());
    machine.setFaults(simulator::parseFaultPlan("nak:load:7@*4,fail:load:5@*7,jam:20,jam:35:eject").plan.value());
    openOverLoopback();
    const std::string job = generatedJob(50);
    submit(job);
    const BOOL result = produceWhile([&](const std::atomic<bool>& finished) { restoreOnEveryHalt(finished); });
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(personalisedTexts(), expectedTexts(job));
    EXPECT_EQ(machine.status().cardsDelivered, 50u);
}

// On the real clock with short machine durations: a stray byte makes the
// reply unreadable, the exchange waits out the port's 1500 ms read time-out
// for real, and the restore that follows lets the job finish.
TEST_F(LoopbackJob, ShortJobOnTheRealClockWaitsOutTheReadTimeOut) {
    machine.setDurations(simulator::MachineDurations::uniform(5));
    machine.setFaults(simulator::parseFaultPlan("stray:eject@2").plan.value());
    openOverLoopback();
    const std::string job = generatedJob(3);
    submit(job);
    const auto start = std::chrono::steady_clock::now();
    std::size_t restores = 0;
    const BOOL result = produceWhile([&](const std::atomic<bool>& finished) {
        while (!finished) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (finished) break;
            if (control("get_info").hwErrorCode.value_or(0) == -2) {
                control("restore");
                ++restores;
            }
        }
    });
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(restores, 1u);
    EXPECT_EQ(personalisedTexts(), expectedTexts(job));
    EXPECT_EQ(machine.status().cardsDelivered, 3u) << "the card whose eject reply was lost was delivered";
    // The lost reply cost one whole read time-out, waited for real; the
    // watcher's polls collect some completions early, so the cards
    // themselves take less than the loop's own pace would.
    EXPECT_EQ(ports->readsTimedOut(), 1u);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1500 + 3 * 300));
    EXPECT_LT(elapsed, std::chrono::seconds(12));
}

}  // namespace
}  // namespace kestrova::testing
