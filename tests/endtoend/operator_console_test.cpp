// What the operator is shown and what may act: a halt in words with the
// command that clears it, status against running print --control ports, and
// the console's site, which takes nothing from a request that is not its
// own page's.
#include "tool/console_site.h"
#include "tool/control_channel.h"
#include "tool/control_document.h"
#include "tool/exit_codes.h"
#include "tool/machine_report.h"
#include "tool_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

namespace kestrova::testing {
namespace {

namespace exit_code = tool::exit_code;
using tool::Condition;

const std::string kSampleJob = std::string(KESTROVA_SOURCE_DIR) + "/examples/sample-job.txt";

tool::MachineReport answered(std::optional<std::uint32_t> job, std::uint32_t left, const char* state, std::int32_t hw,
                             std::int32_t sw = 0) {
    tool::MachineReport report;
    report.name = "M";
    report.reachWith = "--to 127.0.0.1:1";
    report.answered = true;
    report.result.wellFormed = report.result.hasResult = true;
    report.result.jobId = job;
    report.result.toProduce = left;
    report.result.state = state;
    report.result.hwErrorCode = hw;
    report.result.swErrorCode = sw;
    return report;
}

TEST(OperatorWords, EachMachineIsShownWithWhatIsWrongAndWhatClearsIt) {
    tool::MachineReport silent;
    silent.name = "M";
    silent.unanswered = "no kestrova print answers on 127.0.0.1:1";
    tool::MachineReport notOurs = answered(std::nullopt, 0, "Ready", 0);
    notOurs.result.hasResult = false;
    tool::MachineReport portShut = answered(std::nullopt, 0, "Unknown", 0, -2);
    portShut.result.startDocPort = 5;
    struct Case {
        const char* what;
        tool::MachineReport report;
        Condition condition;
        const char* problem;  // nullptr: nothing wrong
        const char* clears;
    } cases[] = {
        {"producing", answered(7, 3, "Personalizing Card", 0), Condition::Producing, nullptr, ""},
        {"idle", answered(std::nullopt, 0, "Ready", 0), Condition::Idle, nullptr, ""},
        {"refused load", answered(7, 3, "Loading Card", 0x1500 + 7), Condition::Halted,
         "the machine refused Load with reject code 7", "restore"},
        {"refused preload", answered(7, 3, "Ready", 0x1500 + 255), Condition::Halted,
         "the machine refused PreLoad with reject code 255", "restore"},
        {"refused eject", answered(7, 3, "Personalization Complete", 0x1500), Condition::Halted,
         "the machine refused Eject with reject code 0", "restore"},
        {"failed personalise", answered(7, 3, "Personalizing Card", '3'), Condition::Halted,
         "the machine could not complete Personalize (completion code '3')", "restore"},
        {"no reply", answered(7, 3, "Loading Card", -2), Condition::Halted, "the machine did not answer within 1.5 s",
         "restore"},
        {"no items", answered(7, 3, "Load Completed", -5), Condition::Halted, "a card of the job has no items to print",
         "delete_job"},
        {"a halt with nothing left", answered(std::nullopt, 0, "Unknown", -1), Condition::Halted,
         "writing a frame to the machine's port failed", "restore"},
        {"a silent line between jobs", answered(std::nullopt, 0, "Unknown", 0, -2), Condition::Unreachable,
         "the machine does not answer on its line", ""},
        {"a port that does not open", portShut, Condition::Unreachable, "StartDocPort failed, error 5", ""},
        {"no answer", silent, Condition::Unreachable, "no kestrova print answers on 127.0.0.1:1", ""},
        {"not a result document", notOurs, Condition::Unreachable, "no KestrovaLM result document", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(tool::conditionOf(c.report), c.condition);
        const auto advice = tool::adviceFor(c.report);
        ASSERT_EQ(advice.has_value(), c.problem != nullptr);
        if (!advice) continue;
        EXPECT_NE(advice->problem.find(c.problem), std::string::npos) << advice->problem;
        EXPECT_EQ(advice->clearingCommand, c.clears);
        const std::string text = tool::statusText({c.report}, nullptr);
        if (*c.clears != '\0') {
            EXPECT_NE(text.find(std::string("(kestrova control --to 127.0.0.1:1 ") + c.clears + ")"), std::string::npos)
                << text;
        }
    }
}

TEST(OperatorWords, ProgressCountsFromTheMostCardsEverLeftOfTheJob) {
    tool::JobProgress progress;
    EXPECT_FALSE(progress.update(answered(std::nullopt, 0, "Ready", 0)));
    const auto first = progress.update(answered(4, 8, "Loading Card", 0));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->done, 0u);
    const auto later = progress.update(answered(4, 3, "Loading Card", 0));
    ASSERT_TRUE(later);
    EXPECT_EQ(later->done, 5u);
    EXPECT_EQ(later->total, 8u);
    // Another job starts again from its own count.
    EXPECT_EQ(progress.update(answered(5, 2, "Loading Card", 0))->done, 0u);
    EXPECT_EQ(tool::progressBar(5, 8, 8), "[#####...]");
    EXPECT_EQ(tool::progressBar(0, 0, 4), "[....]");
}

// A directory of one machine that records every document it is sent.
class RecordingDirectory final : public tool::MachineDirectory {
public:
    std::vector<std::string> sent;
    std::uint32_t runningJob = 42;

    bool list(std::vector<tool::MachineEntry>& out, std::string&) override {
        out = {{"Card line 1", "KESTROVA:", ""}};
        return true;
    }
    bool send(const tool::MachineEntry&, const std::string& document, tool::ControlReply& reply,
              std::string&) override {
        sent.push_back(*tool::requestedCommand(document));
        reply.ok = true;
        reply.document = "<kx_api><result><job><id value=\"" + std::to_string(runningJob) +
                          "\"/><to_produce value=\"3\"/></job><sw_error_code value=\"0\"/></result></kx_api>";
        return true;
    }
};

TEST(ConsoleSite, OnlyItsOwnPageActsAndOnlyOnTheJobItNamed) {
    const std::string token = tool::newConsoleToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_NE(token, tool::newConsoleToken());
    const std::string home = "127.0.0.1:9480";
    const std::string restore = "machine=Card+line+1&command=restore";
    struct Case {
        const char* what;
        tool::HttpRequest request;
        int status;
        std::vector<std::string> sent;  // what reached the machine
    } cases[] = {
        {"the page", {"GET", "/", home, "", "", ""}, 200, {}},
        {"the page by its other name", {"GET", "/", "localhost:9480", "", "", ""}, 200, {}},
        {"the script", {"GET", "/console.js", home, "", "", ""}, 200, {}},
        {"the machines", {"GET", "/api/machines", home, "", token, ""}, 200, {}},
        {"a restore", {"POST", "/api/action", home, "http://" + home, token, restore}, 200, {"restore"}},
        {"a restore without a token", {"POST", "/api/action", home, "", "", restore}, 403, {}},
        {"a restore with a token one off", {"POST", "/api/action", home, "", token.substr(1) + "x", restore}, 403, {}},
        {"a restore under another Host", {"POST", "/api/action", "evil.example:9480", "", token, restore}, 403, {}},
        {"a restore on another port's name", {"POST", "/api/action", "127.0.0.1:9481", "", token, restore}, 403, {}},
        {"a restore from another site", {"POST", "/api/action", home, "http://evil.example", token, restore}, 403, {}},
        {"the page under another Host", {"GET", "/", "evil.example", "", "", ""}, 403, {}},
        {"the machines without a token", {"GET", "/api/machines", home, "", "", ""}, 403, {}},
        {"an action by GET", {"GET", "/api/action?" + restore, home, "", token, ""}, 405, {}},
        {"get_info as an action", {"POST", "/api/action", home, "", token, "machine=Card+line+1&command=get_info"},
         400, {}},
        {"a broken form", {"POST", "/api/action", home, "", token, "machine=%zz&command=restore"}, 400, {}},
        {"an unknown machine", {"POST", "/api/action", home, "", token, "machine=Other&command=restore"}, 404, {}},
        {"delete_job of the running job",
         {"POST", "/api/action", home, "", token, "machine=Card%20line%201&command=delete_job&job=42"}, 200,
         {"get_info", "delete_job"}},
        {"delete_job of another job",
         {"POST", "/api/action", home, "", token, "machine=Card+line+1&command=delete_job&job=41"}, 409,
         {"get_info"}},
        {"delete_job naming no job", {"POST", "/api/action", home, "", token, "machine=Card+line+1&command=delete_job"},
         409, {"get_info"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingDirectory machines;
        tool::ConsoleSite site(machines, token, {home, "localhost:9480"});
        const tool::HttpReply reply = site.answer(c.request);
        EXPECT_EQ(reply.status, c.status) << reply.body;
        EXPECT_EQ(machines.sent, c.sent);
        if (c.status == 200 && c.request.target == "/") {
            EXPECT_NE(reply.body.find("content=\"" + token + "\""), std::string::npos);
        }
    }
}

// Run while a print halts: status names the halt and the command that
// clears it, and exits 1; the restore it names ends the halt.
TEST(ToolStatus, ShowsAHaltedPrintAndTheRestoreThatClearsIt) {
    const std::uint16_t port = freePort();
    const std::string where = "127.0.0.1:" + std::to_string(port);
    const std::string closed = "127.0.0.1:" + std::to_string(freePort());
    std::atomic<int> statusExit{-1};
    std::string statusText;
    std::string statusJson;
    std::thread operatorThread([&] {
        // Not kestrova(): that resets the platform stand-in the print runs on.
        const auto status = [](const std::vector<std::string>& words, std::string& text) {
            std::ostringstream out;
            std::ostringstream err;
            const int code = tool::runTool(words, {out, err, false});
            text = out.str() + err.str();
            return code;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            const int code = status({"status", "--to", where + "," + closed}, statusText);
            if (statusText.find(where + ": HALTED") != std::string::npos) {
                statusExit = code;
                status({"status", "--json", "--to", where}, statusJson);
                tool::ControlReply reply;
                std::string error;
                tool::sendControlDocument({"127.0.0.1", port}, tool::controlRequestText("restore"), reply, error);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const ToolRun run = kestrova({"print", "--durations", "all=20", "--faults", "nak:load:7@2", "--control", where,
                                  "--progress-every", "50", kSampleJob});
    operatorThread.join();
    EXPECT_EQ(run.status, exit_code::Success) << run.out << run.err;
    EXPECT_EQ(statusExit, exit_code::Failed) << statusText;
    EXPECT_NE(statusText.find("KestrovaLM machines: 2 (1 halted, 1 unreachable)"), std::string::npos) << statusText;
    EXPECT_NE(statusText.find("  problem: the machine refused Load with reject code 7\n"
                              "  next: clear what the machine's panel shows for reject code 7, then restore "
                              "(kestrova control --to " + where + " restore)\n"),
              std::string::npos)
        << statusText;
    EXPECT_NE(statusText.find(closed + ": unreachable"), std::string::npos) << statusText;
    EXPECT_NE(statusJson.find("\"condition\": \"halted\""), std::string::npos) << statusJson;
    EXPECT_NE(statusJson.find("\"hw_error_code\": 5383"), std::string::npos) << statusJson;
    EXPECT_NE(statusJson.find("\"clearing_command\": \"restore\""), std::string::npos) << statusJson;
}

TEST(ToolStatus, RefusesWhatItCannotDo) {
    struct Case {
        std::vector<std::string> words;
        int status;
        const char* says;
    } cases[] = {
        {{"status"}, exit_code::Usage, "there is no spooler here: give --to"},
        {{"status", "--to", "127.0.0.1"}, exit_code::Usage, "--to:"},
        {{"status", "--to", "127.0.0.1:1", "--every", "5"}, exit_code::Usage, "--every: '5'"},
        {{"status", "--to", "127.0.0.1:1", "extra"}, exit_code::Usage, "no words besides"},
        {{"console", "--listen", "0.0.0.0:0", "--to", "127.0.0.1:1"}, exit_code::Usage, "--listen"},
        {{"console", "--demo", "9"}, exit_code::Usage, "from 1 to 8"},
        {{"console", "--demo", "2", "--to", "127.0.0.1:1"}, exit_code::Usage, "--demo brings its own machines"},
        {{"control", "--printer", "Card line 1", "get_info"},
         exit_code::Environment, "--printer needs the Windows spooler"},
        {{"control", "--printer", "P", "--to", "127.0.0.1:1", "get_info"}, exit_code::Usage, "--printer sends"},
    };
    for (const Case& c : cases) {
        const ToolRun run = kestrova(c.words);
        EXPECT_EQ(run.status, c.status) << c.words[0] << " " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace kestrova::testing
