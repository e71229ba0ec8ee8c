#include "tool/console.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/tool_commands.h"

namespace kestrova::tool {

int runTool(const std::vector<std::string>& words, ToolOutput output) {
    if (words.empty()) {
        output.err << toolHelp();
        return exit_code::Usage;
    }
    const std::string& command = words[0];
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (command == "help" || command == "--help" || command == "-h") {
        output.out << toolHelp();
        return exit_code::Success;
    }
    if (command == "--version" || command == "version") {
        output.out << "kestrova " << KESTROVA_VERSION << '\n';
        return exit_code::Success;
    }
    if (command == "print") return runPrint(rest, output);
    if (command == "control") return runControl(rest, output);
    if (command == "machine") return runMachine(rest, output);
    if (command == "check") return runCheck(rest, output);
    if (command == "install") return runInstall(rest, output);
    if (command == "uninstall") return runUninstall(rest, output);
    if (command == "status") return runStatus(rest, output);
    if (command == "console") return runConsole(rest, output);
    output.err << "kestrova: unknown command '" << command
               << "' (print, control, status, console, machine, check, install, uninstall, help)\n";
    return exit_code::Usage;
}

}  // namespace kestrova::tool
