#include "tool/host_console.h"

#include "simulator/machine_clock.h"
#include "standin/virtual_clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include "standin/platform_standin.h"

#include <unistd.h>
#endif

namespace kestrova::tool::host {

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{0};

// Every signal that asks the tool to stop; a second one of any kind ends it.
constexpr int kStopSignals[] = {
    SIGINT, SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
#ifdef SIGBREAK
    SIGBREAK,
#endif
};

// The last words, in one of two slots: the handler writes the slot last
// published while the next one is filled. A handler that has begun stops
// any further filling, since the process is about to end.
constexpr std::size_t kLastWordsSize = 2048;
struct LastWords {
    char text[kLastWordsSize];
    std::size_t size;
    bool toErrorStream;
    bool newLineFirst;
};
LastWords gLastWords[2];
std::atomic<int> gPublished{-1};
std::atomic<bool> gEnding{false};

const char* signalName(int signal) {
    switch (signal) {
        case SIGINT: return "Ctrl-C";
        case SIGTERM: return "SIGTERM";
#ifdef SIGHUP
        case SIGHUP: return "SIGHUP";
#endif
#ifdef SIGBREAK
        case SIGBREAK: return "Ctrl-Break";
#endif
        default: return "a signal";
    }
}

// Async-signal-safe pieces only: no allocation, no stdio, no locale.
std::size_t append(char* out, std::size_t at, std::size_t room, const char* text, std::size_t size) {
    for (std::size_t i = 0; i < size && at < room; ++i) out[at++] = text[i];
    return at;
}

std::size_t append(char* out, std::size_t at, std::size_t room, const char* text) {
    std::size_t size = 0;
    while (text[size] != '\0') ++size;
    return append(out, at, room, text, size);
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        const int n = _write(fd, data, static_cast<unsigned>(size));
#else
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
#endif
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

[[noreturn]] void endAtOnce(int signal) {
    gEnding = true;
    const int slot = gPublished.load();
    if (slot < 0) {
        // Nothing to say: end by the signal itself.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        _exit(128 + signal);
    }
    const LastWords& words = gLastWords[slot];
    char line[kLastWordsSize + 128];
    std::size_t at = 0;
    if (words.newLineFirst) at = append(line, at, sizeof line, "\n");
    at = append(line, at, sizeof line, "interrupted by ");
    at = append(line, at, sizeof line, signalName(gSignal.load()));
    at = append(line, at, sizeof line, ", then by ");
    at = append(line, at, sizeof line, signalName(signal));
    at = append(line, at, sizeof line, ": the tool ended at once; ");
    at = append(line, at, sizeof line, words.text, words.size);
    at = append(line, at, sizeof line, "\n");
    writeAll(words.toErrorStream ? 2 : 1, line, at);
    _exit(130);
}

extern "C" void onInterrupt(int signal) {
    int none = 0;
    gSignal.compare_exchange_strong(none, signal);  // the first signal keeps its name
    if (gInterrupted.exchange(true)) endAtOnce(signal);
#ifdef _WIN32
    // Windows resets the handler before calling it.
    std::signal(signal, onInterrupt);
#endif
}

}  // namespace

void setLastWords(const std::string& text, bool toErrorStream, bool newLineFirst) {
    if (gEnding) return;
    const int slot = gPublished.load() == 0 ? 1 : 0;
    LastWords& words = gLastWords[slot];
    words.size = std::min(text.size(), kLastWordsSize);
    std::memcpy(words.text, text.data(), words.size);
    words.toErrorStream = toErrorStream;
    words.newLineFirst = newLineFirst;
    gPublished = slot;
}

void clearLastWords() { gPublished = -1; }

bool stdoutIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

void catchInterrupt() {
    gInterrupted = false;
    gSignal = 0;
    for (const int each : kStopSignals) std::signal(each, onInterrupt);
    ignoreClosedOutput();
}

void ignoreClosedOutput() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool interrupted() { return gInterrupted; }

std::string interruptName() {
    if (!gInterrupted) return {};
    return signalName(gSignal.load());
}

void selectClock(bool virtualClock) {
#ifdef _WIN32
    standin::resetClock();
#else
    standin::reset();
    standin::setRecordSleeps(false);
#endif
    standin::setClockMode(virtualClock ? standin::ClockMode::Virtual : standin::ClockMode::Real);
}

bool virtualClockActive() { return standin::clockMode() == standin::ClockMode::Virtual; }

void holdThisThreadAtClockLimit() { standin::holdAtVirtualClockLimit(); }

void setClockLimit(std::optional<std::uint64_t> ms) { standin::setVirtualClockLimit(ms.value_or(standin::kNoClockLimit)); }

std::optional<std::uint64_t> clockLimit() {
    const std::uint64_t limit = standin::virtualClockLimit();
    return limit == standin::kNoClockLimit ? std::nullopt : std::optional<std::uint64_t>(limit);
}

bool waitingAtClockLimit() { return standin::waitingAtVirtualClockLimit(); }

std::uint64_t thisThreadMovedClockMs() { return standin::threadMovedClockMs(); }

#ifdef _WIN32
// The spooler is the real one (or Wine's): the tool does not see its calls.
std::vector<std::string> spoolerCalls() { return {}; }
#else
std::vector<std::string> spoolerCalls() {
    std::vector<std::string> out;
    for (const auto& call : standin::calls()) {
        if (call.name == "SetJobW") {
            const char* what = call.command == JOB_CONTROL_LAST_PAGE_EJECTED ? "JOB_CONTROL_LAST_PAGE_EJECTED"
                               : call.command == JOB_CONTROL_DELETE          ? "JOB_CONTROL_DELETE"
                                                                             : "?";
            out.push_back("SetJobW(job " + std::to_string(call.jobId) + ", " + what + ")");
        } else if (call.name == "ClosePrinter" || call.name == "OpenPrinterW") {
            out.push_back(call.name);
        }
    }
    return out;
}
#endif

std::uint64_t platformNowMs() { return simulator::machine_clock::nowMs(); }

}  // namespace kestrova::tool::host
