// kestrova status: every KestrovaLM machine at a glance, from get_info:
// what it is doing, its job, what is wrong in words and the command that
// clears it. --watch refreshes in place; --json is for scripts.
#include "tool/arguments.h"
#include "tool/command_start.h"
#include "tool/console.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/host_console.h"
#include "tool/machine_directory.h"
#include "tool/machine_report.h"
#include "tool/spooler_printers.h"
#include "tool/tool_commands.h"

#include <chrono>
#include <thread>

namespace kestrova::tool {

namespace {

const std::vector<OptionRule> kOptions = {{"help", false}, {"to", true}, {"watch", false}, {"json", false},
                                          {"every", true}};

constexpr unsigned kDefaultEveryMs = 1000;
constexpr unsigned kLeastEveryMs = 100;

// Waits `ms`, or less once interrupted.
void pause(unsigned ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!host::interrupted() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

// The directory kestrova status and the console look through: --to, or the
// spooler's printers where there is a spooler.
std::unique_ptr<MachineDirectory> chooseDirectory(const Arguments& arguments, Console& console, int& failure) {
    std::string error;
    if (const auto to = arguments.value("to")) {
        std::vector<ControlPort> ports;
        if (!parseControlPorts(*to, ports, error)) {
            console.error("--to: " + error);
            failure = exit_code::Usage;
            return nullptr;
        }
        return controlPortDirectory(std::move(ports));
    }
    if (auto printers = spoolerPrinterDirectory()) return printers;
    console.error("there is no spooler here: give --to HOST:PORT[,HOST:PORT...], the --control addresses of "
                  "running kestrova print runs");
    failure = exit_code::Usage;
    return nullptr;
}

int runStatus(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, false);
    const CommandStart start = startCommand(words, kOptions, "status", statusHelp(), console, output.out);
    if (!start.arguments) return start.exitCode;
    const Arguments& arguments = *start.arguments;
    if (!arguments.positionals.empty()) {
        console.error("status takes no words besides its options: '" + arguments.positionals[0] + "'");
        return exit_code::Usage;
    }
    unsigned everyMs = kDefaultEveryMs;
    if (const auto every = arguments.value("every")) {
        try {
            std::size_t used = 0;
            const unsigned long value = std::stoul(*every, &used);
            if (used != every->size() || value < kLeastEveryMs || value > 3600000) throw std::out_of_range(*every);
            everyMs = static_cast<unsigned>(value);
        } catch (const std::exception&) {
            console.error("--every: '" + *every + "' is no number of ms from " + std::to_string(kLeastEveryMs) +
                          " to 3600000");
            return exit_code::Usage;
        }
    }
    int failure = exit_code::Success;
    const auto directory = chooseDirectory(arguments, console, failure);
    if (!directory) return failure;
    std::string error;
    if (!simulator::net::startNetworking(error)) {
        console.error(error);
        return exit_code::Environment;
    }

    const bool watch = arguments.has("watch");
    const bool json = arguments.has("json");
    // A closed output (| head) is an ending like any other, not a signal's death.
    if (watch) {
        host::catchInterrupt();
    } else {
        host::ignoreClosedOutput();
    }
    JobProgress progress;
    for (bool first = true;; first = false) {
        std::vector<MachineReport> reports;
        if (!lookAtMachines(*directory, reports, error)) {
            console.error(error);
            return exit_code::Environment;
        }
        const std::string text = json ? statusJson(reports, watch ? &progress : nullptr)
                                      : statusText(reports, watch ? &progress : nullptr);
        if (watch && output.terminal) {
            // In place, as top does: home, each line cleared to its end, the
            // rest of the screen cleared.
            std::string frame = first ? "\x1b[2J\x1b[H" : "\x1b[H";
            for (const char c : text) frame += c == '\n' ? std::string("\x1b[K\n") : std::string(1, c);
            output.out << frame << "\x1b[J" << std::flush;
        } else {
            if (!first) output.out << '\n';
            output.out << text << std::flush;
        }
        if (!output.out) return exit_code::Interrupted;
        if (!watch) {
            // A script hears whether everything is well.
            for (const MachineReport& report : reports) {
                const Condition c = conditionOf(report);
                if (c == Condition::Halted || c == Condition::Unreachable) return exit_code::Failed;
            }
            return exit_code::Success;
        }
        pause(everyMs);
        if (host::interrupted()) return exit_code::Success;
    }
}

}  // namespace kestrova::tool
