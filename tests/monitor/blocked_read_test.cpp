// A port monitor whose ReadPort blocks, ignoring its time-outs, while a job
// is produced: ClosePort and Shutdown, which want the port lock the job holds
// across that read, give the spooler its call back within the bound instead
// of waiting as long as the read does. The job's printer handle is left to
// the job, which, once its read returns, calls nothing more beneath, gives
// the handle back and ends with FALSE; the port goes with it.
#include "case_name.h"
#include "support/monitor_fixture.h"

#include "port/monitor_port.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>

namespace kestrova::testing {
namespace {

using Clock = std::chrono::steady_clock;
using standin::PortEntry;

// Takes every byte; a read waits until released and then delivers nothing.
class BlockingReads : public standin::PortPeer {
public:
    long onWrite(const std::uint8_t* /*data*/, std::size_t size) override { return static_cast<long>(size); }
    long onRead(std::uint8_t* /*buffer*/, std::size_t /*size*/, const COMMTIMEOUTS& /*timeouts*/) override {
        std::unique_lock<std::mutex> guard(lock_);
        blocked_ = true;
        changed_.notify_all();
        changed_.wait(guard, [this] { return released_; });
        return 0;
    }
    bool waitUntilBlocked() {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(10), [this] { return blocked_; });
    }
    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool blocked_ = false;
    bool released_ = false;
};

struct CloseCase {
    const char* name;
    bool shutdown;  // else ClosePort
};

class BlockedRead : public MonitorFixture, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(BlockedRead, TheSpoolerGetsItsCallBackWithinTheBound) {
    BlockingReads peer;
    spm.setPeer(&peer);
    HANDLE port = openPort();
    WideString printer(u"Card Printer"), docName(u"cards");
    DOC_INFO_1W info{docName.data(), nullptr, nullptr};
    standin::setOpenPrinterResult(TRUE, reinterpret_cast<HANDLE>(0x4711));
    ASSERT_EQ(table->pfnStartDocPort(port, printer.data(), 7, 1, reinterpret_cast<LPBYTE>(&info)), TRUE);
    std::string job = "<SX856 SY540 X10 Y20 F1 CI3><CARD>";
    DWORD written = 0;
    ASSERT_EQ(table->pfnWritePort(port, reinterpret_cast<LPBYTE>(job.data()), static_cast<DWORD>(job.size()),
                                  &written),
              TRUE);
    auto production = std::async(std::launch::async, [&] { return table->pfnEndDocPort(port); });
    ASSERT_TRUE(peer.waitUntilBlocked());

    const auto start = Clock::now();
    auto closing = std::async(std::launch::async, [&] {
        if (GetParam().shutdown) {
            table->pfnShutdown(monitor);
            monitor = nullptr;
            return TRUE;
        }
        return table->pfnClosePort(port);
    });
    const bool returned = closing.wait_for(MonitorPort::kCloseWait + std::chrono::seconds(10)) ==
                          std::future_status::ready;
    const auto elapsed = Clock::now() - start;
    const std::size_t readsBefore = spm.countOf(PortEntry::ReadPort);
    const std::size_t writesBefore = spm.countOf(PortEntry::WritePort);
    peer.release();  // lets an old build's stuck call finish, too
    EXPECT_TRUE(returned) << "the spooler's call waited as long as the read";
    EXPECT_EQ(closing.get(), TRUE);
    EXPECT_GE(elapsed, MonitorPort::kCloseWait) << "it gives the job the whole bound to leave";
    EXPECT_TRUE(standin::callsNamed("ClosePrinter").empty()) << "the job still had the handle";

    EXPECT_EQ(production.get(), FALSE);
    // Nothing more beneath after the read that was stuck; the handle given back once.
    EXPECT_EQ(spm.countOf(PortEntry::ReadPort), readsBefore);
    EXPECT_EQ(spm.countOf(PortEntry::WritePort), writesBefore);
    EXPECT_EQ(spm.countOf(PortEntry::EndDocPort), 0u);
    EXPECT_TRUE(standin::callsNamed("SetJobW").empty());
    ASSERT_EQ(standin::callsNamed("ClosePrinter").size(), 1u);
    EXPECT_EQ(standin::callsNamed("ClosePrinter")[0].handle, reinterpret_cast<HANDLE>(0x4711));
    EXPECT_NE(standin::debugOutput().find(u"a port was closed while a call was still at work in it"),
              WideString::npos);
    spm.setPeer(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Ends, BlockedRead,
                         ::testing::Values(CloseCase{"ClosePort", false}, CloseCase{"Shutdown", true}), NamedCase());

}  // namespace
}  // namespace kestrova::testing
