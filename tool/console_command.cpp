// kestrova console: kestrova status as a web page on loopback, with the
// actions that clear a halt; --demo brings its own machines.
#include "tool/arguments.h"
#include "tool/command_start.h"
#include "tool/console.h"
#include "tool/console_site.h"
#include "tool/demo_machines.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/host_console.h"
#include "tool/listen_address.h"
#include "tool/machine_directory.h"
#include "tool/tool_commands.h"
#include "tool/web_console.h"

#include <chrono>
#include <thread>

namespace kestrova::tool {

std::unique_ptr<MachineDirectory> chooseDirectory(const Arguments& arguments, Console& console, int& failure);

namespace {

const std::vector<OptionRule> kOptions = {{"help", false}, {"listen", true}, {"to", true}, {"demo", true},
                                          {"module", true}};

constexpr const char* kDefaultListen = "127.0.0.1:9480";

}  // namespace

int runConsole(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, false);
    const CommandStart start = startCommand(words, kOptions, "console", consoleHelp(), console, output.out);
    if (!start.arguments) return start.exitCode;
    const Arguments& arguments = *start.arguments;
    if (!arguments.positionals.empty()) {
        console.error("console takes no words besides its options: '" + arguments.positionals[0] + "'");
        return exit_code::Usage;
    }
    std::string error;
    simulator::net::Endpoint listen;
    if (!simulator::net::parseEndpoint(arguments.value("listen").value_or(kDefaultListen), listen, error)) {
        console.error("--listen: " + error);
        return exit_code::Usage;
    }
    std::string warning;
    if (!checkListenAddress("--listen", listen.host, false, "send delete_job to every machine", error, warning)) {
        console.error(error);
        return exit_code::Usage;
    }
    std::size_t demoCount = 0;
    if (const auto demo = arguments.value("demo")) {
        if (demo->size() != 1 || (*demo)[0] < '1' || (*demo)[0] > '0' + static_cast<int>(DemoMachines::kMost)) {
            console.error("--demo: '" + *demo + "' is no number of machines from 1 to " +
                          std::to_string(DemoMachines::kMost));
            return exit_code::Usage;
        }
        demoCount = static_cast<std::size_t>((*demo)[0] - '0');
        if (arguments.has("to")) {
            console.error("--demo brings its own machines; --to names others");
            return exit_code::Usage;
        }
    } else if (arguments.has("module")) {
        console.error("--module is the module --demo loads; give --demo N too");
        return exit_code::Usage;
    }

    if (!simulator::net::startNetworking(error)) {
        console.error(error);
        return exit_code::Environment;
    }
    LoadedModule module;
    DemoMachines demo(module);
    std::unique_ptr<MachineDirectory> chosen;
    MachineDirectory* directory = nullptr;
    if (demoCount > 0) {
        host::selectClock(false);
        if (!loadModule(module, arguments.value("module").value_or(""), error)) {
            console.error(error);
            return exit_code::Environment;
        }
        if (!demo.start(demoCount, error)) {
            console.error(error);
            return exit_code::Environment;
        }
        directory = &demo.directory();
    } else {
        int failure = exit_code::Success;
        chosen = chooseDirectory(arguments, console, failure);
        if (!chosen) return failure;
        directory = chosen.get();
    }

    // The site's Host check needs the port, known once bound (port 0 picks one).
    ConsoleSite site(*directory, newConsoleToken(), {});
    WebConsole server(site);
    if (!server.listen(listen.host, listen.port, error)) {
        console.error("--listen: " + error);
        return exit_code::Environment;
    }
    const std::string port = std::to_string(server.port());
    std::vector<std::string> hosts{listen.host + ":" + port};
    if (listen.host == "127.0.0.1") hosts.push_back("localhost:" + port);
    if (listen.host == "localhost") hosts.push_back("127.0.0.1:" + port);
    site.allowHosts(hosts);

    host::catchInterrupt();
    server.start();
    console.line("console: http://" + hosts.front() + "/ (Ctrl-C ends it)");
    if (demoCount > 0) {
        console.line("demo: " + std::to_string(demoCount) + " simulated machine" + (demoCount == 1 ? "" : "s") +
                     " printing sample jobs through " + module.path() + "; " +
                     (demoCount > 1 ? "Demo card printer 2" : "Demo card printer 1") +
                     " refuses every 4th Load and halts until restored");
    }
    output.out.flush();
    while (!host::interrupted()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    console.line("console: stopping (" + host::interruptName() + ")" +
                 (demoCount > 0 ? "; the demo's jobs are deleted" : ""));
    server.stop();
    demo.stop();
    return exit_code::Success;
}

}  // namespace kestrova::tool
