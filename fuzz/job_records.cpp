// A job's bytes appended in pieces (the first input byte picks the piece
// size, as WritePort calls would), then split into records and parsed. The
// cards that come out must be sane: a layout always, no more cards than
// records, no line holding a line break, and every item's key text taken
// from the job itself.
#include "production/job_queue.h"
#include "production/job_record.h"
#include "production/job_stream.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrova;
    if (size == 0) return 0;
    const std::size_t piece = std::size_t{data[0]} + 1;
    const std::uint8_t* job = data + 1;
    const std::size_t jobSize = size - 1;
    const std::string_view jobText(reinterpret_cast<const char*>(job), jobSize);

    JobStream stream;
    for (std::size_t at = 0; at < jobSize; at += piece) {
        if (!stream.append(job + at, std::min(piece, jobSize - at))) std::abort();
    }
    if (stream.size() != jobSize) std::abort();

    JobQueue queue;
    splitJobStream(stream, queue);

    const std::size_t recordEnds = static_cast<std::size_t>(std::count(jobText.begin(), jobText.end(), '>'));
    const std::size_t lineBreaks = static_cast<std::size_t>(
        std::count_if(jobText.begin(), jobText.end(), [](char c) { return c == '\r' || c == '\n'; }));
    if (queue.layout == nullptr) std::abort();
    // A final record without '>' may still count.
    if (queue.size() > recordEnds + 1) std::abort();

    std::size_t lineBytes = 0;
    while (queue.size() > 0) {
        const JobRecord card = queue.front();
        if (card.layout() == nullptr) std::abort();
        for (const JobItem& item : card.items()) {
            if (!item.n.empty() && jobText.find(item.n) == std::string_view::npos) std::abort();
            if (!item.text.empty() && jobText.find(item.text) == std::string_view::npos) std::abort();
        }
        const CardLines& lines = card.lines();
        if (lines.size() > lineBreaks + 1) std::abort();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            if (line.find('\r') != std::string_view::npos || line.find('\n') != std::string_view::npos) std::abort();
            lineBytes += line.size();
        }
        queue.popFront();
    }
    if (lineBytes > jobSize) std::abort();
    return 0;
}
