// The kestrova tool's commands run in-process against the built module:
// what they print and the exit status scripts rely on.
#include "simulator/machine_server.h"
#include "simulator/machine_simulator.h"
#include "standin/platform_standin.h"
#include "tool/exit_codes.h"
#include "tool/module_loader.h"
#include "tool/tool_commands.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

namespace exit_code = tool::exit_code;

const std::string kSource = KESTROVA_SOURCE_DIR;
const std::string kSampleJob = kSource + "/examples/sample-job.txt";
const std::string kSampleConfig = kSource + "/examples/KestrovaLM.cfg";

std::vector<std::string> linesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        if (line.find(part) != std::string::npos) out.push_back(line);
    }
    return out;
}

std::string scratchFile(const std::string& name, const std::string& contents) {
    std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

TEST(ToolPrint, PrintsTheSampleJobAndTracesTheWorkedStart) {
    const ToolRun run = kestrova({"print", "--fast", "--trace", "--module", KESTROVA_MODULE_PATH, kSampleJob});
    ASSERT_EQ(run.status, exit_code::Success) << run.err;
    const auto sent = linesWith(run.out, " -> ");
    ASSERT_GE(sent.size(), 2u);
    EXPECT_NE(sent[0].find("job -> 02 5A 39 51 51 20 70 03 33"), std::string::npos) << sent[0];
    EXPECT_NE(sent[0].find("Poll"), std::string::npos);
    EXPECT_NE(sent[1].find("job -> 02 5A 39 51 51 21 21 03 63"), std::string::npos) << sent[1];
    EXPECT_NE(sent[1].find("Restore"), std::string::npos);
    EXPECT_EQ(linesWith(run.out, "personalised (856 x 540)").size(), 8u);
    EXPECT_NE(run.out.find("summary: 8 of 8 cards produced"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("JOB_CONTROL_DELETE"), std::string::npos);
}

TEST(ToolPrint, RestoresAfterFaultsWhenAskedTo) {
    const ToolRun run = kestrova({"print", "--fast", "--faults", "nak:load:7@2,jam:4:eject", "--restore-after", "500",
                              kSampleJob});
    ASSERT_EQ(run.status, exit_code::Success) << run.err;
    EXPECT_EQ(linesWith(run.out, "restore sent").size(), 2u) << run.out;
    // On the virtual clock too each halt lasts the delay asked for (and the status request before the restore).
    for (const std::string& line : linesWith(run.out, "restore sent after ")) {
        const int ms = std::stoi(line.substr(line.find(" after ") + 7));
        EXPECT_TRUE(ms >= 500 && ms < 700 && line.find(" ms halted") != std::string::npos) << line;
    }
    EXPECT_NE(run.out.find("hardware error 5383 (the machine refused a command, reject code 7)"), std::string::npos);
    EXPECT_NE(run.out.find("summary: 8 of 8 cards produced"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("on the virtual clock"), std::string::npos) << run.out;
}

TEST(ToolPrint, AppliesTheConfigurationGiven) {
    const ToolRun run = kestrova({"print", "--fast", "--trace", "--config", kSampleConfig, kSampleJob});
    ASSERT_EQ(run.status, exit_code::Success) << run.err;
    // The sample rules move x 120 to 118 and y 200 to 204.
    EXPECT_NE(run.out.find("Personalize A011800452030ANNA KOWALSKA;0118020410404000"), std::string::npos) << run.out;
}

// Over TCP the cards counted are those the machine's replies report
// delivered: a card jammed at the exit comes out with the restore, and a
// reply sent twice counts once.
TEST(ToolPrint, RunsAgainstAServedMachine) {
    standin::reset();
    simulator::MachineSimulator machine(simulator::MachineDurations::instant(),
                                        simulator::parseFaultPlan("jam:1:eject,twice:poll@2").plan.value());
    simulator::MachineServer server(machine);
    std::string error;
    ASSERT_TRUE(server.listen({"127.0.0.1", 0}, error)) << error;
    server.start();
    const std::string job = scratchFile("two-cards.txt", "<SX1 SY2 X3 Y4 F5 CI6><ONE><TWO>");
    const ToolRun run = kestrova({"print", "--fast", "--restore-after", "100", "--machine",
                                  "tcp:127.0.0.1:" + std::to_string(server.port()), job});
    server.stop();
    ASSERT_EQ(run.status, exit_code::Success) << run.err;
    EXPECT_EQ(linesWith(run.out, " delivered: ").size(), 2u) << run.out;
    EXPECT_EQ(machine.status().cardsDelivered, 2u);
    EXPECT_NE(run.out.find("summary: 2 of 2 cards produced"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("link: 2 personalised (0 spoiled), 2 delivered"), std::string::npos) << run.out;
    EXPECT_EQ(linesWith(run.out, "restore sent").size(), 1u) << run.out;
    ASSERT_EQ(machine.personalisedCards().size(), 2u);
    EXPECT_EQ(machine.personalisedCards()[1].texts(), std::vector<std::string>{"TWO"});
}

TEST(ToolCommands, ExitStatusTellsWhatWentWrong) {
    const std::string job = kSampleJob;
    struct Case {
        std::vector<std::string> words;
        int status;
        const char* complaint;
    } cases[] = {
        {{}, exit_code::Usage, "Usage: kestrova COMMAND"},
        {{"frobnicate"}, exit_code::Usage, "unknown command 'frobnicate'"},
        {{"print"}, exit_code::Usage, "print needs a JOBFILE"},
        {{"print", job, job}, exit_code::Usage, "one JOBFILE"},
        {{"print", "--speed", job}, exit_code::Usage, "has no option --speed"},
        {{"print", job, "--faults"}, exit_code::Usage, "--faults needs a value"},
        {{"print", "--fast=yes", job}, exit_code::Usage, "--fast takes no value"},
        {{"print", "--faults", "nak:load", job}, exit_code::Usage, "expected nak:COMMAND:REJECTCODE"},
        {{"print", "--machine", "serial", job}, exit_code::Usage, "'sim' or 'tcp:HOST:PORT'"},
        {{"print", "--machine", "tcp:127.0.0.1", job}, exit_code::Usage, "not HOST:PORT"},
        {{"print", "--machine", "tcp:127.0.0.1:9", "--faults", "jam:1", job}, exit_code::Usage, "give them to kestrova machine"},
        {{"print", "--chunk", "0", job}, exit_code::Usage, "--chunk needs a whole number"},
        {{"print", "--durations", "slow", job}, exit_code::Usage, "has no '='"},
        {{"print", "/nonexistent/job.txt"}, exit_code::BadInput, "cannot open /nonexistent/job.txt"},
        {{"print", "--config", "/nonexistent.cfg", job}, exit_code::BadInput, "--config: cannot open"},
        {{"print", "--module", "/nonexistent/libKestrovaLM.so", job}, exit_code::Environment, "nonexistent"},
        {{"print", "--machine", "tcp:127.0.0.1:1", job}, exit_code::Environment, "cannot connect to 127.0.0.1:1"},
        {{"control"}, exit_code::Usage, "control needs one COMMAND"},
        {{"control", "reboot"}, exit_code::Usage, "unknown command 'reboot'"},
        {{"control", "--to", "127.0.0.1:1", "get_info"}, exit_code::Environment, "cannot connect"},
        {{"control", "--to", "127.0.0.1:1", "--machine", "sim", "get_info"}, exit_code::Usage, "--to sends"},
        {{"machine"}, exit_code::Usage, "needs --listen"},
        {{"machine", "--listen", "example.org:80"}, exit_code::Usage, "not an IPv4 address"},
        // A server answers whoever reaches it: loopback only, unless asked otherwise.
        {{"print", "--control", "0.0.0.0:0", job}, exit_code::Usage, "--control: 0.0.0.0 is not a loopback address"},
        {{"print", "--control", "128.0.0.1:0", job}, exit_code::Usage, "could delete the job"},
        {{"print", "--allow-remote", job}, exit_code::Usage, "give --control HOST:PORT too"},
        {{"check"}, exit_code::Usage, "check needs one JOBFILE"},
        {{"check", "/nonexistent/job.txt"}, exit_code::BadInput, "cannot open"},
        {{"install", "--driver", "Card Printer"}, exit_code::WindowsOnly, "install is a Windows command"},
        {{"uninstall"}, exit_code::WindowsOnly, "uninstall is a Windows command"},
        {{"install", "now"}, exit_code::Usage, "takes no words but its options"},
        {{"uninstall", "--dll", "x.dll"}, exit_code::Usage, "has no option --dll"},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& word : c.words) shown += word + " ";
        SCOPED_TRACE(shown);
        const ToolRun run = kestrova(c.words);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_NE((run.err + run.out).find(c.complaint), std::string::npos) << run.err;
    }
}

TEST(ToolCommands, EveryCommandHasHelp) {
    struct Case {
        std::vector<std::string> words;
        const char* mentions;
    } cases[] = {
        {{"help"}, "print JOBFILE"},
        {{"print", "--help"}, "jam:N[:load|:eject]"},
        {{"control", "-h"}, "delete_job, restore"},
        {{"machine", "--help"}, "--listen HOST:PORT"},
        {{"check", "--help"}, "KestrovaLM.cfg not found"},
        {{"install", "--help"}, "AddMonitorW"},
        {{"uninstall", "--help"}, "DeleteMonitorW"},
        {{"--version"}, "kestrova "},
    };
    for (const Case& c : cases) {
        const ToolRun run = kestrova(c.words);
        EXPECT_EQ(run.status, exit_code::Success) << c.words[0];
        EXPECT_NE(run.out.find(c.mentions), std::string::npos) << c.words[0];
        EXPECT_NE(run.out.find(c.words.size() == 1 && c.words[0] == "--version" ? "kestrova" : "Exit status"),
                  std::string::npos);
    }
}

TEST(ToolControl, AsksTheModuleHereWithNoJobRunning) {
    const ToolRun run = kestrova({"control", "get_info"});
    ASSERT_EQ(run.status, exit_code::Success) << run.err;
    EXPECT_NE(run.out.find("<?xml version=\"1.0\" encoding=\"utf-8\"?>"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("<MDL value=\"Kestrova CP-500 card personaliser\"/>"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("<sw_error_code value=\"0\"/>"), std::string::npos);

    const std::string document = scratchFile("restore.xml", "<kx_api><note>mine</note><command value=\"restore\"/></kx_api>");
    const ToolRun fromFile = kestrova({"control", "--file", document});
    ASSERT_EQ(fromFile.status, exit_code::Success) << fromFile.err;
    EXPECT_NE(fromFile.out.find("<note>mine</note>"), std::string::npos) << "the request comes back with its result";

    // The module answers a command it does not know like any other; the tool
    // shows that answer and says what it means.
    const ToolRun bogus =
        kestrova({"control", "--file", scratchFile("bogus.xml", "<kx_api><command value=\"Get_Info\"/></kx_api>")});
    EXPECT_EQ(bogus.status, exit_code::Failed);
    EXPECT_NE(bogus.out.find("<sw_error_code value=\"0\"/>"), std::string::npos) << bogus.out;
    EXPECT_NE(bogus.err.find("the module does not know the command 'Get_Info'"), std::string::npos) << bogus.err;
}

TEST(ToolCheck, ListsCardsAsTheMachineReceivesThem) {
    const ToolRun run = kestrova({"check", "--config", kSampleConfig, kSampleJob});
    ASSERT_EQ(run.status, exit_code::Success) << run.out << run.err;
    EXPECT_NE(run.out.find("horizontal rules (x): 120 -> 118"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("X 118 (120 in the job)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("JobSetup     06SZX85606SZY540"), std::string::npos);
    EXPECT_NE(run.out.find("Personalize  A011800452030ANNA KOWALSKA;"), std::string::npos);
    EXPECT_EQ(linesWith(run.out, "Personalize  A").size(), 8u);
}

TEST(ToolCheck, ExplainsConfigurationProblems) {
    struct Case {
        const char* config;
        const char* explanation;
    } cases[] = {
        {"<KestrovaLM><replace-coordinates><horizontal><r value=\"100\" replace_with=\"12mm\"/></horizontal>"
         "<vertical/></replace-coordinates></KestrovaLM>",
         "horizontal rule 1 <r>: replace_with=\"12mm\" has 'mm' after its digits"},
        {"<KestrovaLM><replace-coordinates><horizontal a=\"1\"/><vertical/></replace-coordinates></KestrovaLM>",
         "the <horizontal> element has attributes of its own"},
        {"<KestrovaLM><replace-coordinates><horizontal/></replace-coordinates></KestrovaLM>",
         "KestrovaLM/replace-coordinates/vertical is missing; the horizontal rules stay"},
        {"<kestrovalm/>", "the top-level element must be <KestrovaLM> (found <kestrovalm>)"},
        {"<KestrovaLM><replace-coordinates>", "not well-formed XML at line 1"},
        {"", "the file is empty (0 bytes)"},
        {" \r\n\t\n", "the file holds only white space (5 bytes)"},
        {"<KestrovaLM><replace-coordinates><horizontal><a value=\"1\" replace_with=\"2\"/>"
         "<b value=\"1\" replace_with=\"3\"/></horizontal><vertical><c value=\"5\"/></vertical>"
         "</replace-coordinates></KestrovaLM>",
         "vertical rule 1 <c> has no attribute replace_with"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        const ToolRun run = kestrova({"check", "--config", scratchFile("bad.cfg", c.config), kSampleJob});
        EXPECT_EQ(run.status, exit_code::Failed);
        EXPECT_NE(run.out.find(c.explanation), std::string::npos) << run.out;
    }
    const ToolRun duplicate = kestrova(
        {"check", "--config",
         scratchFile("dup.cfg", "<KestrovaLM><replace-coordinates><horizontal><a value=\"1\" replace_with=\"2\"/>"
                                "<b value=\"1\" replace_with=\"3\"/></horizontal><vertical/></replace-coordinates>"
                                "</KestrovaLM>"),
         kSampleJob});
    EXPECT_EQ(duplicate.status, exit_code::Success);
    EXPECT_NE(duplicate.out.find("rule 2 <b> (1 -> 3) is ignored: rule 1 already replaces x 1 by 2"), std::string::npos)
        << duplicate.out;
}

TEST(ToolCheck, ACardWithoutItemsIsAProblem) {
    const ToolRun run = kestrova({"check", scratchFile("no-items.txt", "<SX1 SY1><lonely card>")});
    EXPECT_EQ(run.status, exit_code::Failed);
    EXPECT_NE(run.out.find("hardware error -5"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace kestrova::testing

namespace kestrova::testing {
namespace {

// The exit statuses a --help lists, from its "Exit status:" lines.
std::set<int> listedExitCodes(const std::string& help) {
    std::set<int> codes;
    const auto at = help.find("Exit status:");
    std::istringstream lines(at == std::string::npos ? std::string() : help.substr(at));
    std::string line;
    std::getline(lines, line);
    // "  N    meaning", a long meaning going on under itself.
    while (std::getline(lines, line) && line.size() > 2 && line[0] == ' ') {
        if (std::isdigit(static_cast<unsigned char>(line[2]))) {
            codes.insert(std::stoi(line));
        } else if (line.find_first_not_of(' ') != 7) {
            break;
        }
    }
    return codes;
}

TEST(ToolCommands, EachHelpListsExactlyTheExitCodesItsCommandReturns) {
    struct Case {
        std::vector<std::string> words;
        std::set<int> codes;
    } cases[] = {
        {{"help"}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 130}},
        {{"print", "--help"}, {0, 1, 2, 3, 4, 12, 130}},
        {{"control", "--help"}, {0, 1, 2, 3, 4, 5, 13, 14}},
        {{"status", "--help"}, {0, 1, 2, 4, 130}},
        {{"console", "--help"}, {0, 2, 4}},
        {{"machine", "--help"}, {0, 2, 4, 130}},
        {{"check", "--help"}, {0, 1, 2, 3, 130}},
        {{"install", "--help"}, {0, 1, 2, 5, 6, 7, 8, 9, 10, 11}},
        {{"uninstall", "--help"}, {0, 1, 2, 5, 6, 9, 10, 11}},
    };
    for (const Case& c : cases) {
        const ToolRun run = kestrova(c.words);
        EXPECT_EQ(listedExitCodes(run.out), c.codes) << c.words[0] << "\n" << run.out;
    }
    // Every command the tool's help lists has its row here, and the tool's
    // own list is theirs together: a status one command gained is in it too.
    std::set<std::string> listed;
    std::istringstream listing(kestrova({"help"}).out);
    for (std::string line; std::getline(listing, line);) {
        if (line.size() > 3 && line.compare(0, 2, "  ") == 0 && std::islower(static_cast<unsigned char>(line[2]))) {
            listed.insert(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    std::set<std::string> covered;
    std::set<int> every;
    for (const Case& c : cases) {
        covered.insert(c.words[0]);
        if (c.words[0] != "help") every.insert(c.codes.begin(), c.codes.end());
    }
    EXPECT_EQ(covered, listed);
    EXPECT_EQ(listedExitCodes(kestrova({"help"}).out), every);
}

// A job that would only halt is refused before anything is sent, with
// check's words and check's exit status.
TEST(ToolPrint, RefusesAJobThatCannotBeProduced) {
    const char bytes[] = "MZ\x90\0\x03\0\0\0<\x04\0\0\xff\xff\0\0\xb8\r\n<\x01\x02>";
    const std::string binary(bytes, sizeof bytes - 1);
    struct Case {
        const char* name;
        std::string contents;
        const char* why;
    } cases[] = {
        {"binary.dat", binary, "the layout has no items"},
        {"angle.txt", "Dear Sir <Madam>, please print\n", "the layout has no items"},
        {"empty.txt", "", "no cards: the job holds no data record"},
        {"no-cards.txt", "<SX856 SY540 X1 Y1 F1 CI3>", "no cards: the job holds no data record"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string job = scratchFile(c.name, c.contents);
        const ToolRun print = kestrova({"print", "--fast", "--restore-after", "10", job});
        EXPECT_EQ(print.status, exit_code::Failed);
        EXPECT_NE(print.err.find("cannot be produced, nothing was sent"), std::string::npos) << print.err;
        EXPECT_NE(print.err.find(c.why), std::string::npos) << print.err;
        EXPECT_EQ(print.out.find("printing"), std::string::npos) << print.out;
        const ToolRun check = kestrova({"check", job});
        EXPECT_EQ(check.status, exit_code::Failed);
        EXPECT_NE(check.out.find(c.why), std::string::npos) << check.out;
    }
}

// --restore-after never loops for ever: a card that halts again after
// --max-restores restores ends the job.
TEST(ToolPrint, GivesUpOnACardThatKeepsHalting) {
    struct Case {
        std::vector<std::string> limit;
        std::size_t restores;
    } cases[] = {{{}, 3}, {{"--max-restores", "1"}, 1}, {{"--max-restores", "5"}, 5}};
    for (const Case& c : cases) {
        std::vector<std::string> words = {"print", "--fast", "--faults", "nak:load:7@*", "--restore-after", "100"};
        words.insert(words.end(), c.limit.begin(), c.limit.end());
        words.push_back(kSampleJob);
        const ToolRun run = kestrova(words);
        SCOPED_TRACE(run.out);
        EXPECT_EQ(run.status, exit_code::Failed);
        EXPECT_EQ(linesWith(run.out, "restore sent").size(), c.restores);
        const std::string last = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
        EXPECT_EQ(last.rfind("gave up: card 1 halted again (hardware error 5383", 0), 0u) << last;
        // The deleted job's card is taken out by a restore before the job ends.
        EXPECT_NE(last.find("0 of 8 cards produced, the job deleted; no card left in the machine"), std::string::npos);
    }
    // A fault now and then is restored as often as it strikes.
    const ToolRun sometimes = kestrova({"print", "--fast", "--faults", "nak:load:7@*2", "--restore-after", "100", kSampleJob});
    EXPECT_EQ(sometimes.status, exit_code::Success) << sometimes.out;
    // Every second card taken in is refused: each card after the first once.
    EXPECT_EQ(linesWith(sometimes.out, "restore sent").size(), 7u);
}

TEST(ToolTexts, SayWhatTheyMean) {
    const std::string longLine(5 * 1024 * 1024, 'A');
    const ToolRun longCheck = kestrova({"check", scratchFile("long.txt", "<SX856 SY540 X1 Y1 F1 CI3><" + longLine + ">")});
    std::size_t longest = 0;
    for (const std::string& line : linesWith(longCheck.out, "")) longest = std::max(longest, line.size());
    EXPECT_LT(longest, 1000u);
    EXPECT_NE(longCheck.out.find("... (5242880 bytes, the first 200 shown)"), std::string::npos);

    const ToolRun clean = kestrova({"check", "--config", kSampleConfig, kSampleJob});
    EXPECT_EQ(clean.status, exit_code::Success);
    EXPECT_EQ(clean.out.substr(clean.out.size() - 18), "no problems found\n");
    EXPECT_NE(clean.out.find("the header's U, ]F and FN and an item's CS, B, N= and quoted text are read and kept with "
                             "the card but never sent"),
              std::string::npos);
    EXPECT_NE(clean.out.find("; not sent: U 0, ]F 0, FN -"), std::string::npos) << clean.out;
    const ToolRun problems = kestrova({"check", kSource + "/examples/problem-job.txt"});
    EXPECT_EQ(problems.out.find("no problems found"), std::string::npos);

    const ToolRun print = kestrova({"print", "--fast", kSampleJob});
    EXPECT_EQ(print.out.find(") ("), std::string::npos) << "doubled brackets: " << print.out;
    EXPECT_NE(print.out.find(" real; "), std::string::npos) << print.out;

    // Output that is no terminal hears at once what the machine is doing, not
    // only when the first card is done (real clock: the card takes seconds).
    const ToolRun piped = kestrova({"print", "--durations", "all=300",
                                    scratchFile("one-card.txt", "<SX856 SY540 X1 Y1 F1 CI3><ANNA>")});
    EXPECT_EQ(piped.status, exit_code::Success) << piped.err;
    const auto first = piped.out.find('\n') + 1;
    EXPECT_EQ(piped.out.substr(first, piped.out.find('\n', first) - first).rfind("[....................] 0/1 cards, machine ", 0), 0u)
        << piped.out;

    const ToolRun broken =
        kestrova({"print", "--fast", "--config", scratchFile("broken.cfg", "<KestrovaLM><replace"), kSampleJob});
    EXPECT_EQ(broken.status, exit_code::Success);
    EXPECT_NE(broken.err.find("broken.cfg is broken: not well-formed XML at line 1"), std::string::npos) << broken.err;

    const ToolRun passed = kestrova({"control", "--file", scratchFile("other.xml", "<printer_data name=\"x\"/>")});
    EXPECT_NE(passed.out.find("not a kx_api request"), std::string::npos) << passed.out;
    EXPECT_NE(passed.out.find("the module passed it to the port monitor beneath, which returned FALSE"),
              std::string::npos)
        << passed.out;
}

// A shipped program loads only the module beside it or the installed one:
// nothing of the machine it was built on.
TEST(ToolModule, LooksBesideTheToolAndForTheInstalledModuleOnly) {
    const std::vector<std::string> candidates = tool::moduleCandidates();
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    const std::string folder = std::string(self, static_cast<std::size_t>(n)).substr(0, std::string(self, static_cast<std::size_t>(n)).rfind('/'));
    EXPECT_EQ(candidates, (std::vector<std::string>{folder + "/libKestrovaLM.so", "libKestrovaLM.so"}));
}

}  // namespace
}  // namespace kestrova::testing

namespace kestrova::testing {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Docs match the product: an example answer is the module's, and a measured
// size stands with the date it was measured (docs/performance.md is written
// by the benchmarks themselves).
TEST(ToolDocs, ShowWhatTheProductDoesAndDateWhatWasMeasured) {
    const ToolRun idle = kestrova({"control", "get_info"});
    const auto state = linesWith(idle.out, "<state value=");
    ASSERT_EQ(state.size(), 1u) << idle.out;
    const std::string windows = readText(kSource + "/docs/windows.md");
    const auto idleExample = windows.find("<to_produce value=\"0\"/>");
    ASSERT_NE(idleExample, std::string::npos);
    const auto shown = linesWith(windows.substr(idleExample, 200), "<state value=");
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0].substr(shown[0].find('<')), state[0].substr(state[0].find('<')));

    const std::regex figure(R"(\b\d{1,3}(,\d{3})+ (bytes|MiB)\b|\b\d+\.\d+ (MB|KB)\b)");
    const std::regex date(R"(\b20\d\d-\d\d-\d\d\b)");
    for (const char* doc : {"/README.md", "/docs/tool.md", "/docs/windows.md", "/docs/security.md"}) {
        const std::string text = readText(kSource + doc);
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\n\n", start);
            if (end == std::string::npos) end = text.size();
            const std::string paragraph = text.substr(start, end - start);
            if (std::regex_search(paragraph, figure)) {
                EXPECT_TRUE(std::regex_search(paragraph, date)) << doc << ": a figure without its date:\n" << paragraph;
            }
            start = end + 2;
        }
    }
}

}  // namespace
}  // namespace kestrova::testing
