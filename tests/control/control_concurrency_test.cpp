// Control requests from other threads while EndDocPort produces a job.
#include "control_fixture.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace kestrova::testing {
namespace {

using standin::MachineResponse;
using standin::PortEntry;

// Waits (in real time) until the condition holds.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

std::string sw(std::int32_t value) { return "<sw_error_code value=\"" + std::to_string(value) + "\"/>"; }

class ConcurrentControl : public ControlFixture {
public:
    std::future<BOOL> produceInBackground(std::size_t cards) {
        EXPECT_EQ(startDoc(42), TRUE);
        write(job(cards));
        return std::async(std::launch::async, [this] { return endDoc(); });
    }

    std::int32_t hwErrorCode() {
        const PortLock guard(*port);
        return port->machine().hwErrorCode();
    }
};

TEST_F(ConcurrentControl, ConcurrentDeleteJobLetsTheLoopFinishTheJob) {
    constexpr std::size_t kCards = 5000;
    auto production = produceInBackground(kCards);
    ASSERT_TRUE(eventually([&] { return machine.countOf(command::Load) >= 1; }));

    const ControlAnswer answer = sendCommand("delete_job");

    ASSERT_EQ(answer.result, TRUE);
    EXPECT_NE(shown(answer.document).find(sw(0)), std::string::npos);
    EXPECT_EQ(production.get(), TRUE);
    EXPECT_LT(machine.countOf(command::Eject), kCards);
    // The loop's own finish: the document ends once, the job leaves the spooler.
    EXPECT_EQ(spm.countOf(PortEntry::StartDocPort), 1u);
    EXPECT_EQ(spm.countOf(PortEntry::EndDocPort), 1u);
    EXPECT_EQ(standin::callsNamed("SetJobW").size(), 2u);
}

TEST_F(ConcurrentControl, ConcurrentRestoreClearsAHaltedProduction) {
    machine.script(command::PreLoad, MachineResponse::nak(7));
    auto production = produceInBackground(3);
    ASSERT_TRUE(eventually([&] { return hwErrorCode() == code::RejectBase + 7; }));
    const std::size_t preLoads = machine.countOf(command::PreLoad);

    const ControlAnswer answer = sendCommand("restore");

    ASSERT_EQ(answer.result, TRUE);
    EXPECT_NE(shown(answer.document).find(sw(0)), std::string::npos);
    EXPECT_EQ(production.get(), TRUE);
    EXPECT_EQ(machine.countOf(command::Eject), 3u) << "every card after the restore";
    EXPECT_GT(machine.countOf(command::PreLoad), preLoads);
    EXPECT_EQ(hwErrorCode(), 0);
}

TEST_F(ConcurrentControl, ConcurrentGetInfoWhileCardsAreProduced) {
    constexpr std::size_t kCards = 200;
    auto production = produceInBackground(kCards);
    // The cards enter the queue when production starts.
    ASSERT_TRUE(eventually([&] { return machine.frames() > 0; }));
    std::atomic<bool> done{false};
    std::atomic<int> answers{0};
    auto client = [&] {
        std::size_t lastCount = kCards;
        for (int mine = 0; !done || mine < 5; ++mine) {
            const ControlAnswer answer = sendCommand("get_info");
            EXPECT_EQ(answer.result, TRUE);
            const std::string text = shown(answer.document);
            EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<kx_api>\n", 0), 0u);
            const auto at = text.find("<to_produce value=\"");
            ASSERT_NE(at, std::string::npos);
            const std::size_t count = std::stoul(text.substr(at + 19));
            EXPECT_LE(count, lastCount) << "cards only ever leave the queue";
            lastCount = count;
            ++answers;
        }
    };
    std::thread first(client), second(client);
    const BOOL produced = production.get();
    done = true;
    first.join();
    second.join();

    EXPECT_EQ(produced, TRUE);
    EXPECT_EQ(machine.countOf(command::Eject), kCards);
    EXPECT_GT(answers.load(), 0);
}

}  // namespace
}  // namespace kestrova::testing
