// kestrova print as a process, ended from outside while it produces: every
// way of ending it deletes the job, leaves no scratch folder behind, exits
// with 130 and ends on a line that counts the cards produced and says where
// the card in the machine is. A second signal, too, leaves that line.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kestrova::testing {
namespace {

const std::string kSource = KESTROVA_SOURCE_DIR;

// Everything readable from `fd` within `ms`; stops early once `until` appears.
std::string readFor(int fd, int ms, const std::string& until = "") {
    std::string text;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (!until.empty() && text.find(until) != std::string::npos) break;
    }
    return text;
}

std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const std::size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
}

TEST(ToolInterrupt, EveryEndingDeletesTheJobAndLeavesNothingBehind) {
    struct Case {
        const char* name;
        int signal;  // 0: the output pipe is closed instead
        const char* finalLine;
    } cases[] = {
        {"sigterm", SIGTERM, "interrupted by SIGTERM: "},
        {"sigint", SIGINT, "interrupted by Ctrl-C: "},
        {"sighup", SIGHUP, "interrupted by SIGHUP: "},
        {"closed-output", 0, "output closed: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path scratch = std::filesystem::path(::testing::TempDir()) / ("interrupt-" + std::string(c.name));
        std::filesystem::remove_all(scratch);
        std::filesystem::create_directories(scratch);
        int out[2];
        int err[2];
        ASSERT_EQ(pipe(out), 0);
        ASSERT_EQ(pipe(err), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            close(out[0]);
            close(err[0]);
            setenv("TMPDIR", scratch.c_str(), 1);
            // The real clock, a machine slow enough to be caught mid-job.
            execl(KESTROVA_TOOL_PATH, "kestrova", "print", "--durations", "all=200", "--config",
                  (kSource + "/examples/KestrovaLM.cfg").c_str(), (kSource + "/examples/sample-job.txt").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        // The first status comes once the document has started: production is under way.
        std::string shown = readFor(out[0], 60000, "cards, machine");
        ASSERT_NE(shown.find("cards, machine"), std::string::npos) << shown << readFor(err[0], 100);
        std::string errors;
        if (c.signal != 0) {
            kill(child, c.signal);
            shown += readFor(out[0], 60000);
            errors = readFor(err[0], 1000);
        } else {
            close(out[0]);
            errors = readFor(err[0], 60000);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (c.signal != 0) close(out[0]);
        close(err[0]);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 130);
        const std::string final = lastLine(c.signal != 0 ? shown : errors);
        EXPECT_EQ(final.rfind(c.finalLine, 0), 0u) << final << "\n" << shown << errors;
        EXPECT_NE(final.find(" of 8 cards produced, the job deleted; "), std::string::npos) << final;
        EXPECT_TRUE(final.find("a card is still in the machine") != std::string::npos ||
                    final.find("no card left in the machine") != std::string::npos)
            << final;
        // The deletion empties the module's queue; no line may count that as cards done.
        EXPECT_EQ(shown.find("8/8 cards"), std::string::npos) << shown;
        EXPECT_TRUE(std::filesystem::is_empty(scratch)) << "left behind in " << scratch;
    }
}

// A second signal while the job is being deleted ends the tool at once, but
// not silently: its last line says how far the job got.
TEST(ToolInterrupt, ASecondSignalEndsAtOnceWithItsLastLine) {
    struct Case {
        const char* name;
        int first, second;
        const char* finalLine;
    } cases[] = {
        {"sigterm-twice", SIGTERM, SIGTERM, "interrupted by SIGTERM, then by SIGTERM: the tool ended at once; "},
        {"sigint-then-sigterm", SIGINT, SIGTERM, "interrupted by Ctrl-C, then by SIGTERM: the tool ended at once; "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(out[1], 1);
            close(out[0]);
            // The machine is slow: the deletion waits for the cycle in progress.
            execl(KESTROVA_TOOL_PATH, "kestrova", "print", "--durations", "all=400",
                  (kSource + "/examples/sample-job.txt").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string shown = readFor(out[0], 60000, "cards, machine");
        ASSERT_NE(shown.find("cards, machine"), std::string::npos) << shown;
        kill(child, c.first);
        // Only once the first is taken: two of the same signal still pending
        // at once are delivered as one.
        shown += readFor(out[0], 60000, "delete_job sent");
        ASSERT_NE(shown.find("delete_job sent"), std::string::npos) << shown;
        kill(child, c.second);
        shown += readFor(out[0], 60000);
        close(out[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << shown;
        EXPECT_EQ(WEXITSTATUS(status), 130);
        const std::string final = lastLine(shown);
        EXPECT_EQ(final.rfind(c.finalLine, 0), 0u) << shown;
        EXPECT_NE(final.find(" of 8 cards produced, "), std::string::npos) << final;
    }
}

// kestrova machine serves whoever connects: it refuses an address other than
// loopback at once (a process, so that a machine that did start is stopped).
TEST(ToolInterrupt, TheMachineRefusesToListenBeyondLoopback) {
    for (const char* address : {"0.0.0.0:0", "192.168.1.7:0"}) {
        SCOPED_TRACE(address);
        int err[2];
        ASSERT_EQ(pipe(err), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(err[1], 2);
            close(err[0]);
            execl(KESTROVA_TOOL_PATH, "kestrova", "machine", "--listen", address, "--quiet", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(err[1]);
        const std::string errors = readFor(err[0], 5000, "\n");
        int status = 0;
        pid_t ended = 0;
        for (int i = 0; i < 100 && ended == 0; ++i) {
            ended = waitpid(child, &status, WNOHANG);
            if (ended == 0) usleep(20000);
        }
        if (ended == 0) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "the machine listened on " << address;
        }
        close(err[0]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
        EXPECT_NE(errors.find("is not a loopback address"), std::string::npos) << errors;
        EXPECT_NE(errors.find("add --allow-remote"), std::string::npos) << errors;
    }
}

// check | head: the closed output ends the listing, not the process.
TEST(ToolInterrupt, CheckOutlivesAClosedOutput) {
    int out[2];
    int err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    // Nobody reads, from before the child starts: its first write finds the
    // output closed (closed after the fork, a slow parent let the whole
    // output into the pipe first).
    close(out[0]);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(err[0]);
        execl(KESTROVA_TOOL_PATH, "kestrova", "check", (kSource + "/examples/problem-job.txt").c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    const std::string errors = readFor(err[0], 60000);
    close(err[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(errors.find("output closed: check stopped"), std::string::npos) << errors;
}

}  // namespace
}  // namespace kestrova::testing
