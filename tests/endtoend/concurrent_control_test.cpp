// Control requests from several threads while the module produces a job:
// every request gets a well-formed answer, the machine obeys pause, step and
// continue, and the job is still produced exactly once, in order.
#include "module_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestrova::testing {
namespace {

class ConcurrentControl : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        standin::setClockMode(standin::ClockMode::Virtual);
        standin::setRecordSleeps(false);
        machine.setDurations(simulator::MachineDurations::uniform(200));
        openInProcess();
    }
};

// The machine starts paused, so production moves on only by the threads'
// own "continue" and "step" requests: they certainly overlap it.
TEST_F(ConcurrentControl, RequestsFromSeveralThreadsDuringProduction) {
    const std::string job = generatedJob(20);
    submit(job);
    ASSERT_EQ(control("pause").swErrorCode, 0);
    constexpr std::size_t kRequestsEach = 25;
    std::atomic<std::size_t> malformed{0};
    std::atomic<bool> sawJobRunning{false};
    std::atomic<bool> countWentUp{false};
    const BOOL result = produceWhile([&](const std::atomic<bool>&) {
        auto asker = [&](std::vector<std::string> commands) {
            // Before the intake has queued the cards the count is 0.
            std::uint32_t lowest = 0;
            for (std::size_t i = 0; i < kRequestsEach; ++i) {
                const tool::ResultValues values = control(commands[i % commands.size()]);
                if (!values.hasResult || !values.swErrorCode) ++malformed;
                if (values.toProduce && *values.toProduce > 0) {
                    sawJobRunning = true;
                    if (lowest != 0 && *values.toProduce > lowest) countWentUp = true;
                    lowest = lowest == 0 ? *values.toProduce : std::min(lowest, *values.toProduce);
                }
            }
        };
        std::vector<std::thread> threads;
        threads.emplace_back(asker, std::vector<std::string>{"get_info"});
        threads.emplace_back(asker, std::vector<std::string>{"get_info", "status"});
        threads.emplace_back(asker, std::vector<std::string>{"pause", "get_info", "continue"});
        threads.emplace_back(asker, std::vector<std::string>{"step", "get_info", "step"});
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(control("continue").swErrorCode, 0);
    });
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(malformed.load(), 0u);
    EXPECT_TRUE(sawJobRunning.load());
    EXPECT_FALSE(countWentUp.load()) << "once queued, cards to produce only ever go down";
    EXPECT_EQ(personalisedTexts(), expectedTexts(job));
    EXPECT_EQ(machine.status().cardsDelivered, 20u);
}

TEST_F(ConcurrentControl, PauseStopsProductionUntilContinue) {
    submit(generatedJob(3));
    ASSERT_EQ(control("pause").swErrorCode, 0);
    const BOOL result = produceWhile([&](const std::atomic<bool>& finished) {
        // While paused the machine answers every poll with EOT: a minute
        // passes and nothing is made.
        const std::uint64_t pausedAt = standin::nowMs();
        while (standin::nowMs() - pausedAt < 60000 && !finished) std::this_thread::yield();
        EXPECT_FALSE(finished);
        EXPECT_TRUE(machine.personalisedCards().empty());
        EXPECT_EQ(control("get_info").state, "Loading Card");
        EXPECT_EQ(control("continue").swErrorCode, 0);
    });
    EXPECT_EQ(result, TRUE);
    EXPECT_EQ(machine.status().cardsDelivered, 3u);
}

TEST_F(ConcurrentControl, DeleteJobEndsProductionEarly) {
    submit(generatedJob(30));
    ASSERT_EQ(control("pause").swErrorCode, 0);
    const BOOL result = produceWhile([&](const std::atomic<bool>& finished) {
        // The first card waits in the paused machine: delete the job then.
        while (!machine.status().operationHeld && !finished) std::this_thread::yield();
        EXPECT_EQ(control("delete_job").swErrorCode, 0);
        EXPECT_EQ(control("continue").swErrorCode, 0);
    });
    EXPECT_EQ(result, TRUE);
    EXPECT_TRUE(machine.personalisedCards().empty());
    EXPECT_EQ(standin::callsNamed("SetJobW").size(), 2u) << "a deleted job is still finished in the spooler";
}

}  // namespace
}  // namespace kestrova::testing
