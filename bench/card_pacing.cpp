// Time per card on the real clock against the floor that the fixed pauses
// impose, with a simulated machine that answers at once.
//
// The monitor paces itself: 90 ms after every cycle and 10 ms before every
// exchange, and one card takes 9 cycles and 14 exchanges, so no card can
// take less than 9 x 90 + 14 x 10 = 950 ms. CardPacing runs EndDocPort on a
// short job in the steady state (the port already restored) over the
// simulated machine's in-process line and reports the time per card, the
// floor (the pauses actually taken, counted by the platform's Sleep) and the
// overhead above it: the monitor's, the link's and the machine's own work
// (work_pct, from the CPU time) plus the real clock's oversleep of each of
// the 23 pauses per card. The target is under 2 %.
#include "monitor/language_monitor.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <cstdint>
#include <string>

namespace kestrova {
namespace {

constexpr double kCyclesPerCard = 9;
constexpr double kExchangesPerCard = 14;
constexpr double kFloorPerCardMs = kCyclesPerCard * 90 + kExchangesPerCard * 10;

std::string cardJob(std::size_t cards) {
    std::string job = "<SX856 SY540 X120 Y45 F2 CI3 X120 Y200 F1 CI4 X600 Y300 F1 CI3>";
    for (std::size_t i = 0; i < cards; ++i) {
        job += "<HOLDER " + std::to_string(i) + "\r\n4000 0000 0000 " + std::to_string(1000 + i) + "\r\n12/29>";
    }
    return job;
}

class PacingBench {
public:
    PacingBench()
        : peer(machine) {
        ports.setPeer(&peer);
        ports.setRecordCalls(false);
        standin::reset();
        standin::setClockMode(standin::ClockMode::Real);
        standin::setRecordSleeps(false);
        machine.setRecording(false);
        table = InitializePrintMonitor2(nullptr, &monitor);
        WideString portName(u"KESTROVA:");
        table->pfnOpenPortEx(monitor, ports.monitorHandle(), portName.data(), printerName.data(), &handle,
                             ports.table());
    }
    ~PacingBench() { table->pfnShutdown(monitor); }
    PacingBench(const PacingBench&) = delete;
    PacingBench& operator=(const PacingBench&) = delete;

    BOOL produce(std::string job) {
        table->pfnStartDocPort(handle, printerName.data(), 1, 0, nullptr);
        DWORD written = 0;
        table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(job.data()), static_cast<DWORD>(job.size()), &written);
        return table->pfnEndDocPort(handle);
    }

    simulator::MachineSimulator machine{simulator::MachineDurations::instant()};
    simulator::SimulatorPeer peer;
    standin::SoftwarePortMonitor ports;
    WideString printerName = u"Kestrova Card Printer";
    HANDLE monitor = nullptr;
    LPMONITOR2 table = nullptr;
    HANDLE handle = nullptr;
};

void CardPacing(benchmark::State& state) {
    const auto cards = static_cast<std::size_t>(state.range(0));
    PacingBench bench;
    bench.produce(cardJob(1));  // a new port's restore is not the steady state

    double elapsedMs = 0;
    double floorMs = 0;
    double pauses = 0;
    double cpuMs = 0;
    for (auto _ : state) {
        const std::clock_t cpu0 = std::clock();
        const std::uint64_t slept0 = standin::sleptMs();
        const std::uint64_t pauses0 = standin::sleepCount();
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(bench.produce(cardJob(cards)));
        elapsedMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        floorMs += static_cast<double>(standin::sleptMs() - slept0);
        pauses += static_cast<double>(standin::sleepCount() - pauses0);
        cpuMs += 1000.0 * static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    }
    const double produced = static_cast<double>(cards) * static_cast<double>(state.iterations());
    if (bench.machine.status().cardsDelivered != cards * state.iterations() + 1) {
        state.SkipWithError("the machine did not deliver every card");
        return;
    }
    // The cycle that finds no card left finishes at once, without a pause.
    if (floorMs != kFloorPerCardMs * produced) state.SkipWithError("the loop paused other than one card needs");
    state.counters["ms_per_card"] = elapsedMs / produced;
    state.counters["floor_ms_per_card"] = floorMs / produced;
    state.counters["overhead_pct"] = 100.0 * (elapsedMs - floorMs) / floorMs;
    state.counters["pauses_per_card"] = pauses / produced;
    // What of the overhead is work (the rest is the clock's oversleep and
    // waiting to be scheduled).
    state.counters["work_pct"] = 100.0 * cpuMs / floorMs;
    state.SetItemsProcessed(static_cast<std::int64_t>(produced));
}

// A handful of cards: each costs almost a second of real time.
BENCHMARK(CardPacing)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
