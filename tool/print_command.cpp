// kestrova print: the tool plays the spooler for the real module. One thread
// runs EndDocPort, which produces the whole job; this one watches it through
// get_info requests, shows progress and the cards produced, and does what the
// PrintWatcher decides: restore the machine after a halt, give up, delete
// the job on Ctrl-C.
#include "production/configuration.h"
#include "simulator/option_text.h"
#include "tool/arguments.h"
#include "tool/command_start.h"
#include "tool/config_report.h"
#include "tool/console.h"
#include "tool/control_channel.h"
#include "tool/control_document.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/host_console.h"
#include "tool/job_file.h"
#include "tool/listen_address.h"
#include "tool/machine_setup.h"
#include "tool/module_loader.h"
#include "tool/print_report.h"
#include "tool/print_watcher.h"
#include "tool/producible_job.h"
#include "tool/production_clock.h"
#include "tool/spooler_host.h"
#include "tool/staged_configuration.h"
#include "tool/text_encoding.h"
#include "tool/tool_commands.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kestrova::tool {

namespace {

namespace net = simulator::net;
using Clock = std::chrono::steady_clock;

// Production's first cycle (its Poll, and on a new port its Restore) goes
// out before any request of ours, so that a trace shows the worked start.
constexpr std::size_t kFramesBeforeRequests = 2;
constexpr std::uint64_t kFirstCycleAllowanceMs = 3000;
constexpr auto kWatchStep = std::chrono::milliseconds(10);
// On the virtual clock a halted loop lets hours pass in a moment: look often.
constexpr auto kFastWatchStep = std::chrono::milliseconds(1);
// Where the output is no terminal, a machine state change is shown once
// nothing has been said for this long.
constexpr auto kQuietSpell = std::chrono::seconds(2);

struct PrintOptions {
    std::string jobPath;
    MachineChoice machine;
    bool fast = false;
    simulator::MachineDurations durations = simulator::MachineDurations::typical();
    simulator::FaultPlan faults;
    std::optional<std::uint64_t> restoreAfterMs;
    std::optional<net::Endpoint> control;
    std::optional<std::string> configPath;
    bool trace = false;
    std::uint64_t progressEveryMs = 500;
    std::size_t chunk = 4096;
    std::string modulePath;
    bool quiet = false;
    std::uint64_t maxRestores = 3;
    // For the error stream before the job starts.
    std::vector<std::string> warnings;
};

const std::vector<OptionRule> kOptions = {
    {"help", false},          {"machine", true}, {"fast", false},   {"durations", true}, {"faults", true},
    {"restore-after", true},  {"control", true}, {"config", true},  {"trace", false},    {"progress-every", true},
    {"chunk", true},          {"module", true},  {"quiet", false},  {"max-restores", true},
    {"allow-remote", false},
};

bool readOptions(const Arguments& arguments, PrintOptions& options, std::string& error) {
    if (arguments.positionals.size() != 1) {
        error = arguments.positionals.empty() ? "print needs a JOBFILE (kestrova print --help)"
                                              : "print takes one JOBFILE, not " +
                                                    std::to_string(arguments.positionals.size());
        return false;
    }
    options.jobPath = arguments.positionals[0];
    if (const auto machine = arguments.value("machine")) {
        if (!parseMachineChoice(*machine, options.machine, error)) return false;
    }
    options.fast = arguments.has("fast");
    if (options.fast) options.progressEveryMs = 20;
    if (const auto durations = arguments.value("durations")) {
        const auto parsed = simulator::parseDurations(*durations);
        if (!parsed.durations) {
            error = "--durations: " + parsed.error;
            return false;
        }
        options.durations = *parsed.durations;
    }
    if (const auto faults = arguments.value("faults")) {
        const auto parsed = simulator::parseFaultPlan(*faults);
        if (!parsed.plan) {
            error = "--faults: " + parsed.error;
            return false;
        }
        options.faults = *parsed.plan;
    }
    if (!options.machine.simulated && (arguments.has("faults") || arguments.has("durations"))) {
        error = "--faults and --durations belong to the simulator in this process; with --machine tcp give them "
                "to kestrova machine";
        return false;
    }
    auto number = [&](const char* name, std::uint64_t max, std::uint64_t min) -> std::optional<std::uint64_t> {
        const auto text = arguments.value(name);
        if (!text) return std::nullopt;
        const auto value = simulator::option_text::parseUnsigned(*text, max);
        if (!value || *value < min) {
            error = std::string("--") + name + " needs a whole number from " + std::to_string(min) + " to " +
                    std::to_string(max) + ", not '" + *text + "'";
        }
        return value && *value >= min ? value : std::nullopt;
    };
    options.restoreAfterMs = number("restore-after", 86400000, 0);
    if (const auto every = number("progress-every", 3600000, 0)) options.progressEveryMs = *every;
    if (const auto chunk = number("chunk", 1u << 24, 1)) options.chunk = static_cast<std::size_t>(*chunk);
    if (const auto most = number("max-restores", 1000, 1)) options.maxRestores = *most;
    if (error.empty() && arguments.has("max-restores") && !arguments.has("restore-after")) {
        error = "--max-restores bounds the restores --restore-after sends; give --restore-after MS too";
    }
    if (!error.empty()) return false;
    if (const auto control = arguments.value("control")) {
        net::Endpoint endpoint;
        if (!net::parseEndpoint(*control, endpoint, error)) {
            error = "--control: " + error;
            return false;
        }
        std::string warning;
        if (!checkListenAddress("--control", endpoint.host, arguments.has("allow-remote"),
                                "delete the job or restore the machine", error, warning)) {
            return false;
        }
        if (!warning.empty()) options.warnings.push_back(warning);
        options.control = endpoint;
    } else if (arguments.has("allow-remote")) {
        error = "--allow-remote lets --control listen beyond loopback; give --control HOST:PORT too";
        return false;
    }
    options.configPath = arguments.value("config");
    options.trace = arguments.has("trace");
    options.modulePath = arguments.value("module").value_or("");
    options.quiet = arguments.has("quiet");
    return true;
}

std::string hintForHalt(const PrintOptions& options, const ControlListener* listener) {
    if (listener != nullptr) {
        return "the job waits for a restore: kestrova control --to " + options.control->host + ":" +
               std::to_string(listener->port()) + " restore";
    }
    return "the job waits for a restore (run with --restore-after MS or --control HOST:PORT), or press Ctrl-C to "
           "delete it";
}

}  // namespace

int runPrint(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, output.terminal);
    const CommandStart start = startCommand(words, kOptions, "print", printHelp(), console, output.out);
    if (!start.arguments) return start.exitCode;
    PrintOptions options;
    std::string error;
    if (!readOptions(*start.arguments, options, error)) {
        console.error(error);
        return exit_code::Usage;
    }
    for (const std::string& warning : options.warnings) console.error(warning);
    // From here on every ending goes through the summary, even a second signal's.
    host::catchInterrupt();
    host::setLastWords("nothing was sent to the module", console.outputLost());

    std::string job;
    if (!readWholeFile(options.jobPath, job, error)) {
        console.error(error);
        return exit_code::BadInput;
    }
    std::string configuration;
    if (options.configPath && !readWholeFile(*options.configPath, configuration, error)) {
        console.error("--config: " + error);
        return exit_code::BadInput;
    }
    const JobQueue cards = parseJob(job);
    const std::size_t total = cards.size();
    // What check knows stops a job that would only halt, before anything is sent.
    if (const auto reasons = whyJobCannotBeProduced(cards); !reasons.empty()) {
        console.error(options.jobPath + " cannot be produced, nothing was sent (kestrova check " + options.jobPath +
                      " lists its cards):");
        for (const std::string& reason : reasons) output.err << "  " << reason << '\n';
        return exit_code::Failed;
    }
    {
        // The module only tells a debugger; say it here, in check's words,
        // whether the file was given or is the one the module finds itself.
        const bool given = options.configPath.has_value();
        std::error_code ignored;
        if (given || std::filesystem::exists(kConfigurationPath, ignored)) {
            const std::string name = given ? "--config " + *options.configPath : std::string(kConfigurationPath);
            const ConfigReport config =
                given ? explainConfigurationText(configuration) : explainConfiguration(kConfigurationPath);
            if (!config.moduleReadsIt) {
                std::string problems;
                for (const std::string& e : config.errors) problems += (problems.empty() ? "" : "; ") + e;
                console.error(name + " is broken: " + problems +
                              ". The module sends \"KestrovaLM.cfg not found\" and prints with the rules read before "
                              "the problem (kestrova check " +
                              (given ? "--config " + *options.configPath + " " : std::string()) + options.jobPath +
                              " explains)");
            }
        }
    }

    // Loaded before the clock is chosen: on Windows the DLL's own Sleep and
    // GetTickCount are what --fast must put on the virtual clock.
    LoadedModule module;
    if (!loadModule(module, options.modulePath, error)) {
        console.error(error);
        return exit_code::Environment;
    }
    std::string noVirtualClock;
    const bool virtualClock = options.fast && module.runOnVirtualClock(noVirtualClock);
    if (options.fast && !virtualClock) {
        console.line("note: no virtual clock here; --fast runs an instant machine on the real clock" +
                     (noVirtualClock.empty() ? std::string() : " (" + noVirtualClock + ")"));
        options.durations = simulator::MachineDurations::instant();
    }
    host::selectClock(virtualClock);
    // Several threads trace; a line goes out whole.
    simulator::FrameTracer::Sink traceSink;
    if (options.trace) traceSink = [&console](const std::string& line) { console.line(line); };
    MachineSetup machine(options.machine, options.durations, options.faults, traceSink);
    // Without status requests nobody would let a leashed clock go on.
    ProductionClock clock(host::virtualClockActive() && options.progressEveryMs > 0,
                          options.restoreAfterMs.value_or(0));
    machine.observeReads([&clock] { clock.onRead(); });
    const bool showProgress = !options.quiet && !options.trace && output.terminal;

    SpoolerHost spooler(module);
    if (!machine.openPort(spooler, error)) {
        console.error(error);
        return exit_code::Environment;
    }
    StagedConfiguration staged;
    if (options.configPath && !staged.stage(configuration, error)) {
        console.error("--config: " + error);
        return exit_code::Environment;
    }
    // A delete_job that came in through --control: the module then ends the
    // job as if it were finished, and only this tells it apart.
    std::mutex deletionLock;
    std::string deletedFromOutside;
    std::optional<ControlListener> listener;
    if (options.control) {
        listener.emplace();
        if (!listener->listen(*options.control, error)) {
            console.error("--control: " + error);
            return exit_code::Environment;
        }
        const std::string where = "--control " + options.control->host + ":" + std::to_string(listener->port());
        listener->start([&spooler, &console, &clock, &deletionLock, &deletedFromOutside,
                         where](const std::string& document) {
            simulator::setThreadTraceTag("ext");
            const ControlAnswer answer = spooler.control(utf16FromUtf8(document));
            // A restore from elsewhere: production goes on at once.
            clock.letGo();
            const auto command = requestedCommand(document);
            if (answer.result == TRUE && command == std::string("delete_job")) {
                std::lock_guard<std::mutex> guard(deletionLock);
                if (deletedFromOutside.empty()) deletedFromOutside = "by a delete_job request received on " + where;
            }
            console.line("control request " + (command ? *command : std::string("(not a kx_api request)")) +
                         " served (" + std::string(answer.result == TRUE ? "TRUE" : "FALSE") + ")");
            return ControlReply{answer.result == TRUE, answer.lastError, utf8FromUtf16(answer.text)};
        });
    }
    auto outsideDeletion = [&deletionLock, &deletedFromOutside] {
        std::lock_guard<std::mutex> guard(deletionLock);
        return deletedFromOutside;
    };

    if (!options.quiet) {
        console.line("printing " + options.jobPath + ": " + std::to_string(total) + " card" + (total == 1 ? "" : "s") +
                     " through " + module.path() + " on " +
                     (options.machine.simulated ? std::string("the simulated machine")
                                                : "the machine at " + options.machine.endpoint.text()) +
                     (host::virtualClockActive() ? ", virtual clock" : ", real clock"));
        if (clock.leashed() && options.restoreAfterMs) {
            console.line("a halt is restored after " + formatDuration(*options.restoreAfterMs) +
                         " on the virtual clock, as every time shown");
        }
        if (listener) console.line("control requests accepted on " + options.control->host + ":" +
                                   std::to_string(listener->port()));
    }
    if (spooler.startDoc(1, utf16FromUtf8(documentName(options.jobPath))) != TRUE) {
        console.line("note: StartDocPort returned FALSE (no printer or port document); the module buffers and "
                     "produces the job all the same");
    }
    // The module has read the configuration: nothing of ours stays on disk
    // while the job runs, whichever way it ends.
    staged.unstage();
    if (!spooler.write(Bytes(job.begin(), job.end()), options.chunk, error)) {
        console.error(error);
        return exit_code::Failed;
    }

    PrintReport report(cards, machine.simulator(), machine.deliveries());
    const auto realStart = Clock::now();
    const std::uint64_t platformStart = host::platformNowMs();
    std::atomic<bool> finished{false};
    BOOL endResult = FALSE;
    std::thread production([&] {
        simulator::setThreadTraceTag("job");
        clock.enterProduction();
        endResult = spooler.endDoc();
        finished = true;
    });
    simulator::setThreadTraceTag("ctl");

    auto request = [&](const std::string& command) {
        // Only the time this thread moved the clock on by: a request that
        // waited for a cycle to end does not count that cycle as its own.
        const std::uint64_t movedBefore = host::thisThreadMovedClockMs();
        const ControlAnswer answer = spooler.control(utf16FromUtf8(controlRequestText(command)));
        clock.allowFor(host::thisThreadMovedClockMs() - movedBefore);
        return answer.result == TRUE ? readResultDocument(utf8FromUtf16(answer.text)) : ResultValues();
    };
    PrintWatcher watcher({options.restoreAfterMs, options.maxRestores, platformStart,
                          hintForHalt(options, listener ? &*listener : nullptr)});
    // What a second signal leaves behind: the counts as they stand.
    auto keepLastWords = [&](const char* jobState) {
        host::setLastWords(std::to_string(report.produced()) + " of " + std::to_string(report.total()) +
                               " cards produced, " + jobState + "; " + report.cardInMachine(),
                           console.outputLost(), console.statusShown());
    };
    // Where the current halt was seen on the real clock, for a halt the clock
    // follows the real clock through.
    auto haltSeenReal = Clock::now();
    std::function<void(const PrintWatcher::Step&)> follow = [&](const PrintWatcher::Step& step) {
        if (step.haltBegan) {
            report.noteHalt(*step.haltBegan);
            haltSeenReal = Clock::now();
        }
        if (step.restored) report.noteRestore();
        if (step.haltOverMs) report.noteHaltOver(*step.haltOverMs);
        for (const std::string& line : step.lines) console.line(line);
        if (step.request == PrintWatcher::Request::DeleteJob) {
            keepLastWords("delete_job sent but not yet answered, the job ended with the tool");
            report.noteStatus(request("delete_job"));
        }
        switch (step.clock) {
        case PrintWatcher::ClockMove::Stay:
            break;
        case PrintWatcher::ClockMove::LetGo:
            clock.letGo();
            break;
        case PrintWatcher::ClockMove::RunTo:
            clock.runTo(step.clockMs);
            break;
        case PrintWatcher::ClockMove::FollowRealClock: {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - haltSeenReal);
            clock.runTo(step.clockMs + static_cast<std::uint64_t>(waited.count()));
            break;
        }
        case PrintWatcher::ClockMove::Unleash:
            // Only a deleted job goes unleashed: its last words say so first.
            keepLastWords("the job deleted");
            clock.unleash();
            break;
        }
        if (step.request == PrintWatcher::Request::Restore) {
            const ResultValues restored = request("restore");
            follow(watcher.restoreAnswered(restored.swErrorCode.value_or(0), report.produced(),
                                           host::platformNowMs()));
        }
    };

    // Progress: on the real clock, how often a status is asked for and when
    // a line was last shown.
    auto nextStatus = Clock::now();
    bool progressShown = false;
    auto lastProgressLine = Clock::now();
    keepLastWords("the job not deleted, it ended with the tool");
    while (!finished) {
        std::this_thread::sleep_for(host::virtualClockActive() ? kFastWatchStep : kWatchStep);
        if (!options.quiet) report.newCards(console);
        if (!watcher.deleted()) keepLastWords("the job not deleted, it ended with the tool");
        if (host::interrupted()) follow(watcher.interrupted(host::interruptName()));
        if (console.outputLost()) follow(watcher.outputClosed());
        follow(watcher.deletedFromOutside(outsideDeletion()));
        // Production waiting at the leash is looked at at once, unless it is a halt being timed.
        if (options.progressEveryMs == 0 || (Clock::now() < nextStatus && (watcher.halted() || !clock.waiting()))) {
            continue;
        }
        nextStatus = Clock::now() + std::chrono::milliseconds(options.progressEveryMs);
        if (machine.tracer().framesWritten() < kFramesBeforeRequests &&
            host::platformNowMs() - platformStart < kFirstCycleAllowanceMs) {
            continue;
        }
        // Production waiting at the leash cannot move on while the status is
        // taken, so that status is current and the leash may be let go on it.
        const bool productionWaited = clock.waiting();
        const ResultValues status = request("get_info");
        if (finished) break;
        if (!status.hasResult) {
            clock.letGo();
            continue;
        }
        const std::string stateBefore = report.machineState();
        const bool changed = report.noteStatus(status);
        if (showProgress) {
            console.status(report.progressLine());
        } else if (!options.quiet && !host::virtualClockActive() &&
                   (changed || !progressShown ||
                    (report.machineState() != stateBefore && Clock::now() - lastProgressLine >= kQuietSpell))) {
            // Not a terminal: the first status at once, then the changes that matter, and a
            // new machine state when nothing has been said for a while (a card takes seconds).
            // On the virtual clock the job outruns any real-time look at it: what such a
            // look caught would differ from run to run, so the card lines speak alone.
            console.line(report.progressLine());
            progressShown = true;
            lastProgressLine = Clock::now();
        }
        follow(watcher.status({status.hwErrorCode.value_or(0), report.produced(), host::platformNowMs(),
                               clock.lastProductionReadMs(), productionWaited}));
    }
    clock.unleash();
    production.join();
    console.endStatus();
    if (listener) listener->stop();
    if (!options.quiet) report.newCards(console);
    keepLastWords(watcher.deleted() ? "the job deleted" : "the job ended");

    const PrintWatcher::Ending ending =
        watcher.finish(endResult == TRUE, outsideDeletion(), report.produced(), report.spoiled(), report.total());
    for (const std::string& line : ending.lines) console.line(line);
    const std::uint64_t platformMs = host::platformNowMs() - platformStart;
    const auto realMs = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - realStart).count());
    report.summary(console, endResult, ending.deletion, platformMs, realMs, host::virtualClockActive(),
                   host::spoolerCalls());
    spooler.close();
    host::clearLastWords();
    if (ending.deleted) {
        console.finalLine(ending.lastLine + ": " + std::to_string(report.produced()) + " of " +
                          std::to_string(report.total()) + " cards produced, the job deleted; " +
                          report.cardInMachine());
    }
    return ending.exitStatus;
}

}  // namespace kestrova::tool
