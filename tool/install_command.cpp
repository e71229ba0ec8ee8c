// kestrova install / uninstall: the monitor into the local Windows spooler
// and out again (spooler_install.h). Only kestrova.exe does it; elsewhere
// the commands say so.
#include "tool/arguments.h"
#include "tool/command_start.h"
#include "tool/console.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/spooler_install.h"
#include "tool/tool_commands.h"

namespace kestrova::tool {

namespace {

const std::vector<OptionRule> kInstallOptions = {{"help", false}, {"driver", true}, {"dll", true}};
const std::vector<OptionRule> kUninstallOptions = {{"help", false}, {"driver", true}};

// The request, or the exit status when there is nothing to run.
int parse(const std::vector<std::string>& words, const std::vector<OptionRule>& options, const std::string& command,
          const std::string& help, ToolOutput& output, Console& console, InstallRequest& request) {
    const CommandStart start = startCommand(words, options, command, help, console, output.out);
    if (!start.arguments) return start.exitCode;
    const Arguments& arguments = *start.arguments;
    if (!arguments.positionals.empty()) {
        console.error(command + " takes no words but its options: '" + arguments.positionals[0] + "'");
        return exit_code::Usage;
    }
    request.driver = arguments.value("driver").value_or("");
    request.dll = arguments.value("dll").value_or("");
    if (arguments.has("driver") && request.driver.empty()) {
        console.error("--driver needs the printer driver's name");
        return exit_code::Usage;
    }
    if (!spoolerInstallAvailable()) {
        console.error(command + " is a Windows command: kestrova.exe registers KestrovaLM.dll with the Windows "
                                "print spooler (docs/windows.md)");
        return exit_code::WindowsOnly;
    }
    return -1;
}

}  // namespace

int runInstall(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, false);
    InstallRequest request;
    const int status = parse(words, kInstallOptions, "install", installHelp(), output, console, request);
    return status >= 0 ? status : installMonitor(request, console);
}

int runUninstall(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, false);
    InstallRequest request;
    const int status = parse(words, kUninstallOptions, "uninstall", uninstallHelp(), output, console, request);
    return status >= 0 ? status : uninstallMonitor(request, console);
}

}  // namespace kestrova::tool
