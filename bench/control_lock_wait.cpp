// How long a control request waits for portLock while EndDocPort produces a
// long job on a machine that answers at once, with client threads sending
// "get_info" back to back. A request should never wait for more than one
// production cycle.
//
// The wait is taken from the call to the request's first frame written (the
// first thing it does under the lock after the link's pause; the 10 ms pause
// is taken off on the real clock). Reported per run: median and worst wait,
// median and worst whole request, and the most production cycles (polls of
// the loop) that began while one request waited.
#include "link/machine_command.h"
#include "monitor/language_monitor.h"
#include "port/monitor_port.h"
#include "standin/platform_standin.h"
#include "standin/scripted_machine.h"
#include "standin/software_port_monitor.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kestrova;
using Clock = std::chrono::steady_clock;

// WritePort of the software port monitor, watched on the way through.
MONITOR2 gTable;
BOOL(WINAPI* gForwardWrite)(HANDLE, LPBYTE, DWORD, LPDWORD) = nullptr;
std::atomic<std::thread::id> gProductionThread;
std::atomic<std::uint64_t> gProductionPolls{0};

thread_local bool tArmed = false;
thread_local Clock::time_point tFirstWrite;
thread_local std::uint64_t tPollsAtLock = 0;

BOOL WINAPI watchedWrite(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    if (tArmed) {
        tFirstWrite = Clock::now();
        tPollsAtLock = gProductionPolls.load();
        tArmed = false;
    }
    constexpr DWORD kCodeOffset = 6;
    if (std::this_thread::get_id() == gProductionThread.load() && cbBuf > kCodeOffset &&
        pBuffer[kCodeOffset] == command::Poll) {
        ++gProductionPolls;
    }
    return gForwardWrite(hPort, pBuffer, cbBuf, pcbWritten);
}

struct Sample {
    double waitMs;
    double requestMs;
    std::uint64_t cyclesWaited;
};

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// state.range(0): 0 virtual clock, 1 real clock; state.range(1): client threads.
void BM_GetInfoWhileProducing(benchmark::State& state) {
    const bool realClock = state.range(0) == 1;
    const int clients = static_cast<int>(state.range(1));
    const auto runFor = realClock ? std::chrono::seconds(6) : std::chrono::seconds(2);
    const std::size_t cards = realClock ? 100 : 200000;

    for (auto _ : state) {
        (void)_;
        standin::reset();
        standin::setClockMode(realClock ? standin::ClockMode::Real : standin::ClockMode::Virtual);
        standin::setRecordSleeps(false);
        standin::ScriptedMachine machine;
        machine.setRecording(false);
        standin::SoftwarePortMonitor spm;
        spm.setRecordCalls(false);
        spm.setPeer(&machine);
        gTable = *spm.table();
        gForwardWrite = gTable.pfnWritePort;
        gTable.pfnWritePort = &watchedWrite;
        gProductionPolls = 0;

        HANDLE monitor = nullptr;
        LPMONITOR2 table = InitializePrintMonitor2(nullptr, &monitor);
        WideString portName(u"LPT1:"), printer(u"Card Printer"), docName(u"long job"), datatype(u"RAW");
        HANDLE port = nullptr;
        table->pfnOpenPortEx(monitor, spm.monitorHandle(), portName.data(), printer.data(), &port, &gTable);
        DOC_INFO_1W info{docName.data(), nullptr, datatype.data()};
        table->pfnStartDocPort(port, printer.data(), 42, 1, reinterpret_cast<LPBYTE>(&info));
        std::string job = "<SX856 SY540 X120 Y45 F2 CI3>";
        for (std::size_t i = 0; i < cards; ++i) job += "<CARD " + std::to_string(i) + ">";
        DWORD written = 0;
        table->pfnWritePort(port, reinterpret_cast<LPBYTE>(job.data()), static_cast<DWORD>(job.size()), &written);

        auto production = std::async(std::launch::async, [&] {
            gProductionThread = std::this_thread::get_id();
            return table->pfnEndDocPort(port);
        });
        while (gProductionPolls.load() == 0) std::this_thread::yield();

        const auto started = Clock::now();
        std::vector<std::vector<Sample>> samples(static_cast<std::size_t>(clients));
        std::vector<std::thread> threads;
        threads.reserve(static_cast<std::size_t>(clients));
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                WideString request(u"<kx_api><command value=\"get_info\"/></kx_api>");
                std::vector<WCHAR> out(4096);
                while (Clock::now() - started < runFor) {
                    DWORD returned = 0;
                    const std::uint64_t pollsBefore = gProductionPolls.load();
                    tArmed = true;
                    const auto t0 = Clock::now();
                    table->pfnGetPrinterDataFromPort(port, 0, request.data(), nullptr, 0, out.data(),
                                                     static_cast<DWORD>(out.size() * sizeof(WCHAR)), &returned);
                    const auto t1 = Clock::now();
                    if (tArmed) continue;  // wrote nothing: no exchange to time
                    double wait = ms(tFirstWrite - t0) - (realClock ? 10.0 : 0.0);
                    samples[static_cast<std::size_t>(c)].push_back(
                        Sample{std::max(wait, 0.0), ms(t1 - t0), tPollsAtLock - pollsBefore});
                }
            });
        }
        for (auto& t : threads) t.join();
        const double elapsed = ms(Clock::now() - started);

        // Ends the job: the loop finds no card at its next cycle.
        WideString stop(u"<kx_api><command value=\"delete_job\"/></kx_api>");
        std::vector<WCHAR> out(1024);
        DWORD returned = 0;
        table->pfnGetPrinterDataFromPort(port, 0, stop.data(), nullptr, 0, out.data(),
                                         static_cast<DWORD>(out.size() * sizeof(WCHAR)), &returned);
        production.get();
        const std::uint64_t cycles = gProductionPolls.load();
        const std::size_t ejected = machine.countOf(command::Eject);
        table->pfnShutdown(monitor);
        spm.setPeer(nullptr);

        std::vector<double> waits, requests;
        std::uint64_t worstCycles = 0;
        for (const auto& list : samples) {
            for (const Sample& s : list) {
                waits.push_back(s.waitMs);
                requests.push_back(s.requestMs);
                worstCycles = std::max(worstCycles, s.cyclesWaited);
            }
        }
        state.SetIterationTime(elapsed / 1000.0);
        state.counters["requests"] = static_cast<double>(waits.size());
        state.counters["wait_median_ms"] = median(waits);
        state.counters["wait_worst_ms"] = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
        state.counters["request_median_ms"] = median(requests);
        state.counters["request_worst_ms"] =
            requests.empty() ? 0 : *std::max_element(requests.begin(), requests.end());
        state.counters["cycles_waited_worst"] = static_cast<double>(worstCycles);
        state.counters["loop_cycles"] = static_cast<double>(cycles);
        state.counters["cards_ejected"] = static_cast<double>(ejected);
    }
}

BENCHMARK(BM_GetInfoWhileProducing)
    ->ArgNames({"real_clock", "clients"})
    ->Args({0, 1})
    ->Args({0, 2})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
