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
#include <utility>

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

// Comfortably past kRoomInPause, however the test thread is scheduled: sleep_for never returns early.
constexpr auto kLate = MonitorPort::kRoomInPause + std::chrono::milliseconds(15);
// Far longer than any healthy request; only a hang runs into it.
constexpr auto kPatience = std::chrono::seconds(10);

// What one job with one request at the chosen pause came to.
struct Sending {
    bool sent = false;
    std::size_t framesAtSending = 0;
    std::size_t framesBeforeNextCycle = 0;
    Clock::duration elapsed{};  // on the loop's own thread
    // Another thread's answer, and how long the request took.
    std::future<std::pair<ControlAnswer, Clock::duration>> other;
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

    // A job of four cards with the request at the pause before its first card
    // is loaded.
    void produceWithRequest(const WaitCase& c, Sending& s) {
        ASSERT_EQ(startDoc(), TRUE);
        write(job(4));
        int pausesAfterSending = 0;
        auto production = std::async(std::launch::async, [&] {
            standin::setThreadSleepHook([&](DWORD ms) {
                if (ms != 90) return;
                if (s.sent) {
                    // The pause after the next cycle: the request waiting for
                    // that cycle goes now, so the loop stays here until it has.
                    if (++pausesAfterSending == 1 && s.other.valid()) {
                        EXPECT_EQ(s.other.wait_for(kPatience), std::future_status::ready);
                    }
                    return;
                }
                // The pause before a card is loaded: a cycle would send Load.
                if (port->machine().state() != state::PreLoadComplete) return;
                s.sent = true;
                s.framesAtSending = machine.frames();
                if (c.late) std::this_thread::sleep_for(kLate);
                const auto start = Clock::now();
                if (c.caller == Caller::TheLoopsThread) {
                    EXPECT_EQ(sendCommand(c.command).result, TRUE);
                    s.elapsed = Clock::now() - start;
                    return;
                }
                s.other = std::async(std::launch::async, [this, &c] {
                    const auto sentAt = Clock::now();
                    ControlAnswer answer = sendCommand(c.command);
                    return std::make_pair(std::move(answer), Clock::now() - sentAt);
                });
                // A late request waits for the next cycle; give a wrong one the
                // chance to go in this pause instead, well inside the bound.
                s.other.wait_for(MonitorPort::kLongestCycleWait / 2);
                s.framesBeforeNextCycle = machine.frames();
            });
            const BOOL result = endDoc();
            standin::setThreadSleepHook(nullptr);
            return result;
        });
        ASSERT_EQ(production.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        EXPECT_EQ(production.get(), TRUE);
        ASSERT_TRUE(s.sent);
    }
};

TEST_P(CycleWait, TheRequestGetsThePortWhenItShould) {
    const WaitCase& c = GetParam();
    Sending s;
    // A request that went at once came back well inside the bound; one that
    // waited for a cycle could only have been let go by the bound. A machine
    // too busy to tell the two apart gets a few more tries.
    for (int tries = 0; tries < 5; ++tries) {
        s = Sending();
        produceWithRequest(c, s);
        if (HasFatalFailure() || c.outcome != Outcome::AtOnce || s.elapsed < MonitorPort::kLongestCycleWait) break;
    }

    switch (c.outcome) {
        case Outcome::AtOnce:
            EXPECT_LT(s.elapsed, MonitorPort::kLongestCycleWait);
            break;
        case Outcome::AtTheBound:
            EXPECT_GE(s.elapsed, MonitorPort::kLongestCycleWait);
            EXPECT_LT(s.elapsed, kPatience / 2);
            break;
        case Outcome::AfterOneCycle: {
            ASSERT_TRUE(s.other.valid());
            const auto [answer, took] = s.other.get();
            EXPECT_EQ(answer.result, TRUE);
            // Its own command (ModuleInfo) came after the next cycle had
            // loaded the card, and before the cycle after that; or, on a
            // machine so busy that the loop did not get to that cycle in
            // time, at the bound.
            const std::size_t own = framesBefore(command::ModuleInfo, 0);
            const std::size_t load = framesBefore(command::Load, s.framesBeforeNextCycle);
            if (took < MonitorPort::kLongestCycleWait) {
                EXPECT_LT(load, own) << machine.commandLetters();
            }
            EXPECT_GT(framesBefore(command::JobSetup, load), own) << machine.commandLetters();
            break;
        }
    }
    if (std::string(c.command) == "delete_job") {
        // Deleted before the cycle that would have loaded a card of the job.
        EXPECT_EQ(framesBefore(command::Load, s.framesAtSending), machine.frames()) << machine.commandLetters();
    } else {
        EXPECT_EQ(machine.countOf(command::Eject) % 4, 0u);
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
