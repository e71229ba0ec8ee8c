// StartDocPort and WritePort through the function table.
#include "support/allocation_failure.h"
#include "support/port_fixture.h"

#include "link/link_session.h"
#include "link/machine_command.h"
#include "platform/platform_calls.h"

namespace kestrova::testing {
namespace {

using standin::PortEntry;

class DocumentStartTest : public PortFixture {
protected:
    // The bytes the port has buffered, read without disturbing the test.
    std::string buffered() {
        std::string out;
        std::uint8_t byte = 0;
        port->intake().withBytes([&](JobStream& stream) {
            while (stream.get(byte)) out.push_back(static_cast<char>(byte));
        });
        return out;
    }

    // A port that has been through a job: data buffered, a card queued, the
    // sequence advanced, an error and a state left behind.
    void dirtyThePort() {
        write("<left over>");
        const PortLock portGuard(*port);
        port->intake().withQueue([](JobQueue& queue) { queue.records.emplace_back(); });
        ASSERT_TRUE(succeeded(port->machine().exchange(command::Poll, {})));
        ASSERT_NE(port->machine().link().sequence, kSequenceRestart);
        port->machine().presume(state::Ejecting, ExchangeOutcome::rejected(7));
    }

    void expectPortReset() {
        EXPECT_EQ(port->intake().bytesBuffered(), 0u);
        EXPECT_EQ(port->intake().cardsLeft(), 0u);
        EXPECT_EQ(port->machine().link().sequence, kSequenceRestart);
        // What the previous job left for the machine stays.
        EXPECT_EQ(port->machine().state(), state::Ejecting);
        EXPECT_EQ(port->machine().hwErrorCode(), 5383);
    }
};

TEST_F(DocumentStartTest, RecordsTheDocumentByLevel) {
    WideString output = u"out.prn";
    DOC_INFO_1W level1{docName.data(), output.data(), datatype.data()};
    DOC_INFO_2W level2{docName.data(), nullptr, datatype.data(), 3, 99};
    struct Case {
        const char* name;
        DWORD level;
        LPBYTE info;
        DocInfo expected;
    } cases[] = {
        {"level 1", 1, reinterpret_cast<LPBYTE>(&level1), {u"cards.txt", u"out.prn", u"RAW", 0, 0}},
        {"level 2, null output file", 2, reinterpret_cast<LPBYTE>(&level2), {u"cards.txt", u"", u"RAW", 3, 99}},
        {"other level", 3, reinterpret_cast<LPBYTE>(&level1), {}},
        {"no document information", 1, nullptr, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(table->pfnStartDocPort(handle, printerName.data(), 17, c.level, c.info), TRUE);
        const JobInfo& info = port->jobInfo;
        EXPECT_EQ(info.jobPrinterName, u"Card Printer");
        EXPECT_EQ(info.jobId, 17u);
        EXPECT_EQ(info.level, c.level);
        EXPECT_EQ(info.docInfo.docName, c.expected.docName);
        EXPECT_EQ(info.docInfo.outputFile, c.expected.outputFile);
        EXPECT_EQ(info.docInfo.datatype, c.expected.datatype);
        EXPECT_EQ(info.docInfo.mode, c.expected.mode);
        EXPECT_EQ(info.docInfo.docJobId, c.expected.docJobId);
        // The port monitor gets everything as received.
        const auto starts = spm.callsOf(PortEntry::StartDocPort);
        ASSERT_FALSE(starts.empty());
        EXPECT_EQ(starts.back().handle, port->portHandle);
        EXPECT_EQ(starts.back().name, u"Card Printer");
        EXPECT_EQ(starts.back().jobId, 17u);
        EXPECT_EQ(starts.back().level, c.level);
        EXPECT_EQ(starts.back().docInfo, c.info);
    }
}

TEST_F(DocumentStartTest, OpensThePrinterForJobControl) {
    standin::setOpenPrinterResult(TRUE, reinterpret_cast<HANDLE>(0x4711));
    ASSERT_EQ(startDoc(), TRUE);
    const auto opens = standin::callsNamed("OpenPrinterW");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].text, u"Card Printer");
    EXPECT_TRUE(opens[0].defaultsGiven);
    EXPECT_TRUE(opens[0].defaultsDatatypeNull);
    EXPECT_TRUE(opens[0].defaultsDevModeNull);
    EXPECT_EQ(opens[0].desiredAccess, PRINTER_ALL_ACCESS);
    EXPECT_EQ(port->printerHandle, reinterpret_cast<HANDLE>(0x4711));
    EXPECT_TRUE(standin::callsNamed("ClosePrinter").empty());
}

TEST_F(DocumentStartTest, EveryStartResetsThePortAndOnlyASuccessKeepsAPrinterHandle) {
    struct Case {
        const char* name;
        BOOL openPrinter;
        BOOL startBeneath;
        std::size_t startsBeneath;
        std::size_t closes;  // the handle of a start that failed beneath is closed again
    } cases[] = {
        {"printer cannot be opened", FALSE, TRUE, 0, 0},
        {"start beneath fails", TRUE, FALSE, 1, 1},
        {"start beneath returns 2", TRUE, 2, 1, 1},
        {"start beneath returns -1", TRUE, -1, 1, 1},
        {"both succeed", TRUE, TRUE, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        standin::clearCalls();
        spm.clearCalls();
        dirtyThePort();
        standin::setOpenPrinterResult(c.openPrinter);
        spm.setResult(PortEntry::StartDocPort, c.startBeneath);
        const bool started = c.openPrinter == TRUE && c.startBeneath == TRUE;
        EXPECT_EQ(startDoc(), c.openPrinter == TRUE ? c.startBeneath : c.openPrinter);
        EXPECT_EQ(spm.callsOf(PortEntry::StartDocPort).size(), c.startsBeneath);
        EXPECT_EQ(port->jobInfo.jobId, started ? 42u : 0u);
        EXPECT_EQ(port->jobInfo.jobPrinterName.empty(), !started);
        const auto opened = standin::callsNamed("OpenPrinterW");
        const auto closed = standin::callsNamed("ClosePrinter");
        ASSERT_EQ(closed.size(), c.closes);
        if (c.closes != 0) {
            EXPECT_EQ(closed[0].handle, opened[0].handle);
        }
        EXPECT_EQ(port->printerHandle != nullptr, started);
        expectPortReset();
    }
}

TEST_F(DocumentStartTest, SecondStartClosesTheFirstHandleAndDiscardsItsData) {
    ASSERT_EQ(startDoc(1), TRUE);
    const HANDLE first = port->printerHandle;
    write("<SX1>");
    ASSERT_EQ(startDoc(2), TRUE);
    const auto closed = standin::callsNamed("ClosePrinter");
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0].handle, first);
    EXPECT_NE(port->printerHandle, first);
    EXPECT_EQ(port->jobInfo.jobId, 2u);
    EXPECT_EQ(port->intake().bytesBuffered(), 0u);
}

TEST_F(DocumentStartTest, ReloadsTheCoordinateRulesAtEveryStart) {
    // The test program's directory has no configuration file.
    for (int start = 1; start <= 2; ++start) {
        port->intake().withQueue([](JobQueue& queue) {
            queue.horizontalRules[100] = 120;
            queue.verticalRules[200] = 210;
        });
        startDoc();
        port->intake().withQueue([](JobQueue& queue) {
            EXPECT_TRUE(queue.horizontalRules.empty());
            EXPECT_TRUE(queue.verticalRules.empty());
        });
    }
    EXPECT_EQ(standin::debugOutput(), u"KestrovaLM.cfg not found\nKestrovaLM.cfg not found\n");
}

TEST_F(DocumentStartTest, WritesAreBufferedInCallOrder) {
    ASSERT_EQ(startDoc(), TRUE);
    std::string job("<SX856>\0<Ann\xE9>", 14);
    write(job, {1, 5, 0, 3});
    DWORD written = 99;
    BYTE none = 0;
    EXPECT_EQ(table->pfnWritePort(handle, &none, 0, &written), TRUE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(buffered(), job);
    // Nothing goes to the machine while the job is being written.
    EXPECT_EQ(spm.countOf(PortEntry::WritePort), 0u);
    EXPECT_EQ(machine.frames(), 0u);
}

TEST_F(DocumentStartTest, WriteWithoutABufferIsRefused) {
    DWORD written = 99;
    EXPECT_EQ(table->pfnWritePort(handle, nullptr, 5, &written), FALSE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(port->intake().bytesBuffered(), 0u);
}

TEST_F(DocumentStartTest, WriteThatCannotBeStoredFailsUntilTheNextDocument) {
    ASSERT_EQ(startDoc(), TRUE);
    std::string job = "<Ann>";
    DWORD written = 99;
    {
        FailLargeAllocations outOfMemory(1024);
        EXPECT_EQ(table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(job.data()), 5, &written), FALSE);
    }
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    // The document has lost bytes: later writes must not fill in behind the hole.
    EXPECT_EQ(table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(job.data()), 5, &written), FALSE);
    EXPECT_EQ(written, 0u);

    // Nor is what was stored printed or the job reported printed: the spooler sees the failure.
    SetLastError(0xdeadbeef);
    EXPECT_EQ(table->pfnEndDocPort(handle), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(machine.frames(), 0u);
    EXPECT_TRUE(standin::callsNamed("SetJobW").empty());
    EXPECT_EQ(standin::callsNamed("ClosePrinter").size(), 1u);
    EXPECT_EQ(spm.countOf(PortEntry::EndDocPort), 1u);
    EXPECT_NE(standin::debugOutput().find(u"not printed"), WideString::npos);

    ASSERT_EQ(startDoc(), TRUE);
    write(job);
    EXPECT_EQ(buffered(), job);
}

}  // namespace
}  // namespace kestrova::testing
