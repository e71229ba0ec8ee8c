#include "tool/host_console.h"

#include "simulator/machine_clock.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
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

extern "C" void onInterrupt(int signal) {
    gSignal = signal;
    gInterrupted = true;
    for (const int each : kStopSignals) std::signal(each, SIG_DFL);
}

}  // namespace

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
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool interrupted() { return gInterrupted; }

std::string interruptName() {
    if (!gInterrupted) return {};
    switch (gSignal.load()) {
        case SIGINT: return "Ctrl-C";
        case SIGTERM: return "SIGTERM";
#ifdef SIGHUP
        case SIGHUP: return "SIGHUP";
#endif
#ifdef SIGBREAK
        case SIGBREAK: return "Ctrl-Break";
#endif
        default: return "signal " + std::to_string(gSignal.load());
    }
}

#ifdef _WIN32
bool virtualClockAvailable() { return false; }
void selectClock(bool) {}
bool virtualClockActive() { return false; }
std::vector<std::string> spoolerCalls() { return {}; }
void holdThisThreadAtClockLimit() {}
void setClockLimit(std::optional<std::uint64_t>) {}
std::optional<std::uint64_t> clockLimit() { return std::nullopt; }
bool waitingAtClockLimit() { return false; }
std::uint64_t thisThreadMovedClockMs() { return 0; }
#else
bool virtualClockAvailable() { return true; }

void selectClock(bool virtualClock) {
    standin::reset();
    standin::setRecordSleeps(false);
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
