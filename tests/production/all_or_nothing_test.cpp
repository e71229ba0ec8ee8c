// Every entry of the function table, made to run out of memory at its 1st,
// 2nd, 3rd ... allocation until it gets through: after each failure whatever
// the entry opened beneath is closed again (ports, documents, printer
// handles pair up) and the same port prints a fresh job whole.
#include "support/allocation_failure.h"
#include "case_name.h"
#include "support/port_fixture.h"

#include "monitor/language_monitor.h"

#include <functional>
#include <new>
#include <string>

namespace kestrova::testing {
namespace {

using standin::PortEntry;

class EntryFixture : public PortFixture {
public:
    using PortFixture::endDoc;
    using PortFixture::handle;
    using PortFixture::monitor;
    using PortFixture::spm;
    using PortFixture::startDoc;
    using PortFixture::table;
    using PortFixture::write;

    std::string cardJob(std::size_t round) const {
        const std::string n = std::to_string(round);
        return "<SX856 SY540 X10 Y20 F1 CI3><CARD " + n + " A><CARD " + n + " B>";
    }

    void begin(std::size_t round) {
        ASSERT_EQ(startDoc(static_cast<DWORD>(round)), TRUE);
        write(cardJob(round));
    }

    // Whether the failure came while `entry` ran.
    template <typename Call>
    bool failing(std::size_t failAt, Call entry) {
        FailAllocationNumber failure(failAt);
        entry();
        return failure.fired();
    }

    std::size_t monitorPorts() const { return static_cast<LanguageMonitor*>(monitor)->ports.size(); }

    void expectEverythingPaired() {
        EXPECT_EQ(spm.openPorts(), monitorPorts()) << "a port beneath without its object, or the other way";
        EXPECT_EQ(spm.countOf(PortEntry::StartDocPort), spm.countOf(PortEntry::EndDocPort));
        std::size_t opened = 0;
        for (const auto& call : standin::callsNamed("OpenPrinterW")) opened += call.handle != nullptr ? 1 : 0;
        EXPECT_EQ(opened, standin::callsNamed("ClosePrinter").size());
        EXPECT_EQ(underPortLock([](MonitorPort& p) { return p.jobInfo.jobId; }), 0u);
    }

    void expectAFreshJobPrintsWhole(std::size_t round) {
        const std::size_t before = machine.payloadsOf(command::Personalize).size();
        ASSERT_EQ(produce(cardJob(round)), TRUE);
        const std::vector<Bytes> sent = machine.payloadsOf(command::Personalize);
        std::vector<std::string> texts;
        for (std::size_t i = before; i < sent.size(); ++i) {
            const std::string payload(sent[i].begin(), sent[i].end());
            texts.push_back(payload.substr(payload.find("CARD")));
        }
        const std::string n = std::to_string(round);
        EXPECT_EQ(texts, (std::vector<std::string>{"CARD " + n + " A", "CARD " + n + " B"}));
        expectEverythingPaired();
    }
};

class AllOrNothingTest;

struct Entry {
    const char* name;
    // Runs the entry (with what it needs around it) and arms the failure
    // only around the entry itself; true when the failure came.
    std::function<bool(AllOrNothingTest&, std::size_t failAt)> attempt;
};

class AllOrNothingTest : public EntryFixture, public ::testing::WithParamInterface<Entry> {};

const Bytes kGetInfo = [] {
    const std::string request = "<kx_api><command value=\"get_info\"/></kx_api>";
    return Bytes(request.begin(), request.end());
}();

std::vector<Entry> entries() {
    return {
        {"OpenPortEx",
         [](AllOrNothingTest& t, std::size_t failAt) {
             WideString portName(u"COM7:"), printer(u"Second Printer");
             HANDLE second = nullptr;
             BOOL result = FALSE;
             const bool fired = t.failing(failAt, [&] {
                 result = t.table->pfnOpenPortEx(t.monitor, t.spm.monitorHandle(), portName.data(), printer.data(),
                                                 &second, t.spm.table());
             });
             EXPECT_EQ(result == TRUE, !fired);
             EXPECT_EQ(second == nullptr, fired);
            if (second != nullptr) {
                EXPECT_EQ(t.table->pfnClosePort(second), TRUE);
            }
             return fired;
         }},
        {"StartDocPort",
         [](AllOrNothingTest& t, std::size_t failAt) {
             BOOL result = FALSE;
             const bool fired = t.failing(failAt, [&] { result = t.startDoc(static_cast<DWORD>(failAt)); });
             EXPECT_EQ(result == TRUE, !fired);
             if (!fired) {
                 t.write(t.cardJob(failAt));
                 EXPECT_EQ(t.endDoc(), TRUE);
             }
             return fired;
         }},
        {"WritePort",
         [](AllOrNothingTest& t, std::size_t failAt) {
             EXPECT_EQ(t.startDoc(static_cast<DWORD>(failAt)), TRUE);
             std::string job = t.cardJob(failAt);
             BOOL result = FALSE;
             DWORD written = 0;
             const bool fired = t.failing(failAt, [&] {
                 result = t.table->pfnWritePort(t.handle, reinterpret_cast<LPBYTE>(job.data()),
                                                static_cast<DWORD>(job.size()), &written);
             });
             EXPECT_EQ(result == TRUE, !fired);
             // A job that lost bytes is not produced, and not reported printed.
             const std::size_t setJobs = standin::callsNamed("SetJobW").size();
             SetLastError(0xdeadbeef);
             EXPECT_EQ(t.endDoc(), fired ? FALSE : TRUE);
             if (fired) {
                 EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
                 EXPECT_EQ(standin::callsNamed("SetJobW").size(), setJobs);
             }
             return fired;
         }},
        {"EndDocPort",
         [](AllOrNothingTest& t, std::size_t failAt) {
             t.begin(failAt);
             BOOL result = FALSE;
             const bool fired = t.failing(failAt, [&] { result = t.endDoc(); });
             EXPECT_EQ(result == TRUE, !fired);
             return fired;
         }},
        {"GetPrinterDataFromPort",
         [](AllOrNothingTest& t, std::size_t failAt) {
             WideString request(kGetInfo.begin(), kGetInfo.end());
             std::vector<WCHAR> out(4096);
             DWORD returned = 0;
             BOOL result = FALSE;
             const bool fired = t.failing(failAt, [&] {
                 result = t.table->pfnGetPrinterDataFromPort(t.handle, 0, request.data(), nullptr, 0, out.data(),
                                                             static_cast<DWORD>(out.size() * sizeof(WCHAR)),
                                                             &returned);
             });
             EXPECT_EQ(result == TRUE, !fired);
             return fired;
         }},
        {"InitializePrintMonitor2",
         [](AllOrNothingTest& t, std::size_t failAt) {
             HANDLE second = nullptr;
             LPMONITOR2 table = nullptr;
             const bool fired = t.failing(failAt, [&] { table = InitializePrintMonitor2(nullptr, &second); });
             EXPECT_EQ(table == nullptr, fired);
             if (second != nullptr) t.table->pfnShutdown(second);
             return fired;
         }},
    };
}

TEST_P(AllOrNothingTest, RunsOutOfMemoryAtEveryAllocationInTurn) {
    constexpr std::size_t kMostAllocations = 5000;
    std::size_t failAt = 1;
    for (; failAt <= kMostAllocations; ++failAt) {
        SCOPED_TRACE(::testing::Message() << GetParam().name << " failing at allocation " << failAt);
        if (!GetParam().attempt(*this, failAt)) break;
        expectEverythingPaired();
        expectAFreshJobPrintsWhole(failAt + 100000);
        if (HasFailure()) return;
    }
    EXPECT_LE(failAt, kMostAllocations) << "the entry never got through";
    RecordProperty("allocations_swept", static_cast<int>(failAt - 1));
}

INSTANTIATE_TEST_SUITE_P(Entries, AllOrNothingTest, ::testing::ValuesIn(entries()), NamedCase());

using ProductionMemoryTest = EntryFixture;

// Everything production needs is taken before the first exchange: memory can
// run out only while nothing of the job has reached the machine, so the job
// left in the spooler can be printed again whole, and since no exchange was
// cut short the machine need not be restored for it.
TEST_F(ProductionMemoryTest, RunsOutOnlyBeforeAnythingReachesTheMachine) {
    ASSERT_EQ(produce(cardJob(0)), TRUE);  // the machine restored once, then ready
    constexpr std::size_t kMostAllocations = 5000;
    std::size_t failAt = 1;
    for (; failAt <= kMostAllocations; ++failAt) {
        SCOPED_TRACE(::testing::Message() << "EndDocPort failing at allocation " << failAt);
        begin(failAt);
        const std::size_t frames = machine.frames();
        const std::size_t setJobs = standin::callsNamed("SetJobW").size();
        BOOL result = TRUE;
        DWORD error = 0;
        if (!failing(failAt, [&] {
                result = endDoc();
                error = GetLastError();
            })) {
            EXPECT_EQ(result, TRUE);
            break;
        }
        EXPECT_EQ(result, FALSE);
        EXPECT_EQ(error, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(machine.frames(), frames) << "memory ran out after the job reached the machine: "
                                            << machine.commandLetters().substr(frames);
        EXPECT_EQ(standin::callsNamed("SetJobW").size(), setJobs) << "the job is not reported printed";

        // The spooler prints it again: whole, each card once, no restore first.
        const std::size_t again = machine.frames();
        expectAFreshJobPrintsWhole(failAt);
        EXPECT_EQ(machine.commandLetters().find('!', again), std::string::npos) << machine.commandLetters().substr(again);
        if (HasFailure()) return;
    }
    EXPECT_LE(failAt, kMostAllocations) << "EndDocPort never got through";
    RecordProperty("allocations_swept", static_cast<int>(failAt - 1));
}

// The port beneath, failing in a way no allocation can any more: it throws
// at the first write after a Personalize went out.
class FailingAfterPersonalize : public standin::PortPeer {
public:
    explicit FailingAfterPersonalize(standin::PortPeer& machine) : machine_(machine) {}
    long onWrite(const std::uint8_t* data, std::size_t size) override {
        if (armed && personalised_) {
            armed = false;
            throw std::bad_alloc();
        }
        if (size > 6 && data[6] == command::Personalize) personalised_ = true;
        return machine_.onWrite(data, size);
    }
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override {
        return machine_.onRead(buffer, size, timeouts);
    }
    bool armed = true;

private:
    standin::PortPeer& machine_;
    bool personalised_ = false;
};

// Once a card may have been made, the job is never offered for a second run:
// the spooler deletes it, and the cards that were made are made once only.
TEST_F(ProductionMemoryTest, AFailureAfterACardWasMadeDeletesTheJob) {
    FailingAfterPersonalize peer(machine);
    spm.setPeer(&peer);
    standin::setOpenPrinterResult(TRUE, reinterpret_cast<HANDLE>(0x4711));
    ASSERT_EQ(startDoc(42), TRUE);
    write("<SX856 SY540 X10 Y20 F1 CI3><FIRST 1><FIRST 2><FIRST 3>");
    SetLastError(0);
    EXPECT_EQ(endDoc(), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    const auto setJobs = standin::callsNamed("SetJobW");
    ASSERT_EQ(setJobs.size(), 1u);
    EXPECT_EQ(setJobs[0].command, JOB_CONTROL_DELETE);
    EXPECT_EQ(setJobs[0].jobId, 42u);
    EXPECT_EQ(standin::callsNamed("ClosePrinter").size(), 1u);
    EXPECT_EQ(spm.countOf(PortEntry::EndDocPort), 1u);
    EXPECT_EQ(standin::debugOutput(),
              u"KestrovaLM.cfg not found\nKestrovaLM: job deleted, not printed again: memory ran out after a card "
              u"was made; 0 of its 3 cards had been ejected\n");

    const std::size_t from = machine.frames();
    EXPECT_EQ(produce("<SECOND 1><SECOND 2>"), TRUE);
    const std::string letters = machine.commandLetters().substr(from);
    EXPECT_LT(letters.find('!'), letters.find('L')) << "the card in the machine is restored away first: " << letters;
    std::vector<std::string> personalised;
    for (const Bytes& payload : machine.payloadsOf(command::Personalize)) {
        const std::string text(payload.begin(), payload.end());
        personalised.push_back(text.substr(text.find_first_of("FS")));
    }
    EXPECT_EQ(personalised, (std::vector<std::string>{"FIRST 1", "SECOND 1", "SECOND 2"}));
}

}  // namespace
}  // namespace kestrova::testing
