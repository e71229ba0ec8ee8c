// Intake of a large job: 100,000 cards under one header of 8 items, each
// card 8 lines of 20 bytes (178 bytes of job per card). Measures splitting
// and parsing against a bare memchr scan of the same bytes, and the peak
// memory that the stream and the queue hold together, counted by this
// program's operator new; the same memory figures for a job of 800,000
// one-line cards (24 bytes of job per card), where what a card costs beside
// its text weighs most.
#include "production/job_queue.h"
#include "production/job_stream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

std::atomic<std::size_t> gLive{0};
std::atomic<std::size_t> gPeak{0};

// Every block carries its size in front, so delete knows what it gives back.
constexpr std::size_t kHeader = alignof(std::max_align_t);

void* countedAllocate(std::size_t size) {
    void* raw = std::malloc(size + kHeader);
    if (raw == nullptr) throw std::bad_alloc();
    *static_cast<std::size_t*>(raw) = size;
    const std::size_t live = gLive.fetch_add(size, std::memory_order_relaxed) + size;
    std::size_t peak = gPeak.load(std::memory_order_relaxed);
    while (live > peak && !gPeak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return static_cast<char*>(raw) + kHeader;
}

void countedFree(void* block) noexcept {
    if (block == nullptr) return;
    void* raw = static_cast<char*>(block) - kHeader;
    gLive.fetch_sub(*static_cast<std::size_t*>(raw), std::memory_order_relaxed);
    std::free(raw);
}

constexpr int kCards = 100000;
constexpr int kItems = 8;
constexpr int kOneLineCards = 800000;
constexpr std::size_t kWrite = 64 * 1024;  // the size of one spooler write

// One header record of `items` items, then `cards` cards of `items` lines.
std::string makeJob(int cards, int items) {
    std::string out = "<]F1 FN=Arial SX856 SY540 U1";
    for (int i = 0; i < items; ++i) out += " X" + std::to_string(100 + i) + " Y" + std::to_string(200 + 30 * i) + " F1 CI5";
    out += ">\r\n";
    char line[32];
    for (int card = 0; card < cards; ++card) {
        out += '<';
        for (int i = 0; i < items; ++i) {
            std::snprintf(line, sizeof line, "Card %06d line %d %c", card % 1000000, i, 'a' + i);
            out += line;
            out += i + 1 < items ? "\r\n" : "";
        }
        out += ">\r\n";
    }
    return out;
}

const std::string& job() {
    static const std::string bytes = makeJob(kCards, kItems);
    return bytes;
}

const std::string& oneLineJob() {
    static const std::string bytes = makeJob(kOneLineCards, 1);
    return bytes;
}

void writeJob(kestrova::JobStream& stream, const std::string& bytes = job()) {
    for (std::size_t at = 0; at < bytes.size(); at += kWrite) {
        stream.append(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, std::min(kWrite, bytes.size() - at));
    }
}

void BM_SplitAndParse(benchmark::State& state) {
    const std::size_t size = job().size();
    std::size_t cards = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto stream = std::make_unique<kestrova::JobStream>();
        auto queue = std::make_unique<kestrova::JobQueue>();
        writeJob(*stream);
        state.ResumeTiming();
        kestrova::splitJobStream(*stream, *queue);
        state.PauseTiming();
        cards = queue->size();
        queue.reset();
        stream.reset();
        state.ResumeTiming();
    }
    if (cards != kCards) state.SkipWithError("wrong number of cards");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["job_MiB"] = static_cast<double>(size) / (1024.0 * 1024.0);
}
BENCHMARK(BM_SplitAndParse)->Unit(benchmark::kMillisecond);

// The ceiling: finding every '<' and '>' of the job with memchr, no more.
void BM_MemchrScan(benchmark::State& state) {
    const std::string& bytes = job();
    for (auto _ : state) {
        const char* at = bytes.data();
        const char* const end = at + bytes.size();
        std::size_t records = 0;
        char wanted = '<';
        while (const void* hit = std::memchr(at, wanted, static_cast<std::size_t>(end - at))) {
            at = static_cast<const char*>(hit) + 1;
            if (wanted == '>') ++records;
            wanted = wanted == '<' ? '>' : '<';
        }
        benchmark::DoNotOptimize(records);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_MemchrScan)->Unit(benchmark::kMillisecond);

// Peak memory of the whole intake, writes included, relative to the job's size.
void intakePeakMemory(benchmark::State& state, const std::string& bytes, int cards) {
    const std::size_t size = bytes.size();
    double peakBytes = 0;
    double heldBytes = 0;
    std::size_t queued = 0;
    for (auto _ : state) {
        const std::size_t base = gLive.load();
        gPeak.store(base);
        auto stream = std::make_unique<kestrova::JobStream>();
        auto queue = std::make_unique<kestrova::JobQueue>();
        writeJob(*stream, bytes);
        kestrova::splitJobStream(*stream, *queue);
        stream->reset();  // what production does once the stream is drained
        heldBytes = static_cast<double>(gLive.load() - base);
        peakBytes = static_cast<double>(gPeak.load() - base);
        queued = queue->size();
    }
    if (queued != static_cast<std::size_t>(cards)) state.SkipWithError("wrong number of cards");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["cards"] = static_cast<double>(cards);
    state.counters["job_MiB"] = static_cast<double>(size) / (1024.0 * 1024.0);
    state.counters["job_bytes_per_card"] = static_cast<double>(size) / cards;
    state.counters["peak_MiB"] = peakBytes / (1024.0 * 1024.0);
    state.counters["queue_MiB"] = heldBytes / (1024.0 * 1024.0);
    state.counters["peak_per_job_byte"] = peakBytes / static_cast<double>(size);
    state.counters["queue_per_job_byte"] = heldBytes / static_cast<double>(size);
    state.counters["queue_bytes_per_card"] = heldBytes / cards;
}

void BM_IntakePeakMemory(benchmark::State& state) { intakePeakMemory(state, job(), kCards); }
BENCHMARK(BM_IntakePeakMemory)->Unit(benchmark::kMillisecond);

void BM_IntakePeakMemoryOneLineCards(benchmark::State& state) {
    intakePeakMemory(state, oneLineJob(), kOneLineCards);
}
BENCHMARK(BM_IntakePeakMemoryOneLineCards)->Unit(benchmark::kMillisecond);

}  // namespace

void* operator new(std::size_t size) { return countedAllocate(size); }
void* operator new[](std::size_t size) { return countedAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return countedAllocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { countedFree(block); }
void operator delete[](void* block) noexcept { countedFree(block); }
void operator delete(void* block, std::size_t) noexcept { countedFree(block); }
void operator delete[](void* block, std::size_t) noexcept { countedFree(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { countedFree(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { countedFree(block); }

BENCHMARK_MAIN();
