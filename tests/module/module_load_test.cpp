// The built module as a host sees it: loaded with dlopen, entered through its
// one export, its platform calls resolved from the stand-in library.
#include "platform/spooler_monitor.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

using InitializeFn = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);

class LoadedModule : public ::testing::Test {
protected:
    void SetUp() override {
        handle = dlopen(KESTROVA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        initialize = reinterpret_cast<InitializeFn>(dlsym(handle, "InitializePrintMonitor2"));
        ASSERT_NE(initialize, nullptr);
    }
    void TearDown() override {
        if (handle != nullptr) dlclose(handle);
    }
    void* handle = nullptr;
    InitializeFn initialize = nullptr;
};

TEST_F(LoadedModule, ExportsOnlyTheEntryAndHidesTheCore) {
    EXPECT_EQ(dlsym(handle, "_ZN8kestrova13processDetachENS_12DetachReasonE"), nullptr);
    EXPECT_EQ(dlsym(handle, "_ZN8kestrova6decodeEPKhmRNS_9LinkFrameE"), nullptr);
}

TEST_F(LoadedModule, OpensAndClosesAPortThroughTheTable) {
    HANDLE monitor = nullptr;
    LPMONITOR2 table = initialize(nullptr, &monitor);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->cbSize, sizeof(MONITOR2));
    kestrova::standin::SoftwarePortMonitor spm;
    char16_t portName[] = u"LPT1:";
    char16_t printerName[] = u"Card Printer";
    HANDLE port = nullptr;
    ASSERT_EQ(table->pfnOpenPortEx(monitor, spm.monitorHandle(), portName, printerName, &port, spm.table()), TRUE);
    EXPECT_EQ(table->pfnClosePort(port), TRUE);
    EXPECT_EQ(spm.countOf(kestrova::standin::PortEntry::ClosePort), 1u);
    table->pfnShutdown(monitor);
}

// Unloading does what a FreeLibrary does on Windows: the last monitor and
// its ports go, without closing the ports beneath and without any platform
// call, even with a document started.
TEST_F(LoadedModule, UnloadReleasesTheLastMonitorAndCallsNothing) {
    kestrova::standin::reset();
    HANDLE monitor = nullptr;
    LPMONITOR2 table = initialize(nullptr, &monitor);
    ASSERT_NE(table, nullptr);
    kestrova::standin::SoftwarePortMonitor spm;
    char16_t portName[] = u"LPT1:";
    char16_t printerName[] = u"Card Printer";
    HANDLE port = nullptr;
    ASSERT_EQ(table->pfnOpenPortEx(monitor, spm.monitorHandle(), portName, printerName, &port, spm.table()), TRUE);
    WCHAR docName[] = u"doc";
    DOC_INFO_1 info{docName, nullptr, nullptr};
    ASSERT_EQ(table->pfnStartDocPort(port, printerName, 7, 1, reinterpret_cast<LPBYTE>(&info)), TRUE);
    kestrova::standin::clearCalls();
    ASSERT_EQ(dlclose(handle), 0);
    handle = nullptr;
    EXPECT_EQ(spm.countOf(kestrova::standin::PortEntry::ClosePort), 0u);
    EXPECT_TRUE(kestrova::standin::calls().empty());
}

}  // namespace
