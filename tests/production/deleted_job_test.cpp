// "delete_job" in each state of the machine, then a second job on the same
// port: no frame of the second job carries a card of the first, and each
// card of the second job is personalised exactly once, in order.
#include "case_name.h"
#include "loop_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

struct Deletion {
    const char* name;
    MachineState at;  // the state the loop leaves at the pause where the job is deleted
};

std::vector<Deletion> deletions() {
    return {{"Unknown", state::Unknown},
            {"Ready", state::Ready},
            {"Restoring", state::Restoring},
            {"RestoreComplete", state::RestoreComplete},
            {"PreLoadStarted", state::PreLoadStarted},
            {"PreLoadComplete", state::PreLoadComplete},
            {"LoadStarted", state::LoadStarted},
            {"LoadComplete", state::LoadComplete},
            {"Personalizing", state::Personalizing},
            {"PersonalizationComplete", state::PersonalizationComplete},
            {"Ejecting", state::Ejecting},
            {"EjectComplete", state::EjectComplete}};
}

class DeletedJobTest : public LoopFixture, public ::testing::WithParamInterface<Deletion> {
protected:
    void TearDown() override {
        standin::setThreadSleepHook(nullptr);
        LoopFixture::TearDown();
    }

    void deleteJob() {
        WideString request(u"<kx_api><command value=\"delete_job\"/></kx_api>");
        std::vector<WCHAR> out(1024);
        DWORD returned = 0;
        EXPECT_EQ(table->pfnGetPrinterDataFromPort(handle, 0, request.data(), nullptr, 0, out.data(),
                                                   static_cast<DWORD>(out.size() * sizeof(WCHAR)), &returned),
                  TRUE);
    }
};

std::string textOf(const Bytes& payload) { return std::string(payload.begin(), payload.end()); }

TEST_P(DeletedJobTest, TheNextJobGetsOnlyItsOwnCardsOnceEach) {
    const MachineState at = GetParam().at;
    machine.setBusyPolls(1);  // every state an acknowledgement starts is seen at a pause
    if (at == state::Unknown) machine.script(command::Poll, standin::MachineResponse::eot());

    // The first job is deleted at the first pause that finds the machine in the state.
    std::size_t framesBefore = 0;
    bool deleted = false;
    standin::setThreadSleepHook([&](DWORD milliseconds) {
        if (deleted || milliseconds != 90) return;
        if (underPortLock([](MonitorPort& p) { return p.machineState; }) != at) return;
        deleted = true;
        framesBefore = machine.frames();
        deleteJob();
    });
    EXPECT_EQ(produce("<SX856 SY540 X10 Y20 F1 CI3><FIRST 1><FIRST 2><FIRST 3>"), TRUE);
    standin::setThreadSleepHook(nullptr);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(produce("<SECOND 1><SECOND 2>"), TRUE);

    const std::vector<standin::ReceivedCommand> received = machine.received();
    std::vector<std::string> personalised;
    std::string letters;
    for (std::size_t i = framesBefore; i < received.size(); ++i) {
        const std::string payload = textOf(received[i].payload);
        EXPECT_EQ(payload.find("FIRST"), std::string::npos) << "frame " << i << " carries a deleted card";
        if (received[i].command == command::Personalize) personalised.push_back(payload.substr(payload.find("SECOND")));
        letters.push_back(static_cast<char>(received[i].command));
    }
    EXPECT_EQ(personalised, (std::vector<std::string>{"SECOND 1", "SECOND 2"}));
    EXPECT_EQ(std::count(letters.begin(), letters.end(), 'E'), 2) << letters;  // the second job's own cards
    if (at >= state::LoadStarted) {
        // A card of the first job was in the machine: it is restored away
        // before the second job's first card is loaded.
        const std::size_t restore = letters.find('!');
        ASSERT_NE(restore, std::string::npos) << letters;
        EXPECT_LT(restore, letters.find('L')) << letters;
    }
    EXPECT_EQ(port->jobQueue.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(States, DeletedJobTest, ::testing::ValuesIn(deletions()), NamedCase());

}  // namespace
}  // namespace kestrova::testing
