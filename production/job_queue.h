// The port's cards still to produce, with the layout in force and the
// coordinate rules of the configuration file. Guarded by the port's queueLock.
#pragma once

#include "production/job_record.h"
#include "production/job_record_store.h"
#include "production/job_stream.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>

namespace kestrova {

using CoordinateRules = std::map<std::int32_t, std::int32_t>;
struct CoordinateRuleSet;  // production/configuration.h

class JobQueue {
public:
    JobQueue();

    // Parses one record's text (without its delimiters): a header record
    // sets the layout, anything else queues a card.
    void parseRecord(std::string_view text);

    std::size_t size() const { return records.size(); }
    JobRecord front() const;  // the caller checks size() first
    // The front card into `record`, reusing its storage; an empty record
    // when no card is queued.
    void copyFront(JobRecord& record) const;
    void popFront();
    void clearRecords();

    // Reloads the coordinate rules from the configuration file.
    void loadRules();
    // Puts rules read earlier in place of the current ones.
    void setRules(CoordinateRuleSet&& rules) noexcept;

    std::shared_ptr<const CardLayout> layout;  // never null
    JobRecordStore records;
    CoordinateRules horizontalRules;
    CoordinateRules verticalRules;

private:
    CardLines lineScratch_;  // a data record's lines on their way into records
};

// Drains the stream into records, handing each non-empty one to parseRecord.
void splitJobStream(JobStream& jobStream, JobQueue& jobQueue);

}  // namespace kestrova
