// Production pacing on the virtual clock with a machine that answers at once.
//
// ProduceJob runs EndDocPort on a job of `cards` cards in the steady state
// (the machine already restored) and counts, per card, the loop's cycles
// (its 90 ms pauses), the exchanges and the polls; it stops with an error if
// they differ from what one card needs: 9 cycles, 14 exchanges, 9 polls.
//
// ExchangesOnly issues the very same exchanges and pauses from a fixed list,
// with the same intake, payload texts and finish, and no decisions. The
// difference between the two is the loop's own work between its pauses;
// Intake is the record parsing both of them include.
#include "link/link_session.h"
#include "link/machine_command.h"
#include "monitor/language_monitor.h"
#include "platform/platform_calls.h"
#include "production/payload_texts.h"
#include "standin/platform_standin.h"
#include "standin/scripted_machine.h"
#include "standin/software_port_monitor.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kestrova {
namespace {

constexpr std::uint64_t kCyclesPerCard = 9;
constexpr std::uint64_t kExchangesPerCard = 14;
constexpr std::uint64_t kPollsPerCard = 9;

std::string cardJob(std::size_t cards) {
    std::string job = "<SX856 SY540 X120 Y45 F2 CI3 X300 Y100 F1 CI5>";
    for (std::size_t i = 0; i < cards; ++i) job += "<CARD " + std::to_string(i) + "\r\nSECOND LINE>";
    return job;
}

// A monitor with one port over the software port monitor and the machine.
class Bench {
public:
    Bench() {
        standin::reset();
        standin::setClockMode(standin::ClockMode::Virtual);
        standin::setRecordSleeps(false);
        spm.setRecordCalls(false);
        machine.setRecording(false);
        spm.setPeer(&machine);
        table = InitializePrintMonitor2(nullptr, &monitor);
        WideString portName(u"LPT1:");
        table->pfnOpenPortEx(monitor, spm.monitorHandle(), portName.data(), printerName.data(), &handle,
                             spm.table());
        port = static_cast<MonitorPort*>(handle);
    }
    ~Bench() {
        table->pfnShutdown(monitor);
        spm.setPeer(nullptr);
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    void startAndWrite(std::string& job) {
        table->pfnStartDocPort(handle, printerName.data(), 7, 0, nullptr);
        DWORD written = 0;
        table->pfnWritePort(handle, reinterpret_cast<LPBYTE>(job.data()), static_cast<DWORD>(job.size()), &written);
    }

    BOOL produce(std::string& job) {
        startAndWrite(job);
        return table->pfnEndDocPort(handle);
    }

    standin::ScriptedMachine machine;
    standin::SoftwarePortMonitor spm;
    WideString printerName = u"Card Printer";
    HANDLE monitor = nullptr;
    LPMONITOR2 table = nullptr;
    HANDLE handle = nullptr;
    MonitorPort* port = nullptr;
};

void ProduceJob(benchmark::State& state) {
    const auto cards = static_cast<std::size_t>(state.range(0));
    std::string job = cardJob(cards);
    Bench bench;
    std::string first = cardJob(1);
    bench.produce(first);  // the restore of a new port is not the steady state

    std::uint64_t cycles = 0, exchanges = 0, polls = 0, virtualMs = 0;
    for (auto _ : state) {
        const std::uint64_t pauses0 = standin::sleepCount(), ms0 = standin::sleptMs();
        const std::size_t frames0 = bench.machine.frames(), polls0 = bench.machine.countOf(command::Poll);
        benchmark::DoNotOptimize(bench.produce(job));
        const std::uint64_t frames = bench.machine.frames() - frames0;
        exchanges += frames;
        cycles += standin::sleepCount() - pauses0 - frames;  // one 10 ms pause per exchange, 90 ms per cycle
        polls += bench.machine.countOf(command::Poll) - polls0;
        virtualMs += standin::sleptMs() - ms0;
    }
    const double produced = static_cast<double>(cards) * static_cast<double>(state.iterations());
    if (cycles != kCyclesPerCard * cards * state.iterations() ||
        exchanges != kExchangesPerCard * cards * state.iterations() ||
        polls != kPollsPerCard * cards * state.iterations()) {
        state.SkipWithError("the loop made other exchanges than one card needs");
    }
    state.counters["cycles_per_card"] = static_cast<double>(cycles) / produced;
    state.counters["exchanges_per_card"] = static_cast<double>(exchanges) / produced;
    state.counters["polls_per_card"] = static_cast<double>(polls) / produced;
    state.counters["virtual_ms_per_card"] = static_cast<double>(virtualMs) / produced;
    state.counters["ns_per_cycle"] =
        benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<std::int64_t>(produced));
}

// One cycle of ExchangesOnly: the exchanges under portLock, then the pause.
// The cycle that sees a card ejected also drops it.
void cycle(MonitorPort& port, std::initializer_list<std::pair<std::uint8_t, const Bytes*>> exchanges,
           bool ejected = false) {
    static const Bytes none;
    {
        const PortLock guard(port);
        MachineSession& machine = port.machine();
        for (const auto& [command, payload] : exchanges) {
            machine.recordOutcome(machine.exchange(command, payload != nullptr ? *payload : none));
        }
        if (ejected) {
            machine.cardEjected();
            port.intake().dropFrontCard();
        }
    }
    Sleep(90);
}

void ExchangesOnly(benchmark::State& state) {
    const auto cards = static_cast<std::size_t>(state.range(0));
    std::string job = cardJob(cards);
    Bench bench;
    std::string first = cardJob(1);
    bench.produce(first);
    MonitorPort& port = *bench.port;

    std::uint64_t cycles = 0;
    for (auto _ : state) {
        bench.startAndWrite(job);
        port.intake().queueCards();
        port.intake().dropBytes();
        for (std::size_t i = 0; i < cards; ++i) {
            const JobRecord card = port.intake().withQueue([](JobQueue& queue) { return queue.front(); });
            const Bytes setup = recordSetupText(card);
            const Bytes personalised = personalisationText(card);
            cycle(port, {{command::Poll, nullptr}, {command::PreLoad, nullptr}});
            cycle(port, {{command::Poll, nullptr}});
            cycle(port, {{command::Poll, nullptr}, {command::Load, nullptr}});
            cycle(port, {{command::Poll, nullptr}});
            cycle(port, {{command::Poll, nullptr}, {command::JobSetup, &setup}, {command::Personalize, &personalised}});
            cycle(port, {{command::Poll, nullptr}});
            cycle(port, {{command::Poll, nullptr}, {command::Eject, nullptr}});
            cycle(port, {{command::Poll, nullptr}});
            cycle(port, {{command::Poll, nullptr}}, true);
            cycles += kCyclesPerCard;
        }
        const PortLock guard(port);
        port.portMonitor->pfnEndDocPort(port.portHandle);
        SetJobW(port.printerHandle, port.jobInfo.jobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
        SetJobW(port.printerHandle, port.jobInfo.jobId, 0, nullptr, JOB_CONTROL_DELETE);
        ClosePrinter(port.printerHandle);
        port.printerHandle = nullptr;
        port.jobInfo.clear();
    }
    state.counters["ns_per_cycle"] =
        benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<std::int64_t>(cards * state.iterations()));
}

void Intake(benchmark::State& state) {
    const auto cards = static_cast<std::size_t>(state.range(0));
    std::string job = cardJob(cards);
    Bench bench;
    MonitorPort& port = *bench.port;
    for (auto _ : state) {
        bench.startAndWrite(job);
        benchmark::DoNotOptimize(port.intake().queueCards());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(cards * state.iterations()));
}

BENCHMARK(ProduceJob)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(ExchangesOnly)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(Intake)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
