// kestrova console --demo: N simulated machines, each on its own port of the
// real module in this process, printing sample jobs one after another on
// the real clock; one of them refuses a Load now and then and halts until
// someone restores it. Its directory reaches each port through
// GetPrinterDataFromPort, as the spooler would.
#pragma once

#include "tool/machine_directory.h"
#include "tool/module_loader.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::tool {

class DemoMachines {
public:
    static constexpr std::size_t kMost = 8;
    // The machine that halts: the second one (the first with a single machine).
    static constexpr const char* kHaltingFaults = "nak:load:7@*4";

    explicit DemoMachines(LoadedModule& module);
    ~DemoMachines();
    DemoMachines(const DemoMachines&) = delete;
    DemoMachines& operator=(const DemoMachines&) = delete;

    // Opens the ports and starts printing; false with the reason.
    bool start(std::size_t count, std::string& error);
    // Deletes the jobs running and waits for their threads.
    void stop();
    MachineDirectory& directory();

    // The sample job each machine prints, CR LF records.
    static std::string sampleJob();

private:
    struct Machine;
    LoadedModule& module_;
    std::vector<std::unique_ptr<Machine>> machines_;
    std::unique_ptr<MachineDirectory> directory_;
    std::atomic<bool> stopping_{false};
};

}  // namespace kestrova::tool
