// A monitor created through the export, over a software port monitor, and
// shut down after the test; ports opened through its function table.
// PortFixture (support/port_fixture.h) adds the machine and an open port.
#pragma once

#include "monitor/language_monitor.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kestrova::testing {

class MonitorFixture : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        standin::setClockMode(clockMode);
        table = InitializePrintMonitor2(nullptr, &monitor);
        ASSERT_NE(table, nullptr);
        ASSERT_NE(monitor, nullptr);
    }

    void TearDown() override {
        if (monitor != nullptr) table->pfnShutdown(monitor);
    }

    LanguageMonitor& languageMonitor() { return *static_cast<LanguageMonitor*>(monitor); }

    // OpenPortEx with the names given; returns the entry's result.
    BOOL openPort(const char16_t* portName, const char16_t* printerName, HANDLE& handle) {
        WideString port(portName), printer(printerName);
        return table->pfnOpenPortEx(monitor, spm.monitorHandle(), port.data(), printer.data(), &handle,
                                    spm.table());
    }

    HANDLE openPort(const char16_t* portName = u"LPT1:", const char16_t* printerName = u"Card Printer") {
        HANDLE handle = nullptr;
        EXPECT_EQ(openPort(portName, printerName, handle), TRUE);
        return handle;
    }

    standin::ClockMode clockMode = standin::ClockMode::Real;  // the platform's, from SetUp on
    standin::SoftwarePortMonitor spm;
    HANDLE monitor = nullptr;
    LPMONITOR2 table = nullptr;
};

}  // namespace kestrova::testing
