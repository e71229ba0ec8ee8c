// What kestrova says is what happened: a job deleted from outside is not
// reported as printed, servers stay on loopback unless told otherwise, a
// broken configuration is heard in print too, and the same run says the
// same thing every time.
#include "simulator/machine_server.h"
#include "simulator/machine_simulator.h"
#include "simulator/socket.h"
#include "standin/platform_standin.h"
#include "tool/control_channel.h"
#include "tool/control_document.h"
#include "tool/exit_codes.h"
#include "tool/listen_address.h"
#include "tool/tool_commands.h"
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::testing {
namespace {

namespace exit_code = tool::exit_code;
namespace fs = std::filesystem;

const std::string kSource = KESTROVA_SOURCE_DIR;
const std::string kSampleJob = kSource + "/examples/sample-job.txt";

// A delete_job from another terminal ends the job: the run says who deleted
// it, counts what the machine delivered (its card log here, the link's
// replies over TCP) and does not end as a success.
TEST(ToolTruth, AJobDeletedFromOutsideIsNotReportedAsPrinted) {
    for (const bool overTcp : {false, true}) {
        SCOPED_TRACE(overTcp ? "tcp" : "sim");
        standin::reset();
        simulator::MachineSimulator served(simulator::MachineDurations::uniform(50));
        simulator::MachineServer server(served);
        std::vector<std::string> words = {"print", "--durations", "all=50"};
        if (overTcp) {
            std::string error;
            ASSERT_TRUE(server.listen({"127.0.0.1", 0}, error)) << error;
            server.start();
            words = {"print", "--machine", "tcp:127.0.0.1:" + std::to_string(server.port())};
        }
        const std::uint16_t port = freePort();
        const std::string where = "127.0.0.1:" + std::to_string(port);
        words.insert(words.end(), {"--control", where, kSampleJob});
        std::atomic<bool> deleteSent{false};
        std::thread client([&] {
            // Once the machine has delivered a card, as another terminal would.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (std::chrono::steady_clock::now() < deadline) {
                tool::ControlReply reply;
                std::string error;
                // Before the job's data is read there is nothing to produce either.
                const auto left = tool::sendControlDocument({"127.0.0.1", port}, tool::controlRequestText("get_info"),
                                                            reply, error)
                                      ? tool::readResultDocument(reply.document).toProduce.value_or(0)
                                      : 0;
                if (left >= 1 && left <= 6) {
                    deleteSent = tool::sendControlDocument({"127.0.0.1", port}, tool::controlRequestText("delete_job"),
                                                           reply, error);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        const ToolRun run = kestrova(words);
        client.join();
        if (overTcp) server.stop();
        ASSERT_TRUE(deleteSent) << run.out << run.err;
        EXPECT_EQ(run.status, exit_code::JobDeleted) << run.out << run.err;

        std::smatch found;
        const std::string last = lastLine(run.out);
        ASSERT_TRUE(std::regex_search(last, found, std::regex("^deleted by a delete_job request received on --control " +
                                                              where + ": (\\d+) of 8 cards produced, the job deleted; ")))
            << last;
        const std::size_t produced = std::stoul(found[1]);
        std::size_t delivered = served.status().cardsDelivered;
        if (!overTcp) {
            std::smatch machine;
            ASSERT_TRUE(std::regex_search(run.out, machine, std::regex("machine: \\d+ personalised \\(0 spoiled\\), (\\d+) delivered")));
            delivered = std::stoul(machine[1]);
        }
        EXPECT_EQ(produced, delivered) << run.out;
        EXPECT_GE(produced, 1u);
        EXPECT_LT(produced, 8u);
        EXPECT_NE(run.out.find(" of 8 cards produced in "), std::string::npos);
        EXPECT_NE(run.out.find("; the job was deleted by a delete_job request received on --control " + where),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find("8/8 cards"), std::string::npos) << run.out;
    }
}

TEST(ToolTruth, ServersListenOnLoopbackUnlessAllowedElsewhere) {
    struct Case {
        const char* host;
        bool loopback;
    } cases[] = {
        {"127.0.0.1", true}, {"127.255.3.9", true}, {"localhost", true},   {"::1", true},
        {"0.0.0.0", false},  {"128.0.0.1", false},  {"10.127.0.1", false}, {"1127.0.0.1", false},
        {"127.0.0", false},  {"127.0.0.1.5", false}, {"127.0.0.256", false}, {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(tool::isLoopbackHost(c.host), c.loopback) << c.host;

    // Allowed, it listens there and says what that means.
    const ToolRun allowed = kestrova({"print", "--fast", "--allow-remote", "--control", "0.0.0.0:0", kSampleJob});
    EXPECT_EQ(allowed.status, exit_code::Success) << allowed.err;
    EXPECT_NE(allowed.err.find("warning: --control listens on 0.0.0.0 (--allow-remote): anyone who reaches it can "
                               "delete the job"),
              std::string::npos)
        << allowed.err;
    const ToolRun quiet = kestrova({"print", "--fast", "--allow-remote", "--control", "127.0.0.1:0", kSampleJob});
    EXPECT_EQ(quiet.err.find("warning"), std::string::npos) << quiet.err;
}

// The module reads the configuration of the current directory; print tells
// what is wrong with it in check's own words.
TEST(ToolTruth, PrintWarnsOfTheBrokenConfigurationTheModuleFinds) {
    const fs::path folder = fs::path(::testing::TempDir()) / "broken-configuration";
    fs::remove_all(folder);
    fs::create_directories(folder / "spool/drivers/W32X86/3");
    std::ifstream sample(kSource + "/examples/KestrovaLM.cfg", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(sample)), std::istreambuf_iterator<char>());
    std::ofstream(folder / "spool/drivers/W32X86/3/KestrovaLM.cfg", std::ios::binary) << text.substr(0, text.size() / 2);
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    const ToolRun print = kestrova({"print", "--fast", kSampleJob});
    const ToolRun check = kestrova({"check", kSampleJob});
    fs::current_path(before);

    EXPECT_EQ(print.status, exit_code::Success) << print.err;
    std::smatch problem;
    ASSERT_TRUE(std::regex_search(check.out, problem, std::regex("  problem: (not well-formed XML at line \\d+: [^\\n]*)")))
        << check.out;
    EXPECT_NE(print.err.find("spool/drivers/W32X86/3/KestrovaLM.cfg is broken: " + problem[1].str() + ". "),
              std::string::npos)
        << print.err;
}

// On the virtual clock the job outruns every look the tool takes in real
// time: no progress line is caught at some moment, and the cards and the
// machine's count read the same every time. (Where a halt line falls among
// the card lines, and the virtual time the tool's own looks add, follow
// those looks and are not compared.)
TEST(ToolTruth, FastRunsSayTheSameEveryTime) {
    const std::vector<std::string> words = {"print",         "--fast", "--faults", "nak:load:7@3,jam:5",
                                            "--restore-after", "300",  kSampleJob};
    const std::regex compared("^(card [0-9]+ .*|  machine: .*)$");
    std::string first;
    std::string shownFirst;
    for (int i = 0; i < 4; ++i) {
        const ToolRun run = kestrova(words);
        ASSERT_EQ(run.status, exit_code::Success) << run.out << run.err;
        EXPECT_EQ(run.out.find("\n["), std::string::npos) << "a progress line caught at some moment:\n" << run.out;
        std::string shown;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            if (std::regex_match(line, compared)) shown += line + "\n";
        }
        if (i == 0) {
            first = shown;
            shownFirst = run.out;
        }
        EXPECT_EQ(shown, first);
    }
    EXPECT_NE(first.find("card 8 personalised"), std::string::npos) << first;
    first = shownFirst;
    EXPECT_NE(first.find("restore sent after"), std::string::npos) << first;
}

// Help fits an 80-column terminal, the fault grammar included; each of its
// entries starts a line of its own.
TEST(ToolTruth, HelpTextsFitTheirColumns) {
    // Every command the tool's own help lists, so that a new one is held to it too.
    std::vector<std::string> commands;
    std::istringstream listing(kestrova({"help"}).out);
    for (std::string line; std::getline(listing, line);) {
        std::smatch found;
        if (std::regex_search(line, found, std::regex("^  ([a-z]+) "))) commands.push_back(found[1]);
    }
    EXPECT_GE(commands.size(), 9u);
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const ToolRun run = kestrova(command == "help" ? std::vector<std::string>{"help"}
                                                      : std::vector<std::string>{command, "--help"});
        EXPECT_EQ(run.status, exit_code::Success) << run.err;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
        if (run.out.find("FAULTS is ") != std::string::npos) {
            EXPECT_NE(run.out.find("\n  jam:N[:load|:eject]"), std::string::npos) << "jam glued to another entry";
            EXPECT_EQ(run.out.find("without @\n"), std::string::npos) << "a broken wrap";
        }
    }
    const ToolRun uninstall = kestrova({"uninstall", "--help"});
    EXPECT_EQ(uninstall.out.find("6    wrong bitness: the DLL"), std::string::npos) << "uninstall takes no DLL";
    EXPECT_NE(uninstall.out.find("gives NAME\nback its language monitor all the same"), std::string::npos)
        << uninstall.out;
}

}  // namespace
}  // namespace kestrova::testing
