// kestrova machine: the simulated machine served on a loopback address.
#include "simulator/frame_trace.h"
#include "simulator/machine_server.h"
#include "tool/shown_text.h"
#include "tool/arguments.h"
#include "tool/command_start.h"
#include "tool/console.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/host_console.h"
#include "tool/listen_address.h"
#include "tool/print_report.h"
#include "tool/tool_commands.h"

#include <chrono>
#include <thread>

namespace kestrova::tool {

namespace {

const std::vector<OptionRule> kOptions = {{"help", false},  {"listen", true}, {"durations", true},
                                          {"faults", true}, {"trace", false}, {"quiet", false},
                                          {"allow-remote", false}};

std::string durationsText(const simulator::MachineDurations& d) {
    return "restore " + std::to_string(d.restoreMs) + ", preload " + std::to_string(d.preLoadMs) + ", load " +
           std::to_string(d.loadMs) + ", personalize " + std::to_string(d.personalizeMs) + ", eject " +
           std::to_string(d.ejectMs) + " ms";
}

}  // namespace

int runMachine(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, false);
    const CommandStart start = startCommand(words, kOptions, "machine", machineHelp(), console, output.out);
    if (!start.arguments) return start.exitCode;
    const Arguments& arguments = *start.arguments;
    if (!arguments.positionals.empty()) {
        console.error("machine takes no arguments besides its options (kestrova machine --help)");
        return exit_code::Usage;
    }
    const auto listen = arguments.value("listen");
    if (!listen) {
        console.error("machine needs --listen HOST:PORT, for example --listen 127.0.0.1:9150");
        return exit_code::Usage;
    }
    std::string error;
    simulator::net::Endpoint endpoint;
    if (!simulator::net::parseEndpoint(*listen, endpoint, error)) {
        console.error("--listen: " + error);
        return exit_code::Usage;
    }
    std::string warning;
    if (!checkListenAddress("--listen", endpoint.host, arguments.has("allow-remote"),
                            "drive the machine: restore it, or print cards on it", error, warning)) {
        console.error(error);
        return exit_code::Usage;
    }
    if (!warning.empty()) console.error(warning);
    simulator::MachineDurations durations = simulator::MachineDurations::typical();
    if (const auto text = arguments.value("durations")) {
        const auto read = simulator::parseDurations(*text);
        if (!read.durations) {
            console.error("--durations: " + read.error);
            return exit_code::Usage;
        }
        durations = *read.durations;
    }
    simulator::FaultPlan faults;
    if (const auto text = arguments.value("faults")) {
        const auto read = simulator::parseFaultPlan(*text);
        if (!read.plan) {
            console.error("--faults: " + read.error);
            return exit_code::Usage;
        }
        faults = *read.plan;
    }

    host::selectClock(false);
    simulator::MachineSimulator machine(durations, faults);
    machine.setRecording(false);
    simulator::MachineServer server(machine);
    if (!server.listen(endpoint, error)) {
        console.error(error);
        return exit_code::Environment;
    }
    server.setLog([&console](const std::string& message) { console.line(message); });
    if (arguments.has("trace")) {
        server.setObserver([&console](bool fromHost, const Bytes& bytes) {
            console.line(std::string(fromHost ? "<- " : "-> ") + simulator::hexBytes(bytes) + "  " +
                         (fromHost ? simulator::describeRequest(bytes) : simulator::describeReply(bytes)));
        });
    }
    if (faults.writeChunk() != 0) console.line("note: wchunk has no effect over TCP");
    console.line("machine listening on " + endpoint.host + ":" + std::to_string(server.port()) + " (" +
                 durationsText(durations) + (faults.empty() ? "" : "; faults " + std::to_string(faults.faults.size())) +
                 "); Ctrl-C ends it");

    host::catchInterrupt();
    server.start();
    const simulator::MachineSimulator* watched = &machine;
    std::size_t shown = 0;
    auto counts = [&] {
        const auto status = machine.status();
        return std::to_string(machine.personalisedCards().size()) + " personalised, " +
               std::to_string(status.cardsDelivered) + " delivered, " + std::to_string(status.cardsRejected) +
               " rejected, " + std::to_string(machine.firedFaults().size()) + " faults committed, " +
               std::to_string(server.connectionsServed()) + " connection(s)";
    };
    while (!host::interrupted()) {
        host::setLastWords("machine stopped: " + counts(), console.outputLost());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (arguments.has("quiet")) continue;
        const auto log = watched->personalisedCards();
        for (; shown < log.size(); ++shown) {
            const auto& card = log[shown];
            std::string line = "card " + std::to_string(card.position) + " personalised: " +
                               shownText(card.personalisationText);
            if (card.completionCode != '0') line += std::string(" (spoiled, '") + static_cast<char>(card.completionCode) + "')";
            console.line(line);
        }
    }
    server.stop();
    console.line("machine stopped: " + counts());
    host::clearLastWords();
    return exit_code::Success;
}

}  // namespace kestrova::tool
