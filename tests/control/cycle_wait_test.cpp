// When a control request gets the port while a job is produced, on the real
// clock the wait is measured in: a request early in a pause goes at once, a
// late one waits for exactly one cycle, a pause that does not end holds it
// no longer than the bound, and delete_job never waits for a cycle. The loop
// itself runs on the virtual clock; each request comes at the start of a
// chosen pause (the loop's own thread, where it must not wait for a cycle
// that cannot come, or a thread of its own while the loop runs on).
#include "case_name.h"
#include "control_fixture.h"

#include <chrono>
#include <future>
#include <thread>

namespace kestrova::testing {
namespace {

using Clock = std::chrono::steady_clock;

enum class Caller { TheLoopsThread, AnotherThread };
enum class Outcome { AtOnce, AfterOneCycle, AtTheBound };

struct WaitCase {
    const char* name;
    const char* command;
    bool late;  // sent once the room in the pause has passed
    Caller caller;
    Outcome outcome;
};

class CycleWait : public ControlFixture, public ::testing::WithParamInterface<WaitCase> {
public:
    void TearDown() override {
        standin::setThreadSleepHook(nullptr);
        ControlFixture::TearDown();
    }

    std::size_t framesBefore(std::uint8_t command, std::size_t from) {
        const auto received = machine.received();
        for (std::size_t i = from; i < received.size(); ++i) {
            if (received[i].command == command) return i;
        }
        return received.size();
    }
};

// Comfortably past kRoomInPause, however the test thread is scheduled: sleep_for never returns early.
constexpr auto kLate = MonitorPort::kRoomInPause + std::chrono::milliseconds(15);
// Far longer than any healthy request; only a hang runs into it.
constexpr auto kPatience = std::chrono::seconds(10);

TEST_P(CycleWait, TheRequestGetsThePortWhenItShould) {
    const WaitCase& c = GetParam();
    const bool deletes = std::string(c.command) == "delete_job";
    ASSERT_EQ(startDoc(), TRUE);
    write(job(4));

    bool sent = false;
    Clock::duration elapsed{};
    std::size_t framesAtNextPause = 0;
    std::future<ControlAnswer> other;
    int pausesAfterSending = 0;
    auto production = std::async(std::launch::async, [&] {
        standin::setThreadSleepHook([&](DWORD ms) {
            if (ms != 90) return;
            if (sent) {
                // The pause after the next cycle: the request waiting for that
                // cycle goes now, so the loop stays here until it has.
                if (++pausesAfterSending == 1 && other.valid()) {
                    framesAtNextPause = machine.frames();
                    EXPECT_EQ(other.wait_for(kPatience), std::future_status::ready);
                }
                return;
            }
            // The pause before a card is loaded: a cycle would send Load.
            if (port->machineState != state::PreLoadComplete) return;
            sent = true;
            if (c.late) std::this_thread::sleep_for(kLate);
            const auto start = Clock::now();
            if (c.caller == Caller::TheLoopsThread) {
                const ControlAnswer answer = sendCommand(c.command);
                elapsed = Clock::now() - start;
                EXPECT_EQ(answer.result, TRUE);
                return;
            }
            other = std::async(std::launch::async, [this, &c] { return sendCommand(c.command); });
            // A late request waits for the next cycle; give a wrong one the
            // chance to go in this pause instead, well inside the bound.
            other.wait_for(MonitorPort::kLongestCycleWait / 2);
        });
        const BOOL result = endDoc();
        standin::setThreadSleepHook(nullptr);
        return result;
    });
    ASSERT_EQ(production.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(production.get(), TRUE);
    ASSERT_TRUE(sent);

    switch (c.outcome) {
        case Outcome::AtOnce:
            // Had it waited for a cycle, only the bound could have ended the wait.
            EXPECT_LT(elapsed, MonitorPort::kLongestCycleWait);
            break;
        case Outcome::AtTheBound:
            EXPECT_GE(elapsed, MonitorPort::kLongestCycleWait);
            EXPECT_LT(elapsed, kPatience / 2);
            break;
        case Outcome::AfterOneCycle: {
            ASSERT_TRUE(other.valid());
            EXPECT_EQ(other.get().result, TRUE);
            // Its own command (ModuleInfo) came after the next cycle's frames
            // and before the cycle after that.
            const std::size_t own = framesBefore(command::ModuleInfo, 0);
            EXPECT_GE(own, framesAtNextPause) << machine.commandLetters();
            EXPECT_NE(framesAtNextPause, 0u);
            break;
        }
    }
    if (deletes) {
        // Deleted before the cycle that would have loaded a card of the job.
        EXPECT_EQ(machine.countOf(command::Load), 0u) << machine.commandLetters();
    } else {
        EXPECT_EQ(machine.countOf(command::Eject), 4u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CycleWait,
    ::testing::Values(WaitCase{"GetInfoEarlyInAPause", "get_info", false, Caller::TheLoopsThread, Outcome::AtOnce},
                      WaitCase{"GetInfoLateInAPause", "get_info", true, Caller::AnotherThread,
                               Outcome::AfterOneCycle},
                      WaitCase{"GetInfoLateInAPauseThatDoesNotEnd", "get_info", true, Caller::TheLoopsThread,
                               Outcome::AtTheBound},
                      WaitCase{"DeleteJobLateInAPause", "delete_job", true, Caller::TheLoopsThread,
                               Outcome::AtOnce}),
    NamedCase());

}  // namespace
}  // namespace kestrova::testing
