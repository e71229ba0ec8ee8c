// "delete_job" in each state of the machine, and at each moment of a job's
// intake, then a second job on the same port: no frame of the second job
// carries a card of the first, and each card of the second job is
// personalised exactly once, in order.
#include "support/allocation_failure.h"
#include "case_name.h"
#include "support/port_fixture.h"

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

// delete_job for the port's document; true when it was answered.
bool sendDeleteJob(LPMONITOR2 table, HANDLE handle) {
    WideString request(u"<kx_api><command value=\"delete_job\"/></kx_api>");
    std::vector<WCHAR> out(1024);
    DWORD returned = 0;
    return table->pfnGetPrinterDataFromPort(handle, 0, request.data(), nullptr, 0, out.data(),
                                            static_cast<DWORD>(out.size() * sizeof(WCHAR)), &returned) == TRUE;
}

class DeletedJobTest : public PortFixture, public ::testing::WithParamInterface<Deletion> {
protected:
    void TearDown() override {
        standin::setThreadSleepHook(nullptr);
        PortFixture::TearDown();
    }

    void deleteJob() { EXPECT_TRUE(sendDeleteJob(table, handle)); }
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
        if (underPortLock([](MonitorPort& p) { return p.machine().state(); }) != at) return;
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
    EXPECT_EQ(port->intake().cardsLeft(), 0u);
}

INSTANTIATE_TEST_SUITE_P(States, DeletedJobTest, ::testing::ValuesIn(deletions()), NamedCase());

// Between StartDocPort and EndDocPort the queue is still empty; the deletion
// is of the document all the same.
struct IntakeDeletion {
    const char* name;
    std::size_t writtenBefore;  // bytes of the job written when delete_job comes
    bool dataLost;              // a WritePort could not store its bytes
};

class IntakeDeletionTest : public PortFixture, public ::testing::WithParamInterface<IntakeDeletion> {};

TEST_P(IntakeDeletionTest, NothingOfTheJobIsProducedAndTheSpoolerDeletesIt) {
    const std::string first = "<SX856 SY540 X10 Y20 F1 CI3><FIRST 1><FIRST 2><FIRST 3>";
    standin::setOpenPrinterResult(TRUE, reinterpret_cast<HANDLE>(0x4711));
    ASSERT_EQ(startDoc(42), TRUE);
    const std::size_t before = std::min(GetParam().writtenBefore, first.size());
    write(first.substr(0, before));
    if (GetParam().dataLost) {
        std::string rest = first.substr(before);
        DWORD written = 0;
        BOOL stored = TRUE;
        {
            const FailLargeAllocations outOfMemory(1);
            stored = table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(rest.data()),
                                         static_cast<DWORD>(rest.size()), &written);
        }
        EXPECT_EQ(stored, FALSE);
    }
    ASSERT_TRUE(sendDeleteJob(table, handle));
    if (!GetParam().dataLost) write(first.substr(before));
    standin::clearCalls();

    EXPECT_EQ(endDoc(), TRUE);
    EXPECT_EQ(machine.frames(), 0u) << machine.commandLetters();
    // Finished in the spooler as a job deleted in production is.
    const auto setJobs = standin::callsNamed("SetJobW");
    ASSERT_EQ(setJobs.size(), 2u);
    EXPECT_EQ(setJobs[0].command, JOB_CONTROL_LAST_PAGE_EJECTED);
    EXPECT_EQ(setJobs[1].command, JOB_CONTROL_DELETE);
    EXPECT_EQ(setJobs[1].jobId, 42u);
    EXPECT_EQ(standin::callsNamed("ClosePrinter").size(), 1u);
    EXPECT_EQ(spm.countOf(standin::PortEntry::EndDocPort), 1u);

    EXPECT_EQ(produce("<SX856 SY540 X10 Y20 F1 CI3><SECOND 1><SECOND 2>"), TRUE);
    std::vector<std::string> personalised;
    for (const Bytes& payload : machine.payloadsOf(command::Personalize)) {
        personalised.push_back(textOf(payload).substr(textOf(payload).find("SECOND")));
    }
    EXPECT_EQ(personalised, (std::vector<std::string>{"SECOND 1", "SECOND 2"}));
}

INSTANTIATE_TEST_SUITE_P(Moments, IntakeDeletionTest,
                         ::testing::Values(IntakeDeletion{"BeforeAnyData", 0, false},
                                           IntakeDeletion{"BetweenTwoWrites", 30, false},
                                           IntakeDeletion{"AfterTheLastWrite", 1000, false},
                                           IntakeDeletion{"AfterDataWasLost", 0, true}),
                         NamedCase());

}  // namespace
}  // namespace kestrova::testing
