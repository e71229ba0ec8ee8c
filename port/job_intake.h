// A port's job on its way in: the bytes WritePort buffers and the cards
// EndDocPort makes of them. The cards are read by production and by control
// requests at once, so they sit behind their own lock, taken after portLock
// and never before it. The bytes are touched only by the document's own
// calls (StartDocPort, WritePort, EndDocPort), which the spooler makes one at
// a time, and by what they call.
#pragma once

#include "port/port_mutex.h"
#include "production/configuration.h"
#include "production/job_queue.h"
#include "production/job_record.h"
#include "production/job_stream.h"

#include <cstddef>
#include <cstdint>

namespace kestrova {

class JobIntake {
public:
    // A document starts: no bytes, no cards, and the coordinate rules read
    // for it (a missing configuration file is reported).
    void startDocument(CoordinateRuleSet&& rules) EXCLUDES(queueLock_);

    // WritePort's bytes; false once the stream has lost some.
    bool append(const std::uint8_t* data, std::size_t size) { return stream_.append(data, size); }
    bool lostBytes() const { return stream_.failed(); }
    std::size_t bytesBuffered() const { return stream_.size(); }
    void dropBytes() { stream_.reset(); }
    // The buffered bytes become queued cards; returns how many are queued.
    std::size_t queueCards() EXCLUDES(queueLock_);

    std::size_t cardsLeft() const EXCLUDES(queueLock_);
    // The largest card queued, for reserving what producing it needs.
    CardBounds largestCard() const EXCLUDES(queueLock_);
    // The front card into `record`, reusing its storage.
    void copyFrontCard(JobRecord& record) const EXCLUDES(queueLock_);
    // The front card is done with (ejected, or given up by a restore).
    void dropFrontCard() EXCLUDES(queueLock_);
    void dropCards() EXCLUDES(queueLock_);

    // The queue itself, under its lock, for what builds or inspects it whole.
    template <typename Work>
    auto withQueue(Work&& work) EXCLUDES(queueLock_) {
        const PortMutexLock guard(queueLock_);
        return work(queue_);
    }

    // The buffered bytes themselves, for what reads them whole.
    template <typename Work>
    auto withBytes(Work&& work) {
        return work(stream_);
    }

private:
    JobStream stream_;
    mutable PortMutex queueLock_;
    JobQueue queue_ GUARDED_BY(queueLock_);
};

}  // namespace kestrova
