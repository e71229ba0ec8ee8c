#include "tests/wine/spooler_session.h"

#include "link/machine_command.h"
#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "standin/software_port_monitor.h"
#include "tests/wine/machine_peer.h"
#include "tests/wine/module_host.h"
#include "tests/wine/port_requests.h"
#include "tests/wine/production_scenarios.h"
#include "tests/wine/reader_probe.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::wine_check {

namespace {

using standin::PortEntry;
using standin::SoftwarePortMonitor;

// Deep enough for the reader to exhaust a 1 MiB stack (run.sh shows that
// with the probe), small enough for the request size bound: opening tags only.
constexpr int kDeepLevels = 10000;

std::string nested(const std::string& command, std::size_t depth) {
    // kx_api is the first level; depth - 1 further levels below it.
    std::string text = "<kx_api><command value=\"" + command + "\"/>";
    for (std::size_t i = 1; i < depth; ++i) text += "<n>";
    for (std::size_t i = 1; i < depth; ++i) text += "</n>";
    return text + "</kx_api>";
}

class Spooler {
public:
    Spooler(const std::string& modulePath, Checks& checks) : module_(modulePath), checks_(checks) {}

    bool load() {
        if (!checks_.expect(module_.loaded(), "the module loads: " + module_.error())) return false;
        initialize_ = module_.initialize();
        return checks_.expect(initialize_ != nullptr, "the module exports InitializePrintMonitor2");
    }

    void checkExports() {
        // A stdcall export left decorated would be found under these names only.
        checks_.expect(module_.symbol("InitializePrintMonitor2@8") == nullptr &&
                           module_.symbol("_InitializePrintMonitor2@8") == nullptr,
                       "the export is not decorated");
        checks_.expect(initialize_(nullptr, nullptr) == nullptr, "a null phMonitor gives no table");
    }

    void checkTable() {
        HANDLE first = nullptr;
        HANDLE second = nullptr;
        table_ = initialize_(nullptr, &first);
        if (!checks_.expect(table_ != nullptr && first != nullptr, "InitializePrintMonitor2 gives a table")) return;
        LPMONITOR2 again = initialize_(nullptr, &second);
        checks_.expect(again == table_ && second != nullptr && second != first,
                       "a second call gives the same table and a second monitor");
        table_->pfnShutdown(second);
        monitor_ = first;

        // 92 bytes for a 32-bit spooler; the 64-bit layout is the same 22
        // pointers after the size, aligned.
        const DWORD expectedSize = sizeof(void*) == 4 ? 92u : static_cast<DWORD>(8 + 22 * sizeof(void*));
        checks_.equal(table_->cbSize, expectedSize, "cbSize");

        struct Member {
            const char* name;
            std::size_t offset;
            bool filled;
        };
#define KESTROVA_MEMBER(field, filled) {#field, offsetof(MONITOR2, field), filled}
        const Member members[] = {
            KESTROVA_MEMBER(pfnEnumPorts, false),
            KESTROVA_MEMBER(pfnOpenPort, false),
            KESTROVA_MEMBER(pfnOpenPortEx, true),
            KESTROVA_MEMBER(pfnStartDocPort, true),
            KESTROVA_MEMBER(pfnWritePort, true),
            KESTROVA_MEMBER(pfnReadPort, true),
            KESTROVA_MEMBER(pfnEndDocPort, true),
            KESTROVA_MEMBER(pfnClosePort, true),
            KESTROVA_MEMBER(pfnAddPort, false),
            KESTROVA_MEMBER(pfnAddPortEx, false),
            KESTROVA_MEMBER(pfnConfigurePort, false),
            KESTROVA_MEMBER(pfnDeletePort, false),
            KESTROVA_MEMBER(pfnGetPrinterDataFromPort, true),
            KESTROVA_MEMBER(pfnSetPortTimeOuts, false),
            KESTROVA_MEMBER(pfnXcvOpenPort, false),
            KESTROVA_MEMBER(pfnXcvDataPort, false),
            KESTROVA_MEMBER(pfnXcvClosePort, false),
            KESTROVA_MEMBER(pfnShutdown, true),
            KESTROVA_MEMBER(pfnSendRecvBidiDataFromPort, false),
            KESTROVA_MEMBER(pfnNotifyUsedPorts, false),
            KESTROVA_MEMBER(pfnNotifyUnusedPorts, false),
            KESTROVA_MEMBER(pfnPowerEvent, false),
        };
#undef KESTROVA_MEMBER
        int filled = 0;
        for (const Member& member : members) {
            void* entry = nullptr;
            std::memcpy(&entry, reinterpret_cast<const char*>(table_) + member.offset, sizeof entry);
            filled += entry != nullptr ? 1 : 0;
            checks_.expect((entry != nullptr) == member.filled,
                           std::string(member.name) + (member.filled ? " is filled" : " is null"));
        }
        checks_.equal(filled, 8, "entries filled");
        checks_.equal(members[21].offset + sizeof(void*), static_cast<std::size_t>(expectedSize),
                      "pfnPowerEvent ends the table");
    }

    void checkNullHandles() {
        DWORD count = 77;
        BYTE byte = 0;
        WideString name = wide("x");
        const bool refused = table_->pfnStartDocPort(nullptr, name.data(), 1, 1, nullptr) == FALSE &&
                             table_->pfnWritePort(nullptr, &byte, 1, &count) == FALSE &&
                             table_->pfnReadPort(nullptr, &byte, 1, &count) == FALSE &&
                             table_->pfnEndDocPort(nullptr) == FALSE && table_->pfnClosePort(nullptr) == FALSE &&
                             table_->pfnGetPrinterDataFromPort(nullptr, 0, name.data(), nullptr, 0,
                                                               name.data(), 2, &count) == FALSE;
        checks_.expect(refused && count == 77, "every port entry refuses a null handle and touches nothing");
        table_->pfnShutdown(nullptr);
    }

    bool openPort() {
        spm_.setPeer(&machine_.peer());
        spm_.setPassThroughReply(wide("from the port monitor"));
        HANDLE port = nullptr;
        const BOOL opened = table_->pfnOpenPortEx(monitor_, spm_.monitorHandle(), portName_.data(),
                                                  printerName_.data(), &port, spm_.table());
        port_ = port;
        return checks_.expect(opened == TRUE && port_ != nullptr, "OpenPortEx opens the port over the port monitor");
    }

    ControlReply request(const std::string& document, DWORD outBytes = 64 * 1024) {
        return wine_check::request(*table_, port_, document, outBytes);
    }

    void save(const std::string& outDir, const std::string& name, const ControlReply& reply) {
        checks_.expect(saveDocument(outDir, name, reply), "the document " + name + " is saved");
    }

    const MONITOR2& table() const { return *table_; }
    HANDLE monitor() const { return monitor_; }

    void closeAndShutdown() {
        const std::size_t closesBefore = spm_.countOf(PortEntry::ClosePort);
        checks_.equal(table_->pfnClosePort(port_), TRUE, "ClosePort");
        checks_.equal(spm_.countOf(PortEntry::ClosePort), closesBefore + 1, "ClosePort closes the port beneath");
        table_->pfnShutdown(monitor_);
        monitor_ = nullptr;
        port_ = nullptr;
    }

    // Unloading the module (process detach under FreeLibrary, the
    // destructor under dlclose) releases the monitor it created last, with a
    // port whose document is started: nothing is closed beneath and no
    // spooler call is made while the loader lock is held.
    void checkProcessDetach(const std::string& outDir) {
        std::string why;
        if (!checks_.expect(startSpoolerStandin(why), "detach: the spooler stand-in: " + why)) return;
        HANDLE monitor = nullptr;
        LPMONITOR2 table = initialize_(nullptr, &monitor);
        HANDLE port = nullptr;
        const bool opened = table != nullptr &&
                            table->pfnOpenPortEx(monitor, spm_.monitorHandle(), portName_.data(),
                                                 printerName_.data(), &port, spm_.table()) == TRUE;
        if (!checks_.expect(opened, "detach: a port opens on a monitor that is never shut down")) return;
        WideString docName = wide("card job");
        DOC_INFO_1 info{docName.data(), nullptr, nullptr};
        checks_.equal(table->pfnStartDocPort(port, printerName_.data(), 90, 1, reinterpret_cast<LPBYTE>(&info)),
                      TRUE, "detach: the port's document is started");
        const std::string before = spoolerCallRecord();
        const std::size_t closesBefore = spm_.countOf(PortEntry::ClosePort);
        checks_.expect(module_.unload(), "detach: the module unloads");
        checks_.equal(spm_.countOf(PortEntry::ClosePort), closesBefore, "detach: nothing is closed beneath");
        const std::string record = spoolerCallRecord();
        checks_.equal(record.substr(before.size()), std::string(), "detach: no spooler call");
        checks_.expect(saveFile(outDir, "process_detach.calls", record), "detach: the record is saved");
    }

    SoftwarePortMonitor& portMonitor() { return spm_; }
    MachinePeer& machine() { return machine_; }

private:
    Module module_;
    Checks& checks_;
    InitializeFn initialize_ = nullptr;
    LPMONITOR2 table_ = nullptr;
    HANDLE monitor_ = nullptr;
    HANDLE port_ = nullptr;
    MachinePeer machine_;
    SoftwarePortMonitor spm_;
    WideString portName_ = wide("KESTROVA1:");
    WideString printerName_ = wide("Kestrova Card Printer");
};

void checkControl(Spooler& spooler, Checks& checks, const std::string& outDir) {
    ControlReply info = spooler.request("<kx_api><command value=\"get_info\"/></kx_api>");
    checks.equal(info.result, TRUE, "get_info succeeds");
    checks.equal(info.returned, static_cast<DWORD>(info.bytes.size()), "get_info reports its size");
    checks.expect(info.text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<kx_api>\n", 0) == 0,
                  "get_info: declaration and root");
    checks.expect(contains(info.text, "<to_produce value=\"0\"/>"), "get_info: no card left");
    checks.expect(contains(info.text, "<state value=\"Unknown\"/>"), "get_info: a new port knows no state");
    checks.expect(contains(info.text, "<hw_error_code value=\"0\"/>"), "get_info: no hardware error");
    checks.expect(contains(info.text, "<module_info>"), "get_info: the machine's module information");
    checks.expect(contains(info.text, "<sw_error_code value=\"0\"/>\n   </result>\n</kx_api>\n"),
                  "get_info: sw_error_code closes the result");
    spooler.save(outDir, "get_info_new_port", info);

    // Too small by one byte: the size needed comes back with the error.
    ControlReply tight = spooler.request("<kx_api><command value=\"get_info\"/></kx_api>", info.returned - 1);
    checks.expect(tight.result == FALSE && tight.lastError == ERROR_INSUFFICIENT_BUFFER &&
                      tight.returned == info.returned,
                  "a buffer one byte short gives ERROR_INSUFFICIENT_BUFFER and the size needed");

    spooler.machine().clearLog();
    const char* const runControls[][2] = {{"pause", "3"}, {"step", "5"}, {"continue", "4"}};
    for (const auto& control : runControls) {
        ControlReply reply =
            spooler.request(std::string("<kx_api><command value=\"") + control[0] + "\"/></kx_api>");
        checks.expect(reply.result == TRUE && contains(reply.text, "<sw_error_code value=\"0\"/>"),
                      std::string(control[0]) + " succeeds");
    }
    const std::vector<std::string> payloads = spooler.machine().payloadsOf(command::RunControl);
    checks.expect(payloads == std::vector<std::string>{"3", "5", "4"}, "pause, step, continue send RunControl 3, 5, 4");
    checks.equal(spooler.machine().commandLetters(), std::string("ppTppTppT"),
                 "each request polls twice before its command");

    ControlReply restore = spooler.request("<kx_api><command value=\"restore\"/></kx_api>");
    checks.expect(restore.result == TRUE && contains(restore.text, "<sw_error_code value=\"0\"/>"), "restore succeeds");
    ControlReply restored = spooler.request("<kx_api><command value=\"get_info\"/></kx_api>");
    checks.expect(contains(restored.text, "<state value=\"Restore Complete\"/>"),
                  "after a restore the machine reports Restore Complete");
    spooler.save(outDir, "get_info_after_restore", restored);

    ControlReply unknown = spooler.request("<kx_api><command value=\"GET_INFO\"/></kx_api>");
    checks.expect(unknown.result == TRUE && !contains(unknown.text, "<machine>") &&
                      contains(unknown.text, "<sw_error_code value=\"0\"/>"),
                  "an unknown command is a status poll with sw_error_code only");
    spooler.save(outDir, "unknown_command", unknown);

    const std::size_t framesBefore = spooler.machine().frames();
    ControlReply deleted = spooler.request("<kx_api><command value=\"delete_job\"/></kx_api>");
    checks.expect(deleted.result == TRUE && contains(deleted.text, "<sw_error_code value=\"0\"/>") &&
                      spooler.machine().frames() == framesBefore,
                  "delete_job sends nothing to the machine");

    const std::size_t passedBefore = spooler.portMonitor().countOf(PortEntry::GetPrinterDataFromPort);
    ControlReply passed = spooler.request("<kx_api><command value=\"\"/></kx_api>");
    checks.expect(passed.result == TRUE && passed.text == "from the port monitor" &&
                      spooler.portMonitor().countOf(PortEntry::GetPrinterDataFromPort) == passedBefore + 1,
                  "a request without a command goes to the port monitor");
}

// The nesting bound holds in this build on a spooler-sized thread stack: a
// request at the bound is handled, one level more and one deep enough to
// exhaust the stack in the reader (run.sh shows that with the probe) go to
// the port monitor without reaching the reader.
void checkNesting(Spooler& spooler, Checks& checks) {
    constexpr std::size_t kBound = 64;
    bool ran = runOnThread(kSpoolerThreadStack, [&] {
        ControlReply atBound = spooler.request(nested("nest", kBound));
        checks.expect(atBound.result == TRUE && contains(atBound.text, "<sw_error_code value=\"0\"/>"),
                      "a request nested 64 levels deep is handled");

        const std::size_t passedBefore = spooler.portMonitor().countOf(PortEntry::GetPrinterDataFromPort);
        ControlReply beyond = spooler.request(nested("nest", kBound + 1));
        checks.expect(beyond.text == "from the port monitor" &&
                          spooler.portMonitor().countOf(PortEntry::GetPrinterDataFromPort) == passedBefore + 1,
                      "a request nested 65 levels deep goes to the port monitor");

        // Opening tags only keep the text under the size bound.
        std::string deep = "<kx_api><command value=\"nest\"/>";
        for (int i = 0; i < kDeepLevels; ++i) deep += "<a>";
        ControlReply deepReply = spooler.request(deep);
        checks.expect(deepReply.text == "from the port monitor",
                      "a request nested " + std::to_string(kDeepLevels) + " levels deep goes to the port monitor");
    });
    checks.expect(ran, "a thread with a 1 MiB stack runs the requests");
}

}  // namespace

void runSpoolerCheck(const std::string& modulePath, const std::string& outDir, Checks& checks) {
    std::string why;
    if (!checks.expect(startSpoolerStandin(why), "the spooler stand-in: " + why)) return;
    removeConfiguration();
    Spooler spooler(modulePath, checks);
    if (!spooler.load()) return;
    spooler.checkExports();
    spooler.checkTable();
    spooler.checkNullHandles();
    runProductionScenarios(spooler.table(), spooler.monitor(), outDir, checks);
    if (!spooler.openPort()) return;
    checkControl(spooler, checks, outDir);
    checkNesting(spooler, checks);
    spooler.closeAndShutdown();
    spooler.checkProcessDetach(outDir);
}

int runExitInDocument(const std::string& modulePath) {
    std::string why;
    if (!startSpoolerStandin(why)) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    // Released only if the document does not start: the process ends with it started.
    auto module = std::make_unique<Module>(modulePath);
    auto beneath = std::make_unique<SoftwarePortMonitor>();
    HANDLE monitor = nullptr;
    HANDLE port = nullptr;
    LPMONITOR2 table = module->initialize() != nullptr ? module->initialize()(nullptr, &monitor) : nullptr;
    WideString portName = wide("KESTROVA1:");
    WideString printerName = wide("Kestrova Card Printer");
    WideString docName = wide("card job");
    DOC_INFO_1 info{docName.data(), nullptr, nullptr};
    if (table == nullptr ||
        table->pfnOpenPortEx(monitor, beneath->monitorHandle(), portName.data(), printerName.data(), &port,
                             beneath->table()) != TRUE ||
        table->pfnStartDocPort(port, printerName.data(), 7, 1, reinterpret_cast<LPBYTE>(&info)) != TRUE) {
        std::fprintf(stderr, "the document does not start: %s\n", module->error().c_str());
        return 1;
    }
    std::printf("document started\n");
    std::fflush(stdout);
    reportSpoolerCallsAtExit();
    // Never destroyed: a destructor run by exit() would unload the module first.
    static_cast<void>(module.release());
    static_cast<void>(beneath.release());
    std::exit(0);
}

}  // namespace kestrova::wine_check
