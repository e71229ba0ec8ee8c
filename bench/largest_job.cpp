// The largest job the Linux module takes in a process limited to 2 GiB of
// address space (setrlimit RLIMIT_AS), as a stand-in for the 32-bit spooler
// on machines that cannot run 32-bit programs. The steps are those of
// largest_job/largest_job_run.h; make bench-wine runs them against the DLLs.
#include "bench/largest_job/largest_job_run.h"
#include "monitor/language_monitor.h"
#include "standin/platform_standin.h"

#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace kestrova {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kAddressSpace = 2048 * kMiB;

// A line of /proc/self/status ("VmPeak:  1234 kB"), in bytes.
std::uint64_t statusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, key.size() + 1, key + ":") == 0) return std::stoull(line.substr(key.size() + 1)) * 1024;
    }
    return 0;
}

std::uint64_t jobsReportedPrinted() {
    std::uint64_t count = 0;
    for (const auto& call : standin::callsNamed("SetJobW")) count += call.command == JOB_CONTROL_LAST_PAGE_EJECTED;
    return count;
}

void LargestJob(benchmark::State& state) {
    standin::reset();
    standin::setClockMode(standin::ClockMode::Real);
    standin::setRecordSleeps(false);
    // One heap for every thread, as in a Windows process: memory one thread
    // gives back is there for the next.
    mallopt(M_ARENA_MAX, 1);
    for (auto _ : state) {
        (void)_;
        rlimit previous{};
        getrlimit(RLIMIT_AS, &previous);
        rlimit limited = previous;
        limited.rlim_cur = kAddressSpace;
        if (setrlimit(RLIMIT_AS, &limited) != 0) {
            state.SkipWithError("setrlimit(RLIMIT_AS) refused");
            return;
        }
        HANDLE monitor = nullptr;
        LPMONITOR2 table = InitializePrintMonitor2(nullptr, &monitor);
        largest_job::Options options;
        options.jobsReportedPrinted = &jobsReportedPrinted;
        options.peakMemory = [] { return statusBytes("VmPeak"); };
        options.progress = [](const std::string& line) {
            std::fprintf(stderr, "largest job: %s (address space in use: %llu MiB)\n", line.c_str(),
                         static_cast<unsigned long long>(statusBytes("VmSize") / kMiB));
        };
        const auto start = std::chrono::steady_clock::now();
        const largest_job::Result r = largest_job::measure(table, monitor, options);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        table->pfnShutdown(monitor);
        setrlimit(RLIMIT_AS, &previous);

        state.counters["limit_MiB"] = static_cast<double>(kAddressSpace) / kMiB;
        state.counters["store_failed"] = r.storeFailed;
        state.counters["stored_MiB"] = static_cast<double>(r.bytesStored) / kMiB;
        state.counters["stored_cards"] = static_cast<double>(r.cardsStored);
        state.counters["write_result"] = r.failedWriteResult;
        state.counters["write_error"] = r.failedWriteError;
        state.counters["end_doc_result"] = r.endDocResult;
        state.counters["cards_produced_failed_job"] = static_cast<double>(r.cardsProducedOfFailedJob);
        state.counters["reported_printed"] = r.reportedPrinted;
        state.counters["next_document_whole"] = r.nextDocumentWhole;
        state.counters["printable_MiB"] = static_cast<double>(r.printableBytes) / kMiB;
        state.counters["printable_cards"] = static_cast<double>(r.printableCards);
        state.counters["control_failed_MiB"] = static_cast<double>(r.controlFailedBytes) / kMiB;
        state.counters["peak_after_storing_MiB"] = static_cast<double>(r.peakAfterStoring) / kMiB;
        state.counters["peak_MiB"] = static_cast<double>(r.peakOverall) / kMiB;
        state.counters["peak_rss_MiB"] = static_cast<double>(statusBytes("VmHWM")) / kMiB;
    }
}

BENCHMARK(LargestJob)->Name("LargestJob/linux_address_space_2GiB")->Iterations(1)->UseManualTime()->Unit(
    benchmark::kSecond);

}  // namespace
}  // namespace kestrova

BENCHMARK_MAIN();
