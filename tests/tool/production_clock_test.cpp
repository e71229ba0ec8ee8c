// The leash of kestrova print's virtual clock: a production that stops
// reading from the machine waits at the leash, exactly there, until the tool
// lets the clock run on; other threads are never held.
#include "platform/platform_calls.h"
#include "standin/platform_standin.h"
#include "tool/production_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kestrova::testing {
namespace {

bool waitsSoon(const tool::ProductionClock& clock) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!clock.waiting()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(ProductionClockLeash, ConcurrentHaltedProductionWaitsWhereTheToolSays) {
    standin::reset();
    standin::setClockMode(standin::ClockMode::Virtual);
    {
        tool::ProductionClock clock(true, 500);
        std::thread production([&clock] {
            clock.enterProduction();
            clock.onRead();  // the exchange that halted, at 0
            for (int cycle = 0; cycle < 20; ++cycle) Sleep(90);
        });
        ASSERT_TRUE(waitsSoon(clock));
        EXPECT_EQ(standin::nowMs(), 500u) << "held exactly at the slack after its last read";
        EXPECT_EQ(clock.lastProductionReadMs(), 0u);

        Sleep(50);  // the tool's own pauses are never held
        EXPECT_EQ(standin::nowMs(), 550u);
        EXPECT_TRUE(clock.waiting());

        clock.runTo(700);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (standin::nowMs() < 700 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
        ASSERT_TRUE(waitsSoon(clock));
        EXPECT_EQ(standin::nowMs(), 700u);

        clock.unleash();
        production.join();
        // Every pause was taken in full: 20 x 90 of production's and 50 of ours.
        EXPECT_EQ(standin::nowMs(), 1850u);
    }
    standin::reset();
}

}  // namespace
}  // namespace kestrova::testing
