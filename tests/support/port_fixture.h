// The suite's one harness for "a monitor, a port, a machine": the monitor of
// MonitorFixture, on the virtual clock, over a software port monitor whose
// far end is the scripted machine, with one port open.
// Documents go through the function table's entries; what the loop leaves
// between cycles is read under portLock.
#pragma once

#include "link/machine_command.h"
#include "monitor/language_monitor.h"
#include "port/monitor_port.h"
#include "standin/platform_standin.h"
#include "standin/scripted_machine.h"
#include "standin/software_port_monitor.h"
#include "support/monitor_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::testing {

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

class PortFixture : public MonitorFixture {
public:
    PortFixture() { clockMode = standin::ClockMode::Virtual; }

    void SetUp() override {
        MonitorFixture::SetUp();
        if (HasFatalFailure()) return;
        spm.setPeer(&machine);
        ASSERT_EQ(openPort(u"LPT1:", u"Card Printer", handle), TRUE);
        port = static_cast<MonitorPort*>(handle);
    }

    void TearDown() override {
        MonitorFixture::TearDown();
        spm.setPeer(nullptr);
    }

    BOOL startDoc(DWORD jobId = 42) {
        DOC_INFO_1W info{docName.data(), nullptr, datatype.data()};
        return table->pfnStartDocPort(handle, printerName.data(), jobId, 1, reinterpret_cast<LPBYTE>(&info));
    }

    // Writes the job through WritePort in pieces of the given sizes, cycling
    // through them.
    void write(const std::string& job, std::initializer_list<std::size_t> pieces = {4096}) {
        std::vector<std::size_t> sizes(pieces);
        std::size_t at = 0;
        for (std::size_t i = 0; at < job.size(); ++i) {
            const std::size_t n = std::min(sizes[i % sizes.size()], job.size() - at);
            std::string piece = job.substr(at, n);
            DWORD written = 0;
            ASSERT_EQ(table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(piece.data()), static_cast<DWORD>(n),
                                          &written),
                      TRUE);
            ASSERT_EQ(written, n);
            at += n;
        }
    }

    BOOL endDoc() { return table->pfnEndDocPort(handle); }

    // The port's fields as the loop leaves them between cycles.
    template <typename Read>
    auto underPortLock(Read read) {
        const PortLock guard(*port);
        return read(*port);
    }

    // A whole document: start, write, end.
    BOOL produce(const std::string& job, std::initializer_list<std::size_t> pieces = {4096}) {
        EXPECT_EQ(startDoc(), TRUE);
        write(job, pieces);
        return endDoc();
    }

    standin::ScriptedMachine machine;
    HANDLE handle = nullptr;
    MonitorPort* port = nullptr;
    WideString printerName = u"Card Printer";
    WideString docName = u"cards.txt";
    WideString datatype = u"RAW";
};

// What "delete_job" does to the loop: no card left, so its next cycle finishes.
inline void emptyQueue(MonitorPort& port) {
    const PortLock portGuard(port);
    port.intake().dropCards();
}

// EndDocPort on a thread of its own, for tests that act between cycles.
class BackgroundJob {
public:
    explicit BackgroundJob(std::function<BOOL()> endDoc)
        : thread_([this, endDoc = std::move(endDoc)] {
              result_ = endDoc();
              done_ = true;
          }) {}
    ~BackgroundJob() {
        if (thread_.joinable()) thread_.join();
    }
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;

    bool done() const { return done_; }

    // The job's result. A job still running after `limit` is a failure: its
    // cards are dropped so that the loop finishes and the test can go on.
    BOOL join(MonitorPort& port, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done_ && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        if (!done_) {
            ADD_FAILURE() << "production did not finish";
            emptyQueue(port);
        }
        thread_.join();
        return result_;
    }

private:
    std::atomic<bool> done_{false};
    BOOL result_ = FALSE;
    std::thread thread_;
};

// Waits until `condition` holds under portLock, checking between the loop's
// cycles; false after `limit` of real time.
inline bool waitForPort(MonitorPort& port, const std::function<bool(MonitorPort&)>& condition,
                        std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            const PortLock guard(port);
            if (condition(port)) return true;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
}

}  // namespace kestrova::testing
