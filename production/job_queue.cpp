#include "production/job_queue.h"

#include "production/record_grammar.h"

#include <cstring>
#include <string>
#include <utility>

namespace kestrova {

namespace {

void applyRules(const CoordinateRules& rules, std::int32_t& coordinate) {
    // One lookup only: a replaced value is not replaced again.
    const auto rule = rules.find(coordinate);
    if (rule != rules.end()) coordinate = rule->second;
}

}  // namespace

JobQueue::JobQueue() : layout(std::make_shared<const CardLayout>()) {}

void JobQueue::parseRecord(std::string_view text) {
    if (text.empty()) return;
    const char* first = text.data();
    const char* const last = first + text.size();

    HeaderFields header;
    if (parseHeaderSet(first, last, header)) {
        CardLayout next;
        next.bracketF = header.bracketF.value_or(layout->bracketF);
        next.fn = header.fn ? std::move(*header.fn) : std::string(layout->fn);
        next.sy = header.sy.value_or(layout->sy);
        next.sx = header.sx.value_or(layout->sx);
        next.u = header.u.value_or(layout->u);
        for (;;) {
            JobItem item;
            if (!parseItemSet(first, last, item)) break;  // the rest starts no item
            applyRules(horizontalRules, item.x);
            applyRules(verticalRules, item.y);
            next.items.push_back(std::move(item));
        }
        // A fresh layout: cards queued under the old one keep it unchanged.
        layout = std::make_shared<const CardLayout>(std::move(next));
        return;
    }

    lineScratch_.clear();
    splitLines(text.data(), last, lineScratch_);
    records.append(layout, lineScratch_);
}

JobRecord JobQueue::front() const { return records.front(); }

void JobQueue::copyFront(JobRecord& record) const {
    if (records.empty()) {
        record.refill(nullptr);
        return;
    }
    records.copyInto(0, record);
}

void JobQueue::popFront() { records.pop_front(); }

void JobQueue::clearRecords() { records.clear(); }

void splitJobStream(JobStream& jobStream, JobQueue& jobQueue) {
    // A record lying inside one chunk is parsed where it lies; only one that
    // spans chunks is gathered into `pending`.
    std::string pending;
    bool inRecord = false;
    for (;;) {
        const std::size_t available = jobStream.chunkAvailable();
        if (available == 0) break;  // the end, or the error state
        const auto* data = reinterpret_cast<const char*>(jobStream.chunkData());
        if (!inRecord) {
            const void* open = std::memchr(data, '<', available);
            if (open == nullptr) {
                jobStream.consume(available);
                continue;
            }
            jobStream.consume(static_cast<std::size_t>(static_cast<const char*>(open) - data) + 1);
            inRecord = true;
            continue;
        }
        const void* close = std::memchr(data, '>', available);
        if (close == nullptr) {
            pending.append(data, available);
            jobStream.consume(available);
            continue;
        }
        const auto length = static_cast<std::size_t>(static_cast<const char*>(close) - data);
        if (pending.empty()) {
            if (length > 0) jobQueue.parseRecord(std::string_view(data, length));
        } else {
            pending.append(data, length);
            jobQueue.parseRecord(pending);
            pending.clear();
        }
        jobStream.consume(length + 1);
        inRecord = false;
    }
    // A record the stream ended inside is still a record.
    if (inRecord && !pending.empty()) jobQueue.parseRecord(pending);
}

}  // namespace kestrova
