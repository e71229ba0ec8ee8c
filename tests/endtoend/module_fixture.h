// The built module as the spooler meets it, loaded with dlopen and entered
// through its one export, over a port that leads to the simulated machine
// (in this process, or served on loopback). Control requests go through its
// GetPrinterDataFromPort like a client's.
#pragma once

#include "production/job_queue.h"
#include "production/payload_texts.h"
#include "simulator/machine_server.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "simulator/socket_peer.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"
#include "tool/control_document.h"
#include "tool/job_file.h"
#include "tool/module_loader.h"
#include "tool/spooler_host.h"
#include "tool/text_encoding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::testing {

// A job of `cards` cards under one layout of three items; some lines carry
// bytes the frame must stuff and a ';' the card log must keep in its text.
inline std::string generatedJob(std::size_t cards) {
    std::string job = "<SX856 SY540 X120 Y45 F2 CI3 X120 Y200 F1 CI4 X600 Y300 F1 CI3>\r\n";
    for (std::size_t i = 1; i <= cards; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%03zu", i);
        job += "<HOLDER " + std::string(number) + "\r\n4000 0000 0000 " + number + "\r\n";
        job += i % 10 == 3 ? std::string("M-\x02\x03;") + number : "M-" + std::string(number);
        job += ">\r\n";
    }
    return job;
}

// The texts each card of a job must carry, in order.
inline std::vector<std::vector<std::string>> expectedTexts(const std::string& job) {
    std::vector<std::vector<std::string>> out;
    for (const JobRecord& card : tool::parseJob(job).records) {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < card.lines().size() && i < card.items().size(); ++i) {
            lines.emplace_back(card.lines()[i]);
        }
        out.push_back(lines);
    }
    return out;
}

class ModuleFixture : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        std::string error;
        ASSERT_TRUE(module.load(KESTROVA_MODULE_PATH)) << module.error();
    }

    void TearDown() override {
        spooler.reset();
        ports.reset();
        server.reset();
        standin::reset();
    }

    // The port leads to the machine in this process.
    void openInProcess() {
        peer = std::make_unique<simulator::SimulatorPeer>(machine);
        ports = std::make_unique<standin::SoftwarePortMonitor>();
        ports->setPeer(peer.get());
        openPort();
    }

    // The port is a TCP connection to the machine served on loopback.
    void openOverLoopback() {
        server = std::make_unique<simulator::MachineServer>(machine);
        std::string error;
        ASSERT_TRUE(server->listen({"127.0.0.1", 0}, error)) << error;
        server->start();
        ports = std::make_unique<standin::SoftwarePortMonitor>();
        ports->setConnect(simulator::connectionsTo({"127.0.0.1", server->port()}));
        openPort();
    }

    void openPort() {
        spooler = std::make_unique<tool::SpoolerHost>(module);
        std::string error;
        ASSERT_TRUE(spooler->open(ports->monitorHandle(), ports->table(), error)) << error << ports->connectError();
    }

    // StartDocPort and WritePort in spooler-sized pieces.
    void submit(const std::string& job, std::size_t chunk = 4096) {
        ASSERT_EQ(spooler->startDoc(7, u"cards.txt"), TRUE);
        std::string error;
        ASSERT_TRUE(spooler->write(Bytes(job.begin(), job.end()), chunk, error)) << error;
    }

    tool::ResultValues control(const std::string& command) {
        const tool::ControlAnswer answer = spooler->control(tool::utf16FromUtf8(tool::controlRequestText(command)));
        EXPECT_EQ(answer.result, TRUE) << command;
        return tool::readResultDocument(tool::utf8FromUtf16(answer.text));
    }

    // Runs EndDocPort on a thread while `watch` runs here until it ends.
    BOOL produceWhile(const std::function<void(const std::atomic<bool>& finished)>& watch) {
        std::atomic<bool> finished{false};
        BOOL result = FALSE;
        std::thread production([&] {
            result = spooler->endDoc();
            finished = true;
        });
        watch(finished);
        production.join();
        return result;
    }

    // Sends "restore" whenever get_info shows a halt, until the job ends.
    // Returns the restores sent.
    std::size_t restoreOnEveryHalt(const std::atomic<bool>& finished) {
        std::size_t restores = 0;
        while (!finished) {
            const tool::ResultValues status = control("get_info");
            if (status.hwErrorCode.value_or(0) != 0 && !finished) {
                const tool::ResultValues restored = control("restore");
                EXPECT_EQ(restored.swErrorCode.value_or(-99), 0);
                ++restores;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return restores;
    }

    // The successfully personalised cards' texts, in the order they were made.
    std::vector<std::vector<std::string>> personalisedTexts() const {
        std::vector<std::vector<std::string>> out;
        for (const auto& card : machine.personalisedCards()) {
            if (card.completionCode == '0') out.push_back(card.texts());
        }
        return out;
    }

    tool::LoadedModule module;
    simulator::MachineSimulator machine{simulator::MachineDurations::typical()};
    std::unique_ptr<simulator::SimulatorPeer> peer;
    std::unique_ptr<simulator::MachineServer> server;
    std::unique_ptr<standin::SoftwarePortMonitor> ports;
    std::unique_ptr<tool::SpoolerHost> spooler;
};

}  // namespace kestrova::testing
