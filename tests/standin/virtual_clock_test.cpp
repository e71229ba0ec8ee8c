#include "standin/platform_standin.h"
#include "standin/virtual_clock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace kestrova::standin {
namespace {

// What a second thread reads after pausing and waiting on the clock.
std::uint64_t readAfterMovingOn(std::uint64_t pauseMs, std::uint64_t waitMs) {
    std::uint64_t read = 0;
    std::thread other([&] {
        sleepOnClock(static_cast<DWORD>(pauseMs));
        advanceVirtualClock(waitMs);
        read = nowMs();
    });
    other.join();
    return read;
}

class VirtualClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        setClockMode(ClockMode::Virtual);
    }
    void TearDown() override { reset(); }
};

TEST_F(VirtualClockTest, OneForAllThreadsEveryThreadsPausesMoveIt) {
    sleepOnClock(100);
    EXPECT_EQ(readAfterMovingOn(40, 2), 142u);
    EXPECT_EQ(nowMs(), 142u);
}

TEST_F(VirtualClockTest, OnePerThreadEachThreadSeesOnlyItsOwnMoves) {
    sleepOnClock(100);
    setVirtualClockPerThread(true);
    sleepOnClock(5);
    EXPECT_EQ(readAfterMovingOn(40, 2), 142u);  // from the shared time on, its own moves only
    EXPECT_EQ(nowMs(), 105u);

    // One for all again: the shared time, which stood still; made one per
    // thread again, a thread starts from it afresh.
    setVirtualClockPerThread(false);
    EXPECT_EQ(nowMs(), 100u);
    setVirtualClockPerThread(true);
    EXPECT_EQ(nowMs(), 100u);

    reset();
    EXPECT_FALSE(virtualClockPerThread());
}

}  // namespace
}  // namespace kestrova::standin
