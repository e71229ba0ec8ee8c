// Every entry of the function table, made to run out of memory at its 1st,
// 2nd, 3rd ... allocation until it gets through: after each failure whatever
// the entry opened beneath is closed again (ports, documents, printer
// handles pair up) and the same port prints a fresh job whole.
#include "allocation_failure.h"
#include "case_name.h"
#include "loop_fixture.h"

#include "monitor/language_monitor.h"

#include <functional>
#include <string>

namespace kestrova::testing {
namespace {

using standin::PortEntry;

class AllOrNothingTest;

struct Entry {
    const char* name;
    // Runs the entry (with what it needs around it) and arms the failure
    // only around the entry itself; true when the failure came.
    std::function<bool(AllOrNothingTest&, std::size_t failAt)> attempt;
};

class AllOrNothingTest : public LoopFixture, public ::testing::WithParamInterface<Entry> {
public:
    using LoopFixture::endDoc;
    using LoopFixture::handle;
    using LoopFixture::monitor;
    using LoopFixture::spm;
    using LoopFixture::startDoc;
    using LoopFixture::table;
    using LoopFixture::write;

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

}  // namespace
}  // namespace kestrova::testing
