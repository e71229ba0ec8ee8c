// Time per card against a port monitor that accepts SetPortTimeOuts but
// keeps its own read time-out: every read that finds nothing waits 1.5 s,
// even when asked to return at once. Before each command the monitor reads
// off what waits on the line; on such a port that read-off would cost 1.5 s
// per exchange (14 per card). The port notices the first read-off that
// waited and reads off no more, so the cards keep the pace of the pauses:
// ratio_to_floor (time per card over the 950 ms the pauses impose, on the
// virtual clock, the one wait included) stays within 1.01 over 200 cards.
#include "monitor/language_monitor.h"
#include "simulator/machine_clock.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace kestrova {
namespace {

constexpr double kFloorPerCardMs = 9 * 90 + 14 * 10;
constexpr std::uint64_t kOwnReadTimeoutMs = 1500;

// The port beneath: whatever time-outs it is given, an empty read waits its own.
class OwnTimeoutPeer : public standin::PortPeer {
public:
    explicit OwnTimeoutPeer(simulator::SimulatorPeer& line) : line_(line) {}
    long onWrite(const std::uint8_t* data, std::size_t size) override { return line_.onWrite(data, size); }
    long onRead(std::uint8_t* buffer, std::size_t size, const COMMTIMEOUTS& timeouts) override {
        const long got = line_.onRead(buffer, size, timeouts);
        if (got == 0 && timeouts.ReadTotalTimeoutConstant < kOwnReadTimeoutMs) {
            simulator::machine_clock::waitMs(kOwnReadTimeoutMs - timeouts.ReadTotalTimeoutConstant);
            ++waited;
        }
        return got;
    }
    std::size_t waited = 0;

private:
    simulator::SimulatorPeer& line_;
};

std::string cardJob(std::size_t cards) {
    std::string job = "<SX856 SY540 X120 Y45 F2 CI3 X120 Y200 F1 CI4>";
    for (std::size_t i = 0; i < cards; ++i) job += "<HOLDER " + std::to_string(i) + "\r\nCARD " + std::to_string(i) + ">";
    return job;
}

void ReadOffAgainstAPortWithItsOwnTimeOut(benchmark::State& state) {
    const auto cards = static_cast<std::size_t>(state.range(0));
    double ratio = 0;
    double perCard = 0;
    std::size_t waits = 0;
    for (auto _ : state) {
        standin::reset();
        standin::setClockMode(standin::ClockMode::Virtual);
        standin::setRecordSleeps(false);
        simulator::MachineSimulator machine{simulator::MachineDurations::instant()};
        machine.setRecording(false);
        simulator::SimulatorPeer line(machine);
        OwnTimeoutPeer peer(line);
        standin::SoftwarePortMonitor ports;
        ports.setPeer(&peer);
        ports.setRecordCalls(false);
        WideString printer(u"Kestrova Card Printer");
        WideString portName(u"KESTROVA:");
        HANDLE monitor = nullptr;
        HANDLE handle = nullptr;
        LPMONITOR2 table = InitializePrintMonitor2(nullptr, &monitor);
        table->pfnOpenPortEx(monitor, ports.monitorHandle(), portName.data(), printer.data(), &handle, ports.table());
        auto produce = [&](std::string job) {
            table->pfnStartDocPort(handle, printer.data(), 1, 0, nullptr);
            DWORD written = 0;
            table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(job.data()), static_cast<DWORD>(job.size()), &written);
            return table->pfnEndDocPort(handle);
        };
        produce(cardJob(1));  // a new port's restore is not the steady state
        const std::uint64_t start = standin::nowMs();
        const std::uint64_t waited0 = 0;  // the warm-up job's included: the port learns there
        benchmark::DoNotOptimize(produce(cardJob(cards)));
        const double elapsed = static_cast<double>(standin::nowMs() - start);
        waits = peer.waited - waited0;
        const bool whole = machine.status().cardsDelivered == cards + 1;
        table->pfnClosePort(handle);
        table->pfnShutdown(monitor);
        if (!whole) {
            state.SkipWithError("the machine did not deliver every card");
            return;
        }
        perCard = elapsed / static_cast<double>(cards);
        ratio = perCard / kFloorPerCardMs;
    }
    state.counters["ms_per_card"] = perCard;
    state.counters["floor_ms_per_card"] = kFloorPerCardMs;
    state.counters["ratio_to_floor"] = ratio;
    state.counters["waited_reads"] = static_cast<double>(waits);
    if (ratio > 1.01) state.SkipWithError("the read-off slows production beyond 1.01 x the pauses");
}

BENCHMARK(ReadOffAgainstAPortWithItsOwnTimeOut)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
