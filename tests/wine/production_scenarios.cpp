#include "tests/wine/production_scenarios.h"

#include "platform/platform_calls.h"
#include "standin/software_port_monitor.h"
#include "tests/wine/machine_peer.h"
#include "tests/wine/module_host.h"
#include "tests/wine/port_requests.h"
#include "tests/wine/spooler_call_text.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace kestrova::wine_check {

namespace {

using standin::PortEntry;
using standin::SoftwarePortMonitor;

const char* const kConfigDirectory = "spool/drivers/W32X86/3";
const char* const kConfigFile = "spool/drivers/W32X86/3/KestrovaLM.cfg";
const char* const kConfig =
    "<KestrovaLM>\n"
    "  <replace-coordinates>\n"
    "    <horizontal><rule value=\"100\" replace_with=\"120\"/></horizontal>\n"
    "    <vertical><rule value=\"200\" replace_with=\"210\"/></vertical>\n"
    "  </replace-coordinates>\n"
    "</KestrovaLM>\n";

// Two items at x 100 / y 200 (replaced by the rules) and x 300 / y 250.
const char* const kThreeCardsTwoItems =
    "<SX856 SY540 X100 Y200 F1 CI5 X300 Y250 F2 CI3>\r\n"
    "<ANNA SMITH\r\n0001>\r\n<BEN JONES\r\n0002>\r\n<CARL WU\r\n0003>\r\n";
const char* const kTwoCards = "<SX856 SY540 X100 Y200 F1 CI5>\r\n<ANNA SMITH>\r\n<BEN JONES>\r\n";
const char* const kThreeCards = "<SX856 SY540 X100 Y200 F1 CI5>\r\n<ANNA SMITH>\r\n<BEN JONES>\r\n<CARL WU>\r\n";
const char* const kOneCard = "<SX856 SY540 X100 Y200 F1 CI5><CARLA DIAZ>";

const char* const kAnna = "A010002001050ANNA SMITH";
const char* const kBen = "A010002001050BEN JONES";
const char* const kCarla = "A010002001050CARLA DIAZ";

// What Wine's winspool says for a printer that does not exist, and a port
// monitor's failure.
constexpr DWORD kInvalidPrinterName = 1801;
constexpr DWORD kGenFailure = 31;
// The machine refuses Load with reject code 7: hwErrorCode 0x1500 + 7.
const char* const kHaltedOnLoad = "<hw_error_code value=\"5383\"/>";

struct Scenario {
    const char* name;
    const char* job;
    const char* faults;       // the machine's fault plan (the simulator's grammar)
    const char* failing;      // at the first StartDocPort "OpenPrinterW" or "StartDocPort" beneath;
                              // or "EndDocPort" beneath
    const char* whileHalted;  // sent from a second thread once the machine has refused a command;
                              // "second_port" prints kOneCard through a second port meanwhile
    std::vector<const char*> personalised;  // the Personalize payloads of the cards produced
    const char* spoolerCalls;  // spoolerCallSummary() of the record
    BOOL ended;               // what EndDocPort returns
    bool configured;          // with the configuration file: its rules replace coordinates
};

// Job ids are 10 plus the scenario's place; the second port's job is 50.
const Scenario kScenarios[] = {
    {"three_cards_configured", kThreeCardsTwoItems, "", "", "",
     {"A012002101050ANNA SMITH;0300025020300001", "A012002101050BEN JONES;0300025020300002",
      "A012002101050CARL WU;0300025020300003"},
     "OpenPrinterW, SetJobW 10/7, SetJobW 10/5, ClosePrinter", TRUE, true},
    {"halt_and_restore", kTwoCards, "nak:load:7@1", "", "get_info restore", {kAnna, kBen},
     "OpenPrinterW, SetJobW 11/7, SetJobW 11/5, ClosePrinter", TRUE, false},
    {"delete_job_mid_job", kThreeCards, "nak:load:7@2", "", "get_info delete_job", {kAnna},
     "OpenPrinterW, SetJobW 12/7, SetJobW 12/5, ClosePrinter", TRUE, false},
    {"pause_and_continue", kTwoCards, "nak:load:7@1", "", "pause get_info continue restore", {kAnna, kBen},
     "OpenPrinterW, SetJobW 13/7, SetJobW 13/5, ClosePrinter", TRUE, false},
    {"end_doc_fails_beneath", kOneCard, "", "EndDocPort", "", {kCarla}, "OpenPrinterW, ClosePrinter", FALSE, false},
    {"open_printer_fails", kOneCard, "", "OpenPrinterW", "", {kCarla},
     "OpenPrinterW failed, OpenPrinterW, SetJobW 15/7, SetJobW 15/5, ClosePrinter", TRUE, false},
    {"start_doc_fails_beneath", kOneCard, "", "StartDocPort", "", {kCarla},
     "OpenPrinterW, ClosePrinter, OpenPrinterW, SetJobW 16/7, SetJobW 16/5, ClosePrinter", TRUE, false},
    {"two_ports_at_once", kTwoCards, "nak:load:7@1", "", "second_port restore", {kAnna, kBen},
     "OpenPrinterW, OpenPrinterW, SetJobW 50/7, SetJobW 50/5, ClosePrinter, SetJobW 17/7, SetJobW 17/5, "
     "ClosePrinter",
     TRUE, false},
};

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

// One port over its own software port monitor and machine.
class ScenarioPort {
public:
    ScenarioPort(const MONITOR2& table, HANDLE monitor, const std::string& portName, const std::string& printerName)
        : table_(table), printerName_(wide(printerName)) {
        spm_.setPeer(&machine_.peer());
        WideString port = wide(portName);
        table_.pfnOpenPortEx(monitor, spm_.monitorHandle(), port.data(), printerName_.data(), &handle_,
                             spm_.table());
    }

    bool open() const { return handle_ != nullptr; }
    HANDLE handle() const { return handle_; }
    MachinePeer& machine() { return machine_; }
    SoftwarePortMonitor& beneath() { return spm_; }

    BOOL startDoc(DWORD jobId) {
        WideString docName = wide("card job");
        DOC_INFO_1 info{docName.data(), nullptr, nullptr};
        return table_.pfnStartDocPort(handle_, printerName_.data(), jobId, 1, reinterpret_cast<LPBYTE>(&info));
    }

    // StartDocPort, WritePort, EndDocPort; the result of EndDocPort.
    BOOL print(DWORD jobId, const std::string& job, Checks& checks, const std::string& what) {
        checks.equal(startDoc(jobId), TRUE, what + ": StartDocPort");
        checks.expect(writeJob(table_, handle_, job), what + ": WritePort takes every byte");
        return table_.pfnEndDocPort(handle_);
    }

    bool close() { return handle_ == nullptr || table_.pfnClosePort(handle_) == TRUE; }

private:
    const MONITOR2& table_;
    WideString printerName_;
    MachinePeer machine_;
    SoftwarePortMonitor spm_;
    HANDLE handle_ = nullptr;
};

std::vector<std::string> personalisations(const MachinePeer& machine) {
    std::vector<std::string> out;
    for (const CardTexts& card : machine.cards()) out.push_back(card.personalisation);
    return out;
}

// A clock per thread for one scenario; one for all again after it.
struct ClockPerThreadWhile {
    explicit ClockPerThreadWhile(bool needed) : needed_(needed) {
        if (needed_) useClockPerThread(true);
    }
    ~ClockPerThreadWhile() {
        if (needed_) useClockPerThread(false);
    }
    ClockPerThreadWhile(const ClockPerThreadWhile&) = delete;
    ClockPerThreadWhile& operator=(const ClockPerThreadWhile&) = delete;

private:
    bool needed_;
};

void runScenario(const Scenario& scenario, DWORD jobId, const MONITOR2& table, HANDLE monitor,
                 const std::string& outDir, Checks& checks) {
    const std::string name = scenario.name;
    const std::vector<std::string> steps = words(scenario.whileHalted);
    const bool twoPortsAtOnce = std::find(steps.begin(), steps.end(), "second_port") != steps.end();
    const ClockPerThreadWhile clockPerThread(twoPortsAtOnce);
    std::string why;
    if (!checks.expect(startSpoolerStandin(why), name + ": the spooler stand-in: " + why)) return;
    if (scenario.configured) {
        checks.expect(writeConfiguration(), name + ": the configuration file is written");
    } else {
        removeConfiguration();
    }
    ScenarioPort port(table, monitor, "KESTROVA1:", "Kestrova Card Printer");
    if (!checks.expect(port.open(), name + ": OpenPortEx")) return;
    checks.expect(port.machine().setFaults(scenario.faults), name + ": the fault plan");

    const std::string failing = scenario.failing;
    if (failing == "OpenPrinterW" || failing == "StartDocPort") {
        // The spooler tries the document again later; the port stays usable.
        const bool openPrinter = failing == "OpenPrinterW";
        const DWORD error = openPrinter ? kInvalidPrinterName : kGenFailure;
        if (openPrinter) {
            setSpoolerCallFails("OpenPrinterW", true, error);
        } else {
            port.beneath().failCall(PortEntry::StartDocPort, 1, FALSE, error);
        }
        SetLastError(0);
        checks.equal(port.startDoc(jobId), FALSE, name + ": StartDocPort fails");
        checks.equal(GetLastError(), error, name + ": the reason is left for the spooler's GetLastError");
        checks.equal(port.beneath().countOf(PortEntry::StartDocPort), std::size_t{openPrinter ? 0u : 1u},
                     name + ": the port monitor's StartDocPort is called only after OpenPrinterW succeeded");
        checks.expect(saveDocument(outDir, name + ".refused", request(table, port.handle(), commandDocument("get_info"))),
                      name + ": get_info after the refusal");
        setSpoolerCallFails("OpenPrinterW", false);
    }
    if (failing == "EndDocPort") port.beneath().failCall(PortEntry::EndDocPort, 1);

    // The second thread: once the machine has refused a command the loop
    // sends nothing until a restore, so what the requests put on the line
    // falls between the same frames in every build.
    ScenarioPort secondPort(table, monitor, "KESTROVA2:", "Kestrova Card Printer 2");
    std::thread control;
    if (!steps.empty()) {
        control = std::thread([&] {
            if (!checks.expect(port.machine().waitForFaults(1), name + ": the machine refuses a command")) return;
            for (std::size_t i = 0; i < steps.size(); ++i) {
                const std::string& step = steps[i];
                if (step == "second_port") {
                    checks.equal(secondPort.print(50, kOneCard, checks, name + ": second port"), TRUE,
                                 name + ": the second port's EndDocPort while the first is in production");
                    checks.expect(personalisations(secondPort.machine()) == std::vector<std::string>{kCarla},
                                  name + ": the second port's card");
                    continue;
                }
                std::string what = name + ": ";
                what += step;
                const ControlReply reply = request(table, port.handle(), commandDocument(step));
                checks.expect(reply.result == TRUE && contains(reply.text, "<sw_error_code value=\"0\"/>"),
                              what + " while halted");
                if (step == "get_info") checks.expect(contains(reply.text, kHaltedOnLoad), what + " shows the refused Load");
                std::string file = name + ".";
                file += std::to_string(i + 1) + "-";
                file += step;
                checks.expect(saveDocument(outDir, file, reply), what + ": the document is saved");
            }
        });
    }
    const BOOL ended = port.print(jobId, scenario.job, checks, name);
    if (control.joinable()) control.join();
    checks.equal(ended, scenario.ended, name + ": EndDocPort");

    const std::vector<std::string> expected(scenario.personalised.begin(), scenario.personalised.end());
    checks.expect(personalisations(port.machine()) == expected, name + ": the cards personalised");
    const ControlReply after = request(table, port.handle(), commandDocument("get_info"));
    checks.expect(contains(after.text, "<to_produce value=\"0\"/>"), name + ": no card left afterwards");
    checks.expect(saveDocument(outDir, name + ".after", after), name + ": get_info afterwards");

    checks.expect(port.close() && secondPort.close(), name + ": ClosePort");
    const std::string calls = spoolerCallRecord();
    checks.equal(spoolerCallSummary(calls), std::string(scenario.spoolerCalls), name + ": the spooler calls");
    checks.expect(saveFile(outDir, name + ".calls", calls) &&
                      saveFile(outDir, name + ".frames", port.machine().frameRecord()) &&
                      (!secondPort.machine().frames() ||
                       saveFile(outDir, name + ".port2.frames", secondPort.machine().frameRecord())),
                  name + ": the records are saved");
}

}  // namespace

bool writeConfiguration() {
    std::error_code error;
    std::filesystem::create_directories(kConfigDirectory, error);
    std::ofstream file(kConfigFile, std::ios::binary);
    file << kConfig;
    return file.good();
}

void removeConfiguration() {
    std::error_code error;
    std::filesystem::remove(kConfigFile, error);
}

void runProductionScenarios(const MONITOR2& table, HANDLE monitor, const std::string& outDir, Checks& checks) {
    useFastestClock();
    DWORD jobId = 10;
    for (const Scenario& scenario : kScenarios) runScenario(scenario, jobId++, table, monitor, outDir, checks);
    removeConfiguration();
}

}  // namespace kestrova::wine_check
