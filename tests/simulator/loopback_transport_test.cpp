// The loopback TCP transport on the real clock: a port monitor whose ports
// are connections to the machine server. Reads honour the port's total
// time-out for real; durations here are kept short.
#include "machine_driver.h"

#include "simulator/machine_server.h"
#include "simulator/socket_peer.h"
#include "standin/software_port_monitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace kestrova::testing {
namespace {

using simulator::MachineDurations;
using simulator::MachineServer;
using simulator::MachineSimulator;

class LoopbackTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        std::string error;
        ASSERT_TRUE(server.listen(simulator::net::Endpoint{"127.0.0.1", 0}, error)) << error;
        server.start();
        ports = std::make_unique<standin::SoftwarePortMonitor>();
        ports->setConnect(simulator::connectionsTo(simulator::net::Endpoint{"127.0.0.1", server.port()}));
        WCHAR name[] = u"KESTROVA:";
        ASSERT_EQ(ports->table()->pfnOpenPort(ports->monitorHandle(), name, &port), TRUE) << ports->connectError();
    }
    void TearDown() override {
        if (port != nullptr) ports->table()->pfnClosePort(port);
        server.stop();
    }

    void setTimeout(DWORD ms) {
        COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, ms, 0, 1500};
        ASSERT_EQ(ports->table()->pfnSetPortTimeOuts(port, &timeouts, 0), TRUE);
    }
    void write(const Bytes& bytes) {
        DWORD written = 0;
        Bytes copy = bytes;
        ASSERT_EQ(ports->table()->pfnWritePort(port, copy.data(), static_cast<DWORD>(copy.size()), &written), TRUE);
        ASSERT_EQ(written, copy.size());
    }
    // One-byte reads as the link makes them, until one brings nothing.
    Bytes readReply() {
        Bytes out;
        for (;;) {
            std::uint8_t byte = 0;
            DWORD got = 0;
            if (ports->table()->pfnReadPort(port, &byte, 1, &got) != TRUE || got == 0) return out;
            out.push_back(byte);
            LinkFrame frame;
            if (decode(out.data(), out.size(), frame) == 0) return out;
        }
    }

    MachineSimulator machine{MachineDurations::uniform(30)};
    MachineServer server{machine};
    std::unique_ptr<standin::SoftwarePortMonitor> ports;
    HANDLE port = nullptr;
};

TEST_F(LoopbackTransportTest, ExchangesFramesOverTheConnection) {
    setTimeout(1500);
    write(requestFrame(0x20, command::Poll));
    EXPECT_EQ(readReply(), requestFrame(0x20, reply::ENQ));
}

TEST_F(LoopbackTransportTest, AReadWaitsItsTotalTimeOutAndThenReturnsNothing) {
    machine.setFaults(simulator::parseFaultPlan("silent:poll").plan.value());
    setTimeout(120);
    write(requestFrame(0x20, command::Poll));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(readReply().empty());
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(115));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
    EXPECT_EQ(ports->readsTimedOut(), 1u);
}

TEST_F(LoopbackTransportTest, ASplitReplyIsReadAcrossItsGap) {
    machine.setFaults(simulator::parseFaultPlan("split:poll:80").plan.value());
    setTimeout(1500);
    write(requestFrame(0x20, command::Poll));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readReply(), requestFrame(0x20, reply::ENQ));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(75));
}

TEST_F(LoopbackTransportTest, APortCannotOpenWithoutAMachine) {
    // A listener that is closed at once leaves a port number nobody serves.
    std::string error;
    auto closed = simulator::net::listenOn(simulator::net::Endpoint{"127.0.0.1", 0}, error);
    const auto unused = simulator::net::localPort(closed);
    closed.close();
    standin::SoftwarePortMonitor nowhere;
    nowhere.setConnect(simulator::connectionsTo(simulator::net::Endpoint{"127.0.0.1", unused}));
    HANDLE handle = nullptr;
    WCHAR name[] = u"KESTROVA:";
    EXPECT_EQ(nowhere.table()->pfnOpenPort(nowhere.monitorHandle(), name, &handle), FALSE);
    EXPECT_NE(nowhere.connectError().find("cannot connect"), std::string::npos) << nowhere.connectError();
}

TEST_F(LoopbackTransportTest, AMachineThatGoesAwayFailsTheRead) {
    server.stop();
    // The server ends its connections within its idle wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::uint8_t byte = 0;
    DWORD got = 0;
    EXPECT_EQ(ports->table()->pfnReadPort(port, &byte, 1, &got), FALSE);
    EXPECT_EQ(got, 0u);
}

}  // namespace
}  // namespace kestrova::testing
