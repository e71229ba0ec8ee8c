#include "tool/help_texts.h"

#include "production/configuration.h"
#include "simulator/fault_plan.h"
#include "simulator/machine_durations.h"
#include "tool/card_selection.h"

#include <initializer_list>

namespace kestrova::tool {

namespace {

// One line per exit status; each command lists exactly the ones it can return.
struct ExitMeaning {
    int code;
    const char* meaning;
};

// Help fits an 80-column terminal: a meaning wraps at its words, the lines
// after its first indented under it.
constexpr std::size_t kHelpWidth = 80;
constexpr std::size_t kMeaningIndent = 7;

std::string exitStatusText(std::initializer_list<ExitMeaning> meanings) {
    std::string out = "Exit status:\n";
    for (const ExitMeaning& m : meanings) {
        const std::string code = std::to_string(m.code);
        std::string line = "  " + code + std::string(kMeaningIndent - 2 - code.size(), ' ');
        const std::string meaning = m.meaning;
        std::size_t at = 0;
        bool first = true;
        while (at < meaning.size()) {
            std::size_t end = meaning.find(' ', at);
            if (end == std::string::npos) end = meaning.size();
            const std::string word = meaning.substr(at, end - at);
            if (!first && line.size() + 1 + word.size() > kHelpWidth) {
                out += line + "\n";
                line = std::string(kMeaningIndent, ' ') + word;
            } else {
                line += (first ? "" : " ") + word;
            }
            first = false;
            at = end + 1;
        }
        out += line + "\n";
    }
    return out;
}

const ExitMeaning kUsage{2, "bad command line"};
const ExitMeaning kNotElevated{5, "not elevated (run from a command prompt opened as administrator)"};
const ExitMeaning kWrongBitness{6, "wrong bitness: the DLL, or this kestrova.exe, does not match the spooler"};
const ExitMeaning kJobDeleted{12, "print: the job was deleted by someone else (a control request received "
                                  "with --control, or not known) before every card was delivered"};
const ExitMeaning kDriverUnknown{10, "no printer driver of that name (the message lists the drivers there are)"};
const ExitMeaning kWindowsOnly{11, "not Windows: only kestrova.exe installs"};

std::string toolExitCodes() {
    return exitStatusText({
        {0, "success"},
        {1, "the job or request ran but failed; check found problems; print refused a job that cannot be "
            "produced or gave up on a card (--max-restores); a spooler call failed (install, uninstall); status: a "
            "machine is halted or unreachable"},
        kUsage,
        {3, "a file cannot be read (or a preview written)"},
        {4, "the module cannot be loaded, or the machine or control address cannot be reached"},
        {5, "not elevated (run from a command prompt opened as administrator): install, uninstall, control "
            "--printer"},
        kWrongBitness,
        {7, "install: the DLL is missing or is not a KestrovaLM.dll for this spooler"},
        {8, "install: the monitor is installed already and there is nothing to add"},
        {9, "still in use: a driver still uses the monitor (uninstall --driver has given that driver back its "
            "language monitor all the same), or the spooler holds the DLL"},
        kDriverUnknown,
        kWindowsOnly,
        kJobDeleted,
        {13, "control --printer: the spooler has no printer of that name"},
        {14, "control --printer: that printer does not use KestrovaLM"},
        {130, "print: interrupted (Ctrl-C, SIGTERM, a closed output); the job was deleted. check: its output was "
              "closed. machine: a second Ctrl-C or SIGTERM ended it at once"},
    });
}

std::string printExitCodes() {
    return exitStatusText({
        {0, "every card produced: the machine delivered them (as its card log, or over TCP the link, shows)"},
        {1, "the job failed; or it cannot be produced (refused before anything was sent, as check explains it); "
            "or a card halted again after --max-restores restores (the job was deleted)"},
        kUsage,
        {3, "the job or the --config file cannot be read"},
        {4, "the module cannot be loaded, or the machine or control address cannot be reached"},
        {12, "the job was deleted by someone else before every card was delivered: by a delete_job received with "
             "--control (the last line says so), or by someone the tool does not know of"},
        {130, "interrupted (Ctrl-C, SIGTERM, SIGHUP, a closed output); the job was deleted (a second signal: "
              "the tool ended at once, the job not necessarily deleted)"},
    });
}

std::string controlExitCodes() {
    return exitStatusText({
        {0, "the request was answered with TRUE"},
        {1, "GetPrinterDataFromPort returned FALSE, or the document's command is none the module knows (it "
            "answers TRUE all the same, having carried nothing out)"},
        kUsage,
        {3, "the --file document cannot be read"},
        {4, "the module cannot be loaded, or the machine or the --to address cannot be reached; --printer: the "
            "spooler call failed"},
        kNotElevated,
        {13, "--printer: the spooler has no printer of that name"},
        {14, "--printer: that printer does not use KestrovaLM (its driver names another language monitor)"},
    });
}

std::string statusExitCodes() {
    return exitStatusText({
        {0, "every machine answered and none is halted (--watch: stopped by Ctrl-C)"},
        {1, "a machine is halted or cannot be reached (the text says which, and the command that clears it)"},
        kUsage,
        {4, "the list of printers cannot be had from the spooler"},
        {130, "its output was closed (| head)"},
    });
}

std::string consoleExitCodes() {
    return exitStatusText({
        {0, "stopped by Ctrl-C or SIGTERM"},
        kUsage,
        {4, "the address cannot be listened on, the module cannot be loaded (--demo), or the list of printers "
            "cannot be had"},
    });
}

std::string machineExitCodes() {
    return exitStatusText({
        {0, "stopped by Ctrl-C or SIGTERM"},
        kUsage,
        {4, "the address cannot be listened on"},
        {130, "a second Ctrl-C or SIGTERM ended it at once, its last line still counting the cards"},
    });
}

std::string checkExitCodes() {
    return exitStatusText({
        {0, "no problems found"},
        {1, "problems found: in a card, in the configuration, or no cards at all"},
        kUsage,
        {3, "the job or the --config file cannot be read, or the preview cannot be written"},
        {130, "the output was closed before the listing ended (| head): check stopped there"},
    });
}

std::string installExitCodes() {
    return exitStatusText({
        {0, "installed, or the driver added to an installed monitor"},
        {1, "a spooler call failed (the message says which; what was done is undone)"},
        kUsage,
        kNotElevated,
        kWrongBitness,
        {7, "the DLL is missing, a folder, or not a Windows DLL exporting InitializePrintMonitor2 (checked first, "
            "also when the monitor is installed already)"},
        {8, "the monitor is installed already (and the driver, if named, uses it already)"},
        {9, "the spooler holds the installed KestrovaLM.dll: restart the spooler first"},
        kDriverUnknown,
        kWindowsOnly,
    });
}

std::string uninstallExitCodes() {
    return exitStatusText({
        {0, "uninstalled, or nothing to remove"},
        {1, "a spooler call failed (the message says which)"},
        kUsage,
        kNotElevated,
        {6, "wrong bitness: this kestrova.exe does not match the spooler (run the x64 one on 64-bit Windows)"},
        {9, "still in use: another driver still uses the monitor (the message names them), so it stays "
            "registered; with --driver, that driver has been given back its language monitor all the same"},
        kDriverUnknown,
        kWindowsOnly,
    });
}

}  // namespace

std::string toolHelp() {
    return std::string(
               "kestrova - the KestrovaLM card printing monitor, run outside the spooler\n"
               "\n"
               "Usage: kestrova COMMAND [ARGS]   (kestrova COMMAND --help for each)\n"
               "\n"
               "  print JOBFILE     print a job through the real module against a machine\n"
               "  control COMMAND   send one kx_api control request (delete_job, restore,\n"
               "                    pause, continue, step, get_info)\n"
               "  status            every KestrovaLM machine at a glance: its job, what is\n"
               "                    wrong in words and the command that clears it\n"
               "  console           the same as a web page on loopback, with buttons\n"
               "  machine           run the simulated card machine as a TCP server\n"
               "  check JOBFILE     list the cards of a job as the machine would receive them\n"
               "                    and explain the configuration file\n"
               "  install           put KestrovaLM.dll into the Windows spooler (kestrova.exe)\n"
               "  uninstall         take it out again (kestrova.exe)\n"
               "  help              this text;  --version  the tool's version\n"
               "\n") +
           toolExitCodes();
}

std::string printHelp() {
    return std::string(
               "Usage: kestrova print JOBFILE [OPTIONS]\n"
               "\n"
               "Loads the module (libKestrovaLM.so, KestrovaLM.dll on Windows) through its one\n"
               "export and plays the spooler: opens a port, StartDocPort, WritePort in\n"
               "spooler-sized chunks and EndDocPort, which produces the cards. Meanwhile it asks\n"
               "the module for get_info through GetPrinterDataFromPort and shows the progress\n"
               "(cards done / total, machine state, hardware error), then a summary. A card\n"
               "counts as produced once the machine has delivered it: as the simulator's card\n"
               "log says, or for a machine over TCP as its replies on the link reported it.\n"
               "\n"
               "  --machine sim|tcp:HOST:PORT  the machine: the simulator in this process\n"
               "                         (default), or one served by kestrova machine\n"
               "  --fast                 virtual clock: the module's pauses and the machine's\n"
               "                         durations pass at once (on Windows: an instant machine)\n"
               "  --durations DURATIONS  the simulated machine's pace (default typical)\n"
               "  --faults FAULTS        faults the simulated machine commits (sim only)\n"
               "  --restore-after MS     after a halt on a machine error, send \"restore\" once\n"
               "                         the halt has lasted MS ms (default: never)\n"
               "  --max-restores N       with --restore-after: when a card halts again after N\n"
               "                         restores, give up: delete the job, exit 1 (default 3)\n"
               "  --control HOST:PORT    accept control documents on this loopback address\n"
               "                         (kestrova control --to HOST:PORT restore); a delete_job\n"
               "                         received there ends the run with exit status 12\n"
               "  --allow-remote         let --control listen on an address other than loopback\n"
               "                         (127.x.y.z, localhost), with a warning: whoever\n"
               "                         reaches it can delete the job\n"
               "  --config FILE          the configuration file the module reads at document\n"
               "                         start (default: " + std::string(kConfigurationPath) + "\n"
               "                         under the current directory, as the module does)\n"
               "  --trace                every frame in hex with its meaning, -> to the machine,\n"
               "                         <- from it; job, ctl and ext mark production, our own\n"
               "                         requests and those from --control\n"
               "  --progress-every MS    real ms between get_info requests (default 500, 20 with\n"
               "                         --fast; 0: none, no automatic restore, and the\n"
               "                         virtual clock runs free)\n"
               "  --chunk BYTES          bytes per WritePort (default 4096)\n"
               "  --module PATH          the module to load\n"
               "  --quiet                no progress, only the summary\n"
               "\n"
               "Times, the summary's and --restore-after's, are on one clock: the virtual clock\n"
               "with --fast, else the real one; the summary says which. On the virtual clock a\n"
               "halted job waits for the tool to look, so a restore after MS ms comes after MS\n"
               "ms of virtual time (at least 100 ms, one cycle of the loop), and a halt that\n"
               "waits for a restore from elsewhere (--control) passes at the real clock's pace.\n"
               "On the virtual clock output that is no terminal gets no progress lines (the job\n"
               "outruns any look at it): the cards, halts and restores, the same on every run.\n"
               "\n"
               "A job that cannot be produced (no cards, or a card whose layout has no items)\n"
               "is refused before anything is sent, with kestrova check's explanation.\n"
               "\n"
               "Ctrl-C, SIGTERM, SIGHUP or a closed output (| head) sends delete_job: the job\n"
               "ends with the cards done so far, and the last line counts them and says where\n"
               "the card in the machine is. A second Ctrl-C ends the tool at once, with that\n"
               "line as it stands (\"interrupted by Ctrl-C, then by Ctrl-C: the tool ended at\n"
               "once; ...\").\n"
               "\n") +
           simulator::durationsGrammarText() + "\n" + simulator::faultGrammarText() + "\n" + printExitCodes();
}

std::string controlHelp() {
    return std::string(
               "Usage: kestrova control COMMAND [--printer NAME | --to HOST:PORT |\n"
               "                                 --machine sim|tcp:HOST:PORT]\n"
               "       kestrova control --file DOCUMENT [...]\n"
               "\n"
               "Sends one kx_api request and prints the result document. COMMAND is\n"
               "delete_job, restore, pause, continue, step or get_info.\n"
               "\n"
               "  --printer NAME        through this spooler to the printer NAME, whose\n"
               "                        driver names KestrovaLM (kestrova.exe): OpenPrinterW,\n"
               "                        then GetPrinterDataW, which the spooler hands to the\n"
               "                        monitor; all but get_info open the printer for\n"
               "                        administering it (an elevated prompt)\n"
               "  --to HOST:PORT        to a running kestrova print --control HOST:PORT, which\n"
               "                        hands it to its module's GetPrinterDataFromPort\n"
               "  --machine ...         otherwise: load the module here, open a port to this\n"
               "                        machine (default sim, a fresh simulator) and ask it\n"
               "                        with no job running\n"
               "  --file DOCUMENT       send this document (UTF-8) as it is instead\n"
               "  --module PATH         the module to load (without --to)\n"
               "\n") +
           controlExitCodes();
}

std::string machineHelp() {
    return std::string(
               "Usage: kestrova machine --listen HOST:PORT [OPTIONS]\n"
               "\n"
               "Runs the simulated card machine as a server on a loopback address, for\n"
               "kestrova print --machine tcp:HOST:PORT. Runs until Ctrl-C and then lists\n"
               "what it produced. The machine keeps its state across connections.\n"
               "\n"
               "  --listen HOST:PORT     the address, loopback (127.x.y.z, localhost; port 0:\n"
               "                         any free port, which is shown)\n"
               "  --allow-remote         let --listen take another address, with a warning:\n"
               "                         whoever reaches it drives the machine\n"
               "  --durations DURATIONS  the machine's pace (default typical)\n"
               "  --faults FAULTS        faults the machine commits\n"
               "  --trace                every frame received and sent\n"
               "  --quiet                no line per card\n"
               "\n") +
           simulator::durationsGrammarText() + "\n" + simulator::faultGrammarText() + "\n" + machineExitCodes();
}

std::string checkHelp() {
    return std::string(
               "Usage: kestrova check JOBFILE [--config FILE] [--preview DIR [--cards RANGE]]\n"
               "\n"
               "Parses the job as the module does, without a machine, and lists each layout\n"
               "and every card as the machine would receive it: the coordinates after the\n"
               "configuration's rules and the exact JobSetup and Personalize payloads (bytes\n"
               "outside printable ASCII as \\xNN). Explains configuration problems precisely:\n"
               "which element or rule, and why, where the module only reports\n"
               "\"KestrovaLM.cfg not found\".\n"
               "\n"
               "Finds what would spoil a card: an item whose text reaches outside the card,\n"
               "items whose texts overlap, fewer lines than items (items left blank) or more\n"
               "(lines not printed), an empty card, a value the payload cannot carry. A\n"
               "character of size CI is taken as CI x 10 job units tall and CI x 6 wide, its\n"
               "item's X/Y the top-left corner of the text.\n"
               "\n"
               "  --config FILE   the configuration file (default: the one the module would\n"
               "                  read, " + std::string(kConfigurationPath) + " under the\n"
               "                  current directory)\n"
               "  --preview DIR   draw the cards: one SVG per card (card-N.svg) and an\n"
               "                  index.html with every card as a thumbnail beside its\n"
               "                  problems; DIR is made when missing, earlier card-N.svg in\n"
               "                  it are removed\n"
               "  --cards RANGE   the cards to draw: N, N-M or a list of them (1-20,75);\n"
               "                  default the first " + std::to_string(kDefaultCardsDrawn) + "\n"
               "\n") +
           checkExitCodes();
}

std::string installHelp() {
    return std::string(
               "Usage: kestrova install [--driver NAME] [--dll PATH]\n"
               "       (kestrova.exe, from a command prompt opened as administrator)\n"
               "\n"
               "Puts the monitor into this computer's print spooler, one reported step at a\n"
               "time: checks that it runs elevated and that the DLL matches the spooler's\n"
               "bitness, copies KestrovaLM.dll into the system directory, registers the\n"
               "monitor (AddMonitorW: name KestrovaLM, the spooler's environment,\n"
               "KestrovaLM.dll) and, with --driver, makes it the language monitor of that\n"
               "printer driver, remembering the driver's language monitor before it (uninstall\n"
               "--driver puts that one back). With the monitor installed already, --driver\n"
               "adds that driver alone. Nothing is changed before every check has passed, and\n"
               "a step that fails undoes the ones before it; the DLL is checked first, whether\n"
               "or not the monitor is installed already. Restart the spooler afterwards.\n"
               "To upgrade: kestrova uninstall, restart the spooler, kestrova install.\n"
               "\n"
               "  --driver NAME   the printer driver whose printers use the monitor\n"
               "  --dll PATH      the DLL to install (default: KestrovaLM.dll beside\n"
               "                  kestrova.exe; the x64 one on 64-bit Windows); it must be\n"
               "                  a DLL for the spooler's processor exporting\n"
               "                  InitializePrintMonitor2\n"
               "\n") +
           installExitCodes();
}

std::string uninstallHelp() {
    return std::string(
               "Usage: kestrova uninstall [--driver NAME]   (kestrova.exe, as administrator)\n"
               "\n"
               "Undoes kestrova install, one reported step at a time: with --driver, that\n"
               "printer driver gets back the language monitor it had before kestrova\n"
               "install (or none); then the monitor is unregistered (DeleteMonitorW) unless a\n"
               "driver still uses it, and KestrovaLM.dll is deleted from the system directory\n"
               "(if the spooler still holds it, it is renamed and deleted at the next restart\n"
               "of Windows, so that a new install is not deleted with it). Without an\n"
               "installed monitor there is nothing to do, and that is no error.\n"
               "\n"
               "While another driver still uses the monitor, uninstall --driver NAME gives NAME\n"
               "back its language monitor all the same (a change it reports) and then stops\n"
               "with exit status 9, the monitor still registered for the other driver.\n"
               "\n"
               "  --driver NAME   the printer driver to take the monitor from first\n"
               "\n") +
           uninstallExitCodes();
}

std::string statusHelp() {
    return std::string(
               "Usage: kestrova status [--to [NAME=]HOST:PORT,...] [--watch [--every MS]]\n"
               "                       [--json]\n"
               "\n"
               "Asks every KestrovaLM machine for get_info and shows, for each, what it is\n"
               "doing (producing, idle, halted, unreachable), its job and the cards still to\n"
               "produce, the machine's state and error codes, its module information, and,\n"
               "when something is wrong, the problem in words and the next step with the\n"
               "kestrova control command that clears it. A halt waits for that command.\n"
               "\n"
               "  --to [NAME=]HOST:PORT,...  the --control addresses of running kestrova\n"
               "                        print runs, each shown as NAME if given; otherwise\n"
               "                        (kestrova.exe) every printer of this spooler whose\n"
               "                        driver names KestrovaLM\n"
               "  --watch               look again every --every MS (default 1000), in place\n"
               "                        on a terminal; with a bar of the cards done since the\n"
               "                        job was first seen; Ctrl-C ends it\n"
               "  --json                the same as JSON, for scripts\n"
               "\n"
               "Each look sends get_info, which polls the machine: between two production\n"
               "steps of a running job, as every control request does.\n"
               "\n") +
           statusExitCodes();
}

std::string consoleHelp() {
    return std::string(
               "Usage: kestrova console [--listen 127.0.0.1:PORT] [--to [NAME=]HOST:PORT,...]\n"
               "       kestrova console --demo N [--listen 127.0.0.1:PORT]\n"
               "\n"
               "Serves kestrova status as a web page on a loopback address: a tile per\n"
               "machine coloured by what it is doing (producing, idle, halted, unreachable),\n"
               "its job's progress, the problem in words, and buttons for restore, pause,\n"
               "continue, step and delete_job (which asks first and names the job). The page\n"
               "looks again every second. Open the address it prints in a browser.\n"
               "\n"
               "  --listen HOST:PORT    where to serve (default 127.0.0.1:9480; port 0: any\n"
               "                        free port); loopback addresses only\n"
               "  --to [NAME=]HOST:PORT,...  the machines, as kestrova status takes them;\n"
               "                        otherwise (kestrova.exe) every printer of this\n"
               "                        spooler whose driver names KestrovaLM\n"
               "  --demo N              print sample jobs on N simulated machines (1 to 8)\n"
               "                        through the real module in this process, one of them\n"
               "                        halting now and then, to see the console work\n"
               "  --module PATH         the module --demo loads\n"
               "\n"
               "Only the page the console served can act: each action carries the token of\n"
               "that page, and a request whose Host is not the address served is refused, so\n"
               "no other web page and no other machine can send delete_job.\n"
               "\n") +
           consoleExitCodes();
}

}  // namespace kestrova::tool
