// The largest job the module can take: a generated job is written through
// WritePort until storing fails (or a cap is reached), and what follows is
// looked at as a customer would meet it. The same steps run against the
// Linux module in a process with a limited address space (bench/largest_job.cpp)
// and against KestrovaLM.dll under Wine (largest_job_main.cpp, make bench-wine).
//
// Steps, all on one port of the module's table over a software port monitor
// and a machine that answers at once:
//  1. a document whose job is written in 64 KiB writes of whole cards (the
//     178-byte, 8-line card of the intake benchmark) until WritePort fails or
//     `capBytes` have been written;
//  2. that document's EndDocPort: what it returns, how many cards reached the
//     machine and whether the job was reported printed;
//  3. a two-card document on the same port, which must print whole;
//  4. the largest job that is stored and queued whole, with the control
//     requests still answered (the intake reports every card to produce;
//     the job is then deleted): the capped job itself, or, when storing
//     failed, the largest of a few fractions of what was stored. While such
//     a job is written, 32 MiB are held back, and given back if a request
//     goes unanswered so that the job can be deleted; the figure is that
//     much on the safe side.
#pragma once

#include "platform/spooler_monitor.h"

#include <cstdint>
#include <functional>
#include <string>

namespace kestrova::largest_job {

struct Options {
    std::uint64_t capBytes = 3ull << 30;
    // How many jobs the spooler has been told were printed so far
    // (SetJobW with JOB_CONTROL_LAST_PAGE_EJECTED); null where that cannot be seen.
    std::function<std::uint64_t()> jobsReportedPrinted;
    // The process's peak memory so far, in bytes.
    std::function<std::uint64_t()> peakMemory;
    // Progress lines for a long run.
    std::function<void(const std::string&)> progress;
};

struct Result {
    // Step 1.
    bool storeFailed = false;
    std::uint64_t bytesStored = 0;  // bytes of the WritePort calls that succeeded
    std::uint64_t cardsStored = 0;
    BOOL failedWriteResult = TRUE;
    DWORD failedWriteError = 0;
    std::uint64_t peakAfterStoring = 0;
    // Step 2.
    BOOL endDocResult = FALSE;
    std::uint64_t cardsProducedOfFailedJob = 0;
    int reportedPrinted = -1;  // 1 yes, 0 no, -1 cannot be seen here
    // Step 3.
    bool nextDocumentWhole = false;
    // Step 4 (0 when no job went through).
    std::uint64_t printableBytes = 0;
    std::uint64_t printableCards = 0;
    // The first (largest) job tried in step 4 during which a control
    // request went unanswered; 0 if none.
    std::uint64_t controlFailedBytes = 0;
    std::uint64_t peakOverall = 0;
};

constexpr std::size_t kJobBytesPerCard = 178;

Result measure(LPMONITOR2 table, HANDLE monitor, const Options& options);

}  // namespace kestrova::largest_job
