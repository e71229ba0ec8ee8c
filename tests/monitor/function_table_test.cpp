#include "monitor/language_monitor.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(FunctionTable, FillsExactlyTheEightEntries) {
    HANDLE monitor = nullptr;
    LPMONITOR2 table = InitializePrintMonitor2(nullptr, &monitor);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(table->cbSize, sizeof(MONITOR2));
    table->pfnShutdown(monitor);
}

}  // namespace
}  // namespace kestrova
