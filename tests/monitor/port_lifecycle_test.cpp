#include "support/port_fixture.h"

#include "link/link_session.h"

#include <algorithm>
#include <iterator>

namespace kestrova::testing {
namespace {

using standin::PortEntry;

TEST_F(MonitorFixture, SameNamesGiveTheSamePortAndOneOpenBeneath) {
    HANDLE a = openPort(u"LPT1:", u"Card Printer");
    HANDLE b = openPort(u"LPT1:", u"Card Printer");
    EXPECT_EQ(a, b);
    EXPECT_EQ(spm.countOf(PortEntry::OpenPort), 1u);
    EXPECT_EQ(languageMonitor().ports.size(), 1u);
}

TEST_F(MonitorFixture, PortsAreKeyedByBothNamesExactly) {
    struct Case {
        const char16_t* port;
        const char16_t* printer;
    } cases[] = {
        {u"LPT1:", u"Card Printer"},
        {u"LPT1:", u"Other Printer"},  // same port, another printer
        {u"lpt1:", u"Card Printer"},   // letter case matters
        {u"LPT1:", u"Card printer"},
        {u"LPT1: ", u"Card Printer"},  // one more unit
    };
    std::set<HANDLE> handles;
    for (const auto& c : cases) handles.insert(openPort(c.port, c.printer));
    EXPECT_EQ(handles.size(), std::size(cases));
    EXPECT_EQ(spm.countOf(PortEntry::OpenPort), std::size(cases));
    const auto opens = spm.callsOf(PortEntry::OpenPort);
    ASSERT_EQ(opens.size(), std::size(cases));
    EXPECT_EQ(opens[2].name, u"lpt1:");
    EXPECT_EQ(opens[0].handle, spm.monitorHandle());
}

TEST_F(MonitorFixture, NewPortStartsFromItsInitialValues) {
    auto* port = static_cast<MonitorPort*>(openPort());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->monitor, &languageMonitor());
    EXPECT_EQ(port->portMonitorHandle, spm.monitorHandle());
    EXPECT_EQ(port->portMonitor, spm.table());
    EXPECT_NE(port->portHandle, nullptr);
    EXPECT_EQ(port->printerHandle, nullptr);
    EXPECT_EQ(port->jobInfo.jobId, 0u);
    EXPECT_EQ(port->machine().state(), 0);
    EXPECT_EQ(port->machine().hwErrorCode(), 0);
    EXPECT_EQ(port->intake().cardsLeft(), 0u);
    EXPECT_TRUE(port->currentRecord.items().empty());
}

// Where the link starts shows in the first exchange of a new port: the first
// sequence number after the reserved ones, the machine's address, and the
// time-outs set on the port beneath right before the frame goes out.
using NewPort = PortFixture;

TEST_F(NewPort, FirstExchangeShowsWhereTheLinkStarts) {
    ASSERT_EQ(produce("<SX856 SY540 X120 Y45 F2 CI3><Ann>"), TRUE);
    const auto received = machine.received();
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].sequence, 32);
    EXPECT_EQ(received[0].address, (MachineAddress{'Z', '9', 'Q', 'Q'}));

    const auto calls = spm.calls();
    // The first frame is written under the link's own time-outs, set just before it.
    const auto write = std::find_if(calls.begin(), calls.end(),
                                    [](const standin::PortCall& call) { return call.entry == PortEntry::WritePort; });
    ASSERT_NE(write, calls.end());
    ASSERT_NE(write, calls.begin());
    const auto set = std::prev(write);
    ASSERT_EQ(set->entry, PortEntry::SetPortTimeOuts);
    EXPECT_EQ(set->handle, port->portHandle);
    EXPECT_EQ(set->timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(set->timeouts.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(set->timeouts.ReadTotalTimeoutConstant, 1500u);
    EXPECT_EQ(set->timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(set->timeouts.WriteTotalTimeoutConstant, 1500u);
}

TEST_F(MonitorFixture, OpenPortExRefusesMissingArguments) {
    WCHAR port[] = u"LPT1:";
    WCHAR printer[] = u"P";
    HANDLE handle = reinterpret_cast<HANDLE>(0x55);
    EXPECT_EQ(table->pfnOpenPortEx(nullptr, spm.monitorHandle(), port, printer, &handle, spm.table()), FALSE);
    EXPECT_EQ(table->pfnOpenPortEx(monitor, nullptr, port, printer, &handle, spm.table()), FALSE);
    EXPECT_EQ(table->pfnOpenPortEx(monitor, spm.monitorHandle(), nullptr, printer, &handle, spm.table()), FALSE);
    EXPECT_EQ(table->pfnOpenPortEx(monitor, spm.monitorHandle(), port, nullptr, &handle, spm.table()), FALSE);
    EXPECT_EQ(table->pfnOpenPortEx(monitor, spm.monitorHandle(), port, printer, nullptr, spm.table()), FALSE);
    EXPECT_EQ(table->pfnOpenPortEx(monitor, spm.monitorHandle(), port, printer, &handle, nullptr), FALSE);
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x55));  // nothing written
    EXPECT_EQ(spm.countOf(PortEntry::OpenPort), 0u);
    EXPECT_TRUE(languageMonitor().ports.empty());
}

TEST_F(MonitorFixture, FailedOpenBeneathIsPassedOnUnchanged) {
    for (BOOL result : {FALSE, 2, -1}) {
        spm.setResult(PortEntry::OpenPort, result);
        HANDLE handle = reinterpret_cast<HANDLE>(0x55);
        EXPECT_EQ(openPort(u"COM1:", u"P", handle), result);
        EXPECT_EQ(handle, nullptr);
        EXPECT_TRUE(languageMonitor().ports.empty());
    }
}

TEST_F(MonitorFixture, ClosingKeepsTheOrderOfTheOtherPorts) {
    HANDLE a = openPort(u"A", u"P");
    HANDLE b = openPort(u"B", u"P");
    HANDLE c = openPort(u"C", u"P");
    EXPECT_EQ(table->pfnClosePort(b), TRUE);
    auto& ports = languageMonitor().ports;
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].get(), a);
    EXPECT_EQ(ports[1].get(), c);
    const auto closes = spm.callsOf(PortEntry::ClosePort);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(spm.openPorts(), 2u);
    HANDLE d = openPort(u"D", u"P");
    EXPECT_EQ(ports.back().get(), d);
}

TEST_F(MonitorFixture, FailedCloseBeneathKeepsThePortUsable) {
    HANDLE port = openPort();
    spm.failCall(PortEntry::ClosePort, 1, 3);
    EXPECT_EQ(table->pfnClosePort(port), 3);  // the port monitor's own result
    ASSERT_EQ(languageMonitor().ports.size(), 1u);
    EXPECT_EQ(openPort(), port);  // still found under its names
    EXPECT_EQ(table->pfnClosePort(port), TRUE);
    EXPECT_EQ(table->pfnClosePort(port), TRUE);
    EXPECT_TRUE(languageMonitor().ports.empty());
    EXPECT_EQ(spm.openPorts(), 0u);
}

// A spooler that opened the same port twice closes it twice: the first
// close must not leave the second holder with a dangling handle.
TEST_F(MonitorFixture, PortHandedOutTwiceLivesUntilTheLastClose) {
    HANDLE first = openPort();
    HANDLE second = openPort();
    ASSERT_EQ(first, second);
    EXPECT_EQ(table->pfnClosePort(first), TRUE);
    EXPECT_EQ(spm.countOf(PortEntry::ClosePort), 0u);
    ASSERT_EQ(languageMonitor().ports.size(), 1u);
    EXPECT_EQ(languageMonitor().ports[0].get(), second);
    EXPECT_EQ(table->pfnClosePort(second), TRUE);
    EXPECT_EQ(spm.countOf(PortEntry::ClosePort), 1u);
    EXPECT_TRUE(languageMonitor().ports.empty());
}

// Every way a port with a started document goes away: what is closed
// beneath, and whether the document's printer handle is given back. The
// spooler's own calls (ClosePort, Shutdown) close it; process detach runs
// under the loader lock and calls nothing outside the module, and an ending
// process releases nothing at all.
TEST_F(MonitorFixture, EachEndOfAPortClosesWhatItShould) {
    enum class End { ClosePort, Shutdown, Unload, ProcessEnd };
    const struct {
        const char* name;
        std::size_t closedBeneath;
        End end;
        bool printerClosed;
        bool released;
    } cases[] = {
        {"ClosePort", 1, End::ClosePort, true, true},
        {"Shutdown", 0, End::Shutdown, true, true},
        {"unload (FreeLibrary, dlclose)", 0, End::Unload, false, true},
        {"process end", 0, End::ProcessEnd, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        standin::reset();
        standin::SoftwarePortMonitor beneath;
        HANDLE older = monitor;
        ASSERT_NE(InitializePrintMonitor2(nullptr, &monitor), nullptr);  // the one detach releases
        WideString portName(u"LPT1:"), printerName(u"Card Printer"), docName(u"doc");
        HANDLE port = nullptr;
        ASSERT_EQ(table->pfnOpenPortEx(monitor, beneath.monitorHandle(), portName.data(), printerName.data(),
                                       &port, beneath.table()),
                  TRUE);
        DOC_INFO_1 info{docName.data(), nullptr, nullptr};
        ASSERT_EQ(table->pfnStartDocPort(port, printerName.data(), 7, 1, reinterpret_cast<LPBYTE>(&info)), TRUE);
        const HANDLE printer = static_cast<MonitorPort*>(port)->printerHandle;
        ASSERT_NE(printer, nullptr);
        standin::clearCalls();

        switch (c.end) {
            case End::ClosePort: EXPECT_EQ(table->pfnClosePort(port), TRUE); break;
            case End::Shutdown: table->pfnShutdown(monitor); break;
            case End::Unload: processDetach(DetachReason::Unload); break;
            case End::ProcessEnd: processDetach(DetachReason::ProcessEnd); break;
        }
        EXPECT_EQ(beneath.countOf(PortEntry::ClosePort), c.closedBeneath);
        const auto calls = standin::calls();
        if (c.printerClosed) {
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].name, "ClosePrinter");
            EXPECT_EQ(calls[0].handle, printer);
        } else {
            EXPECT_TRUE(calls.empty()) << calls.front().name;
        }
        if (c.end == End::ClosePort) {
            EXPECT_TRUE(languageMonitor().ports.empty());
            table->pfnShutdown(monitor);
        } else if (!c.released) {
            table->pfnShutdown(monitor);  // what an ending process would have taken along
        }
        processDetach();  // nothing is left to release
        monitor = older;
    }
}

}  // namespace
}  // namespace kestrova::testing
