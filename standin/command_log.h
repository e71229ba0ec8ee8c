// What a machine double has heard: every command counted, and while
// recording (up to `limit` entries) each one kept in order, so that long runs
// need not keep them all.
//
// `Entry` carries at least `command`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::standin {

template <typename Entry>
class CommandLog {
public:
    explicit CommandLog(std::size_t limit = std::numeric_limits<std::size_t>::max()) : limit_(limit) {}

    void record(Entry entry) {
        ++total_;
        ++counts_[entry.command];
        if (recording_ && entries_.size() < limit_) entries_.push_back(std::move(entry));
    }
    void setRecording(bool record) { recording_ = record; }
    // Forgets the entries and the counts; recording stays as it was.
    void clear() {
        entries_.clear();
        counts_.clear();
        total_ = 0;
    }

    const std::vector<Entry>& entries() const { return entries_; }
    // The command letters kept, in order ("p!pplp...").
    std::string letters() const {
        std::string out;
        out.reserve(entries_.size());
        for (const Entry& entry : entries_) out.push_back(static_cast<char>(entry.command));
        return out;
    }
    std::size_t countOf(std::uint8_t command) const {
        const auto it = counts_.find(command);
        return it == counts_.end() ? 0 : it->second;
    }
    std::size_t total() const { return total_; }

private:
    std::size_t limit_;
    bool recording_ = true;
    std::vector<Entry> entries_;
    std::map<std::uint8_t, std::size_t> counts_;
    std::size_t total_ = 0;
};

}  // namespace kestrova::standin
