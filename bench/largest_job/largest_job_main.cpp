// The largest-job steps (largest_job_run.h) against KestrovaLM.dll on a
// Windows runtime: make bench-wine runs it under Wine for the x86 module
// where 32-bit programs run, and for the x64 module. It prints what it found
// and writes the figures as a benchmark result that scripts/bench_report.py
// puts into docs/performance.md.
//
//   largest_job --module PATH --label NAME [--json FILE] [--cap-mib N]
//
// No printer exists under Wine, so OpenPrinterW fails and the spooler is
// never told anything: whether a job was reported printed cannot be seen
// here (the Linux measurement shows it).
#include "bench/largest_job/largest_job_run.h"
#include "tool/module_loader.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace kestrova;

constexpr double kMiB = 1024.0 * 1024.0;

// The highest commit seen so far: Wine does not keep a true peak, so every
// reading is compared with the ones before.
std::uint64_t peakCommit() {
    static std::uint64_t highest = 0;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) == FALSE) return highest;
    highest = std::max<std::uint64_t>({highest, counters.PeakPagefileUsage, counters.PagefileUsage});
    return highest;
}

int usage() {
    std::fprintf(stderr, "usage: largest_job --module PATH --label NAME [--json FILE] [--cap-mib N]\n");
    return 2;
}

void writeJson(const std::string& path, const std::string& label, double seconds, const largest_job::Result& r,
               double capMiB) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "largest_job: cannot write %s\n", path.c_str());
        return;
    }
    std::fprintf(out,
                 "{\"benchmarks\": [{\"name\": \"LargestJob/wine_%s\", \"run_type\": \"iteration\", "
                 "\"iterations\": 1, \"real_time\": %.3f, \"time_unit\": \"s\", "
                 "\"pointer_bits\": %d, \"cap_MiB\": %.0f, \"store_failed\": %d, \"stored_MiB\": %.2f, "
                 "\"stored_cards\": %llu, \"write_result\": %d, \"write_error\": %lu, \"end_doc_result\": %d, "
                 "\"cards_produced_failed_job\": %llu, \"reported_printed\": %d, \"next_document_whole\": %d, "
                 "\"printable_MiB\": %.2f, \"printable_cards\": %llu, \"control_failed_MiB\": %.2f, "
                 "\"peak_after_storing_MiB\": %.2f, "
                 "\"peak_MiB\": %.2f}]}\n",
                 label.c_str(), seconds, static_cast<int>(8 * sizeof(void*)), capMiB, r.storeFailed ? 1 : 0,
                 static_cast<double>(r.bytesStored) / kMiB, static_cast<unsigned long long>(r.cardsStored),
                 static_cast<int>(r.failedWriteResult), static_cast<unsigned long>(r.failedWriteError),
                 static_cast<int>(r.endDocResult), static_cast<unsigned long long>(r.cardsProducedOfFailedJob),
                 r.reportedPrinted, r.nextDocumentWhole ? 1 : 0, static_cast<double>(r.printableBytes) / kMiB,
                 static_cast<unsigned long long>(r.printableCards), static_cast<double>(r.controlFailedBytes) / kMiB,
                 static_cast<double>(r.peakAfterStoring) / kMiB,
                 static_cast<double>(r.peakOverall) / kMiB);
    std::fclose(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::string modulePath, label, jsonPath;
    double capMiB = 3072;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--module" && hasValue) {
            modulePath = argv[++i];
        } else if (arg == "--label" && hasValue) {
            label = argv[++i];
        } else if (arg == "--json" && hasValue) {
            jsonPath = argv[++i];
        } else if (arg == "--cap-mib" && hasValue) {
            capMiB = std::strtod(argv[++i], nullptr);
        } else {
            return usage();
        }
    }
    if (modulePath.empty() || label.empty() || capMiB <= 0) return usage();

    tool::LoadedModule module;
    const tool::InitializePrintMonitor2Fn initialize = module.load(modulePath) ? module.entry() : nullptr;
    if (initialize == nullptr) {
        std::fprintf(stderr, "largest_job: %s: cannot load the module: %s\n", label.c_str(), module.error().c_str());
        return 1;
    }
    HANDLE monitor = nullptr;
    LPMONITOR2 table = initialize(nullptr, &monitor);
    if (table == nullptr) return 1;

    largest_job::Options options;
    options.capBytes = static_cast<std::uint64_t>(capMiB * kMiB);
    options.peakMemory = &peakCommit;
    options.progress = [&](const std::string& line) {
        std::fprintf(stderr, "largest_job: %s: %s\n", label.c_str(), line.c_str());
    };
    const auto start = std::chrono::steady_clock::now();
    const largest_job::Result r = largest_job::measure(table, monitor, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    table->pfnShutdown(monitor);

    std::printf("largest_job: %s (%d-bit): %s after %.0f MiB, %llu cards",
                label.c_str(), static_cast<int>(8 * sizeof(void*)),
                r.storeFailed ? "storing failed" : "the cap was reached", static_cast<double>(r.bytesStored) / kMiB,
                static_cast<unsigned long long>(r.cardsStored));
    if (r.storeFailed) {
        std::printf(" (WritePort %d, error %lu)", static_cast<int>(r.failedWriteResult),
                    static_cast<unsigned long>(r.failedWriteError));
    }
    std::printf("; peak commit %.0f MiB\n", static_cast<double>(r.peakAfterStoring) / kMiB);
    std::printf("largest_job: %s: its EndDocPort returned %d, %llu card(s) produced; the next document %s\n",
                label.c_str(), static_cast<int>(r.endDocResult),
                static_cast<unsigned long long>(r.cardsProducedOfFailedJob),
                r.nextDocumentWhole ? "printed whole" : "did NOT print whole");
    if (r.storeFailed) {
        std::printf("largest_job: %s: largest job stored and queued whole: %.0f MiB, %llu cards\n", label.c_str(),
                    static_cast<double>(r.printableBytes) / kMiB, static_cast<unsigned long long>(r.printableCards));
    }
    if (!jsonPath.empty()) writeJson(jsonPath, label, seconds, r, capMiB);
    return 0;
}
