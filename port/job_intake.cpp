#include "port/job_intake.h"

#include <utility>

namespace kestrova {

void JobIntake::startDocument(CoordinateRuleSet&& rules) {
    stream_.reset();
    const PortMutexLock guard(queueLock_);
    queue_.clearRecords();
    if (!rules.read) reportConfigurationNotFound();
    queue_.setRules(std::move(rules));
}

std::size_t JobIntake::queueCards() {
    const PortMutexLock guard(queueLock_);
    splitJobStream(stream_, queue_);
    return queue_.size();
}

std::size_t JobIntake::cardsLeft() const {
    const PortMutexLock guard(queueLock_);
    return queue_.size();
}

CardBounds JobIntake::largestCard() const {
    const PortMutexLock guard(queueLock_);
    return queue_.records.bounds();
}

void JobIntake::copyFrontCard(JobRecord& record) const {
    // Into the reserved record: the copy allocates nothing.
    const PortMutexLock guard(queueLock_);
    queue_.copyFront(record);
}

void JobIntake::dropFrontCard() {
    const PortMutexLock guard(queueLock_);
    if (queue_.size() != 0) queue_.popFront();
}

void JobIntake::dropCards() {
    const PortMutexLock guard(queueLock_);
    queue_.clearRecords();
}

}  // namespace kestrova
