#include "tool/demo_machines.h"

#include "simulator/fault_plan.h"
#include "simulator/machine_durations.h"
#include "tool/control_document.h"
#include "tool/machine_setup.h"
#include "tool/spooler_host.h"
#include "tool/text_encoding.h"

#include <chrono>
#include <utility>

namespace kestrova::tool {

namespace {

// Brisk enough that a card is seen to move within a few seconds.
constexpr const char* kDemoDurations = "restore=600,preload=200,load=300,personalize=700,eject=200";
// Between two jobs a machine stands idle this long.
constexpr auto kIdleBetweenJobs = std::chrono::seconds(4);
constexpr std::size_t kChunk = 4096;

const char* const kNames[] = {"ANNA SMITH",  "BEN JONES",   "CARLA DIAZ", "DAVID KIM",  "EMMA BROWN",
                              "FARID NAZARI", "GRETA LUND", "HUGO MARTIN", "IRIS TANAKA", "JONAS WEBER"};

}  // namespace

struct DemoMachines::Machine {
    std::string name;
    std::unique_ptr<MachineSetup> setup;
    std::unique_ptr<SpoolerHost> spooler;
    std::thread printing;
    std::atomic<bool> finished{false};
};

namespace {

class DemoDirectory final : public MachineDirectory {
public:
    explicit DemoDirectory(std::vector<std::pair<std::string, SpoolerHost*>> ports) : ports_(std::move(ports)) {}

    bool list(std::vector<MachineEntry>& out, std::string&) override {
        out.clear();
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            out.push_back({ports_[i].first, "DEMO" + std::to_string(i + 1) + ":", ""});
        }
        return true;
    }

    bool send(const MachineEntry& entry, const std::string& document, ControlReply& reply,
              std::string& error) override {
        for (const auto& [name, spooler] : ports_) {
            if (name != entry.name) continue;
            const ControlAnswer answer = spooler->control(utf16FromUtf8(document));
            reply.ok = answer.result == TRUE;
            reply.lastError = answer.lastError;
            reply.document = utf8FromUtf16(answer.text);
            return true;
        }
        error = "no machine named " + entry.name;
        return false;
    }

private:
    std::vector<std::pair<std::string, SpoolerHost*>> ports_;
};

}  // namespace

DemoMachines::DemoMachines(LoadedModule& module) : module_(module) {}

DemoMachines::~DemoMachines() { stop(); }

std::string DemoMachines::sampleJob() {
    std::string job = "<SX856 SY540 X100 Y200 F1 CI5>\r\n";
    for (const char* name : kNames) job += std::string("<") + name + ">\r\n";
    return job;
}

bool DemoMachines::start(std::size_t count, std::string& error) {
    const auto durations = simulator::parseDurations(kDemoDurations);
    const auto halting = simulator::parseFaultPlan(kHaltingFaults);
    if (!durations.durations || !halting.plan) {
        error = "the demo's own machine settings do not read: " + durations.error + halting.error;
        return false;
    }
    const std::size_t haltingOne = count > 1 ? 1 : 0;
    std::vector<std::pair<std::string, SpoolerHost*>> ports;
    for (std::size_t i = 0; i < count; ++i) {
        auto machine = std::make_unique<Machine>();
        machine->name = "Demo card printer " + std::to_string(i + 1);
        machine->setup = std::make_unique<MachineSetup>(MachineChoice{}, *durations.durations,
                                                        i == haltingOne ? *halting.plan : simulator::FaultPlan{},
                                                        nullptr);
        machine->spooler = std::make_unique<SpoolerHost>(module_);
        if (!machine->setup->openPort(*machine->spooler, error)) {
            error = machine->name + ": " + std::move(error);
            return false;
        }
        ports.emplace_back(machine->name, machine->spooler.get());
        machines_.push_back(std::move(machine));
    }
    directory_ = std::make_unique<DemoDirectory>(std::move(ports));

    const Bytes job = [] {
        const std::string text = sampleJob();
        return Bytes(text.begin(), text.end());
    }();
    for (std::size_t i = 0; i < machines_.size(); ++i) {
        Machine& machine = *machines_[i];
        machine.printing = std::thread([this, &machine, job, i] {
            // Job ids of different machines apart, as different printers' would be.
            DWORD jobId = static_cast<DWORD>(100 * (i + 1));
            while (!stopping_) {
                ++jobId;
                const std::string docName = "demo-batch-" + std::to_string(jobId) + ".txt";
                machine.spooler->startDoc(jobId, utf16FromUtf8(docName));
                std::string ignored;
                machine.spooler->write(job, kChunk, ignored);
                machine.spooler->endDoc();
                const auto until = std::chrono::steady_clock::now() + kIdleBetweenJobs;
                while (!stopping_ && std::chrono::steady_clock::now() < until) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
            }
            machine.finished = true;
        });
    }
    return true;
}

void DemoMachines::stop() {
    if (stopping_.exchange(true)) return;
    // A delete_job ends a running EndDocPort, a halted one too; again while
    // a job that began as the demo was stopped may still start.
    const WideString deletion = utf16FromUtf8(controlRequestText("delete_job"));
    for (auto& machine : machines_) {
        while (machine->printing.joinable() && !machine->finished) {
            machine->spooler->control(deletion);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    for (auto& machine : machines_) {
        if (machine->printing.joinable()) machine->printing.join();
    }
    for (auto& machine : machines_) machine->spooler->close();
}

MachineDirectory& DemoMachines::directory() { return *directory_; }

}  // namespace kestrova::tool
