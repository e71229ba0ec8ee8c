// kestrova control: one kx_api request, either to a running kestrova print
// (--to) or straight to the module loaded here with no job running.
#include "tool/arguments.h"
#include "tool/command_start.h"
#include "tool/console.h"
#include "tool/control_channel.h"
#include "tool/control_document.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/host_console.h"
#include "tool/job_file.h"
#include "tool/machine_setup.h"
#include "tool/module_loader.h"
#include "tool/spooler_printers.h"
#include "tool/spooler_host.h"
#include "tool/text_encoding.h"
#include "tool/tool_commands.h"

namespace kestrova::tool {

namespace {

const std::vector<OptionRule> kOptions = {{"help", false}, {"to", true},     {"printer", true},
                                          {"machine", true}, {"file", true}, {"module", true}};

void printDocument(ToolOutput& output, const std::string& document) {
    output.out << document;
    if (!document.empty() && document.back() != '\n') output.out << '\n';
}

// The module answers a command it does not know as it answers any request,
// TRUE and sw_error_code 0, having carried nothing out; a script must hear
// it. False then, with the reason said.
bool knownCommand(const std::string& document, Console& console) {
    const auto command = requestedCommand(document);
    if (!command || isControlCommand(*command)) return true;
    console.error("the module does not know the command '" + *command +
                  "' (it knows delete_job, restore, pause, continue, step and get_info): it answered as it answers "
                  "every request, and carried nothing out");
    return false;
}

}  // namespace

int runControl(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, false);
    const CommandStart start = startCommand(words, kOptions, "control", controlHelp(), console, output.out);
    if (!start.arguments) return start.exitCode;
    const Arguments& arguments = *start.arguments;

    std::string document;
    std::string error;
    if (const auto file = arguments.value("file")) {
        if (!arguments.positionals.empty()) {
            console.error("give either a COMMAND or --file, not both");
            return exit_code::Usage;
        }
        if (!readWholeFile(*file, document, error)) {
            console.error(error);
            return exit_code::BadInput;
        }
    } else {
        if (arguments.positionals.size() != 1) {
            console.error("control needs one COMMAND: delete_job, restore, pause, continue, step or get_info");
            return exit_code::Usage;
        }
        const std::string& command = arguments.positionals[0];
        if (!isControlCommand(command)) {
            console.error("unknown command '" + command +
                          "' (delete_job, restore, pause, continue, step, get_info; --file sends any document)");
            return exit_code::Usage;
        }
        document = controlRequestText(command);
    }
    if (arguments.has("printer") && (arguments.has("to") || arguments.has("machine") || arguments.has("module"))) {
        console.error("--printer sends the request through the spooler; --to, --machine and --module are other ways");
        return exit_code::Usage;
    }
    if (const auto printer = arguments.value("printer")) {
        const auto command = requestedCommand(document);
        ControlReply reply;
        switch (askPrinter(*printer, document, !command || *command != "get_info", reply, error)) {
            case PrinterAnswer::Answered: break;
            case PrinterAnswer::NoSuchPrinter: console.error(error); return exit_code::NoSuchPrinter;
            case PrinterAnswer::NotKestrova: console.error(error); return exit_code::NotKestrovaPrinter;
            case PrinterAnswer::AccessDenied: console.error(error); return exit_code::NotElevated;
            case PrinterAnswer::Failed: console.error(error); return exit_code::Environment;
        }
        printDocument(output, reply.document);
        if (!reply.ok) {
            console.error("GetPrinterDataW returned error " + std::to_string(reply.lastError));
            return exit_code::Failed;
        }
        return knownCommand(document, console) ? exit_code::Success : exit_code::Failed;
    }
    if (arguments.has("to") && (arguments.has("machine") || arguments.has("module"))) {
        console.error("--to sends the request to a running kestrova print; --machine and --module are its business");
        return exit_code::Usage;
    }

    if (const auto to = arguments.value("to")) {
        simulator::net::Endpoint endpoint;
        if (!simulator::net::parseEndpoint(*to, endpoint, error)) {
            console.error("--to: " + error);
            return exit_code::Usage;
        }
        ControlReply reply;
        if (!sendControlDocument(endpoint, document, reply, error)) {
            console.error(error);
            return exit_code::Environment;
        }
        printDocument(output, reply.document);
        if (!reply.ok) {
            console.error("GetPrinterDataFromPort returned FALSE, last error " + std::to_string(reply.lastError));
            return exit_code::Failed;
        }
        return knownCommand(document, console) ? exit_code::Success : exit_code::Failed;
    }

    MachineChoice choice;
    if (!parseMachineChoice(arguments.value("machine").value_or("sim"), choice, error)) {
        console.error(error);
        return exit_code::Usage;
    }
    host::selectClock(false);
    MachineSetup machine(choice, simulator::MachineDurations::typical(), {}, nullptr);
    LoadedModule module;
    if (!loadModule(module, arguments.value("module").value_or(""), error)) {
        console.error(error);
        return exit_code::Environment;
    }
    SpoolerHost spooler(module);
    if (!machine.openPort(spooler, error)) {
        console.error(error);
        return exit_code::Environment;
    }
    const std::size_t passedBefore = machine.ports().countOf(standin::PortEntry::GetPrinterDataFromPort);
    const ControlAnswer answer = spooler.control(utf16FromUtf8(document));
    if (machine.ports().countOf(standin::PortEntry::GetPrinterDataFromPort) != passedBefore) {
        // Not the module's: it handed the call on unchanged, and this is the port monitor's answer.
        const std::string text = utf8FromUtf16(answer.text);
        console.line("not a kx_api request (not well-formed XML, no kx_api root or no command value; see "
                     "docs/security.md): the module passed it to the port monitor beneath, which returned " +
                     std::string(answer.result == TRUE ? "TRUE" : "FALSE, last error " + std::to_string(answer.lastError)) +
                     (text.empty() ? " and no text" : " and " + std::to_string(text.size()) + " bytes of text:"));
    }
    printDocument(output, utf8FromUtf16(answer.text));
    if (answer.result != TRUE) {
        console.error("GetPrinterDataFromPort returned FALSE, last error " + std::to_string(answer.lastError));
        return exit_code::Failed;
    }
    return knownCommand(document, console) ? exit_code::Success : exit_code::Failed;
}

}  // namespace kestrova::tool
