// Several machines from one spooler: 1, 8 and 32 ports of one monitor, each
// producing its own job on its own thread at the same time, against machines
// that answer at once, on the real clock, while a client thread per port
// sends "get_info" every 200 ms.
//
// Per port the time per card is set against the 950 ms floor that the
// loop's pauses impose (9 cycles of 90 ms and 14 exchanges of 10 ms); the
// worst port counts. A client's poll may take a completion the loop would
// have taken, so a port can take fewer than 9 cycles for a card; its own
// pauses (own_floor_ms_per_card) are reported beside the time, and
// overhead_pct is the time per card above them: what anything shared between
// ports, or a request holding the port, cost the loop.
//
// A request's lock wait runs from its call to its first frame written, less
// the link's 10 ms pause; cycles_waited counts the loop's polls on that port
// that began meanwhile (at most one: a request waits for no more than the
// cycle in progress).
#include "link/machine_command.h"
#include "monitor/language_monitor.h"
#include "simulator/machine_simulator.h"
#include "simulator/simulator_peer.h"
#include "standin/platform_standin.h"
#include "standin/software_port_monitor.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrova {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kFloorPerCardMs = 9 * 90 + 14 * 10;
constexpr std::size_t kCardsPerPort = 8;
constexpr auto kRequestEvery = std::chrono::milliseconds(200);

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

std::string cardJob(std::size_t cards) {
    std::string job = "<SX856 SY540 X120 Y45 F2 CI3 X120 Y200 F1 CI4>";
    for (std::size_t i = 0; i < cards; ++i) job += "<HOLDER " + std::to_string(i) + "\r\n4000 0000 0000 " + std::to_string(1000 + i) + ">";
    return job;
}

// One machine per port, made when the port opens.
struct Machine {
    simulator::MachineSimulator simulator{simulator::MachineDurations::instant()};
    simulator::SimulatorPeer peer{simulator};
    Machine() { simulator.setRecording(false); }
};

// The port monitor's WritePort, watched: the production thread counts its
// polls into its port's counter; a request thread notes its first frame.
MONITOR2 gWatched;
BOOL(WINAPI* gForwardWrite)(HANDLE, LPBYTE, DWORD, LPDWORD) = nullptr;
thread_local std::atomic<std::uint64_t>* tProductionPolls = nullptr;
thread_local bool tArmed = false;
thread_local Clock::time_point tFirstWrite;
thread_local const std::atomic<std::uint64_t>* tRequestPort = nullptr;
thread_local std::uint64_t tPollsAtFirstWrite = 0;

BOOL WINAPI watchedWrite(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    constexpr DWORD kCodeOffset = 6;
    if (tArmed) {
        tFirstWrite = Clock::now();
        tPollsAtFirstWrite = tRequestPort->load();
        tArmed = false;
    }
    if (tProductionPolls != nullptr && cbBuf > kCodeOffset && pBuffer[kCodeOffset] == command::Poll) {
        tProductionPolls->fetch_add(1, std::memory_order_relaxed);
    }
    return gForwardWrite(hPort, pBuffer, cbBuf, pcbWritten);
}

struct PortRun {
    HANDLE handle = nullptr;
    std::shared_ptr<Machine> machine;
    std::atomic<std::uint64_t> polls{0};
    double elapsedMs = 0;
    double pausedMs = 0;
    BOOL result = FALSE;
    std::vector<double> waitsMs;
    std::uint64_t worstCyclesWaited = 0;
};

class Spooler {
public:
    explicit Spooler(std::size_t ports) : runs_(ports) {
        // Each port its own machine; nothing recorded, as in a long run.
        lines_.setRecordCalls(false);
        lines_.setConnect([this](std::string&) {
            auto machine = std::make_shared<Machine>();
            std::lock_guard<std::mutex> guard(lock_);
            made_.push_back(machine);
            return std::shared_ptr<standin::PortPeer>(machine, &machine->peer);
        });
        gWatched = *lines_.table();
        gForwardWrite = gWatched.pfnWritePort;
        gWatched.pfnWritePort = &watchedWrite;
        table_ = InitializePrintMonitor2(nullptr, &monitor_);
        for (std::size_t p = 0; p < ports; ++p) {
            WideString portName = wideFromAscii(("KESTROVA" + std::to_string(p + 1) + ":").c_str());
            WideString printer = wideFromAscii(("Card Printer " + std::to_string(p + 1)).c_str());
            table_->pfnOpenPortEx(monitor_, lines_.monitorHandle(), portName.data(), printer.data(),
                                  &runs_[p].handle, &gWatched);
            runs_[p].machine = made_.back();
        }
    }
    ~Spooler() { table_->pfnShutdown(monitor_); }
    Spooler(const Spooler&) = delete;
    Spooler& operator=(const Spooler&) = delete;

    // Every port prints `job` at once, each on its own spooler thread, while
    // (with `clients`) a client thread per port asks for "get_info".
    void printEverywhere(const std::string& job, bool clients) {
        std::atomic<std::size_t> producing{runs_.size()};
        std::vector<std::thread> threads;
        for (PortRun& run : runs_) {
            PortRun* port = &run;
            threads.emplace_back([this, port, &job, &producing] { produce(*port, job, producing); });
        }
        if (clients) {
            for (PortRun& run : runs_) {
                PortRun* port = &run;
                threads.emplace_back([this, port, &producing] { ask(*port, producing); });
            }
        }
        for (auto& thread : threads) thread.join();
    }

    std::vector<PortRun>& runs() { return runs_; }

private:
    void produce(PortRun& run, std::string job, std::atomic<std::size_t>& producing) {
        WideString printer(u"Card Printer");
        WideString docName(u"cards"), datatype(u"RAW");
        DOC_INFO_1W info{docName.data(), nullptr, datatype.data()};
        tProductionPolls = &run.polls;
        const std::uint64_t paused0 = standin::threadSleptMs();
        const auto start = Clock::now();
        table_->pfnStartDocPort(run.handle, printer.data(), 1, 1, reinterpret_cast<LPBYTE>(&info));
        DWORD written = 0;
        table_->pfnWritePort(run.handle, reinterpret_cast<LPBYTE>(job.data()), static_cast<DWORD>(job.size()),
                             &written);
        run.result = table_->pfnEndDocPort(run.handle);
        run.elapsedMs = ms(Clock::now() - start);
        run.pausedMs = static_cast<double>(standin::threadSleptMs() - paused0);
        tProductionPolls = nullptr;
        --producing;
    }

    void ask(PortRun& run, const std::atomic<std::size_t>& producing) {
        WideString request(u"<kx_api><command value=\"get_info\"/></kx_api>");
        std::vector<WCHAR> out(4096);
        tRequestPort = &run.polls;
        auto next = Clock::now() + kRequestEvery;
        while (producing.load() != 0) {
            std::this_thread::sleep_until(next);
            next += kRequestEvery;
            const std::uint64_t pollsBefore = run.polls.load();
            DWORD returned = 0;
            tArmed = true;
            const auto t0 = Clock::now();
            table_->pfnGetPrinterDataFromPort(run.handle, 0, request.data(), nullptr, 0, out.data(),
                                              static_cast<DWORD>(out.size() * sizeof(WCHAR)), &returned);
            if (tArmed) {
                tArmed = false;
                continue;  // wrote nothing: no exchange to time
            }
            run.waitsMs.push_back(std::max(ms(tFirstWrite - t0) - 10.0, 0.0));
            run.worstCyclesWaited = std::max(run.worstCyclesWaited, tPollsAtFirstWrite - pollsBefore);
        }
    }

    std::mutex lock_;
    std::vector<std::shared_ptr<Machine>> made_;
    standin::SoftwarePortMonitor lines_;
    std::vector<PortRun> runs_;
    HANDLE monitor_ = nullptr;
    LPMONITOR2 table_ = nullptr;
};

void PortsInParallel(benchmark::State& state) {
    const auto ports = static_cast<std::size_t>(state.range(0));
    standin::reset();
    standin::setClockMode(standin::ClockMode::Real);
    standin::setRecordSleeps(false);

    for (auto _ : state) {
        (void)_;
        Spooler spooler(ports);
        spooler.printEverywhere(cardJob(1), false);  // every new port restores its machine first
        std::vector<std::size_t> delivered0;
        for (PortRun& run : spooler.runs()) delivered0.push_back(run.machine->simulator.status().cardsDelivered);

        const auto start = Clock::now();
        spooler.printEverywhere(cardJob(kCardsPerPort), true);
        state.SetIterationTime(ms(Clock::now() - start) / 1000.0);

        std::vector<double> perCard, waits;
        double worstCard = 0, ownFloor = 0, overhead = 0, worstOverhead = 0, cycles = 0;
        std::uint64_t worstCycles = 0;
        for (std::size_t p = 0; p < ports; ++p) {
            PortRun& run = spooler.runs()[p];
            if (run.machine->simulator.status().cardsDelivered - delivered0[p] != kCardsPerPort || run.result != TRUE) {
                state.SkipWithError("a port did not produce its whole job");
                return;
            }
            const double cardMs = run.elapsedMs / kCardsPerPort;
            perCard.push_back(cardMs);
            worstCard = std::max(worstCard, cardMs);
            ownFloor += run.pausedMs / kCardsPerPort;
            const double portOverhead = 100.0 * (run.elapsedMs - run.pausedMs) / run.pausedMs;
            overhead += portOverhead;
            worstOverhead = std::max(worstOverhead, portOverhead);
            cycles += static_cast<double>(run.polls.load()) / kCardsPerPort;
            waits.insert(waits.end(), run.waitsMs.begin(), run.waitsMs.end());
            worstCycles = std::max(worstCycles, run.worstCyclesWaited);
        }
        const double n = static_cast<double>(ports);
        state.counters["ports"] = n;
        state.counters["cards_per_port"] = kCardsPerPort;
        state.counters["floor_ms_per_card"] = kFloorPerCardMs;
        state.counters["ms_per_card_median"] = median(perCard);
        state.counters["ms_per_card_worst"] = worstCard;
        state.counters["worst_to_floor"] = worstCard / kFloorPerCardMs;
        state.counters["own_floor_ms_per_card"] = ownFloor / n;
        state.counters["cycles_per_card"] = cycles / n;
        state.counters["overhead_pct_mean"] = overhead / n;
        state.counters["overhead_pct_worst"] = worstOverhead;
        state.counters["requests"] = static_cast<double>(waits.size());
        state.counters["wait_median_ms"] = median(waits);
        state.counters["wait_worst_ms"] = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
        state.counters["cycles_waited_worst"] = static_cast<double>(worstCycles);
        double load[1] = {0};
        if (getloadavg(load, 1) == 1) state.counters["load_avg_1min"] = load[0];
    }
}

BENCHMARK(PortsInParallel)->ArgName("ports")->Arg(1)->Arg(8)->Arg(32)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
