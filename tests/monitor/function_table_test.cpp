#include "support/monitor_fixture.h"

#include <cstddef>
#include <set>

namespace kestrova::testing {
namespace {

// The members as they stand in the table, by offset.
std::size_t offsetOfMember(int index) { return offsetof(MONITOR2, pfnEnumPorts) + index * sizeof(void*); }

TEST(FunctionTable, HoldsExactlyTheEightEntriesAndFourteenNulls) {
    HANDLE monitor = nullptr;
    LPMONITOR2 table = InitializePrintMonitor2(nullptr, &monitor);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->cbSize, sizeof(MONITOR2));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(table->cbSize, 92u);
    }

    const std::set<int> filled = {2, 3, 4, 5, 6, 7, 12, 17};  // OpenPortEx..ClosePort, GetPrinterData.., Shutdown
    int nulls = 0;
    for (int i = 0; i < 22; ++i) {
        void* member = nullptr;
        std::memcpy(&member, reinterpret_cast<const char*>(table) + offsetOfMember(i), sizeof member);
        if (filled.count(i) != 0) {
            EXPECT_NE(member, nullptr) << "member " << i;
        } else {
            EXPECT_EQ(member, nullptr) << "member " << i;
            ++nulls;
        }
    }
    EXPECT_EQ(nulls, 14);
    EXPECT_NE(table->pfnOpenPortEx, nullptr);
    EXPECT_NE(table->pfnGetPrinterDataFromPort, nullptr);
    EXPECT_NE(table->pfnShutdown, nullptr);
    EXPECT_EQ(table->pfnSetPortTimeOuts, nullptr);
    EXPECT_EQ(table->pfnPowerEvent, nullptr);
    table->pfnShutdown(monitor);
}

TEST(FunctionTable, NullOutHandleGivesNullAndLeavesNothingBehind) {
    standin::reset();
    EXPECT_EQ(InitializePrintMonitor2(nullptr, nullptr), nullptr);
    // Nothing was created, so the detach has nothing to release or call.
    processDetach();
    EXPECT_TRUE(standin::calls().empty());
    // ...and the module takes a monitor afterwards as before.
    HANDLE monitor = nullptr;
    LPMONITOR2 table = InitializePrintMonitor2(nullptr, &monitor);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(monitor, nullptr);
    table->pfnShutdown(monitor);
}

TEST(FunctionTable, TwoInitialisationsShareTheTableButNotTheMonitor) {
    MONITORINIT init{};
    HANDLE first = reinterpret_cast<HANDLE>(0x1);
    HANDLE second = nullptr;
    LPMONITOR2 a = InitializePrintMonitor2(&init, &first);
    LPMONITOR2 b = InitializePrintMonitor2(nullptr, &second);
    EXPECT_EQ(a, b);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(static_cast<LanguageMonitor*>(first)->monitorInit, &init);
    EXPECT_EQ(static_cast<LanguageMonitor*>(second)->monitorInit, nullptr);
    a->pfnShutdown(first);
    a->pfnShutdown(second);
}

TEST_F(MonitorFixture, EveryPortEntryRefusesANullHandle) {
    BYTE buffer[4] = {1, 2, 3, 4};
    DWORD count = 77;
    WCHAR name[] = u"x";
    EXPECT_EQ(table->pfnStartDocPort(nullptr, name, 1, 1, nullptr), FALSE);
    EXPECT_EQ(table->pfnWritePort(nullptr, buffer, 4, &count), FALSE);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(table->pfnReadPort(nullptr, buffer, 4, &count), FALSE);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(table->pfnEndDocPort(nullptr), FALSE);
    EXPECT_EQ(table->pfnClosePort(nullptr), FALSE);
    WCHAR out[8];
    EXPECT_EQ(table->pfnGetPrinterDataFromPort(nullptr, 0, name, nullptr, 0, out, sizeof out, &count), FALSE);
    EXPECT_EQ(count, 77u);
    table->pfnShutdown(nullptr);  // does nothing
    EXPECT_TRUE(spm.calls().empty());
    EXPECT_TRUE(standin::calls().empty());
}

TEST_F(MonitorFixture, ReadPortGivesNothingBack) {
    HANDLE port = openPort();
    BYTE buffer[4] = {9, 9, 9, 9};
    DWORD count = 77;
    EXPECT_EQ(table->pfnReadPort(port, buffer, sizeof buffer, &count), FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(spm.countOf(standin::PortEntry::ReadPort), 0u);
}

}  // namespace
}  // namespace kestrova::testing
