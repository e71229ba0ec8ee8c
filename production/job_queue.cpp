#include "production/job_queue.h"

namespace kestrova {

JobQueue::JobQueue() : layout(std::make_shared<const CardLayout>()) {}

void JobQueue::parseRecord(std::string_view) {}

JobRecord JobQueue::front() const { return records.front(); }

void JobQueue::popFront() {
    if (!records.empty()) records.pop_front();
}

void JobQueue::clearRecords() { std::deque<JobRecord>().swap(records); }

void JobQueue::loadRules() {}

void splitJobStream(JobStream&, JobQueue&) {}

}  // namespace kestrova
