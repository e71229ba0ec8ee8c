// One card of a job: the layout in force when it was queued and its lines.
// A card is a value; the layout it carries is immutable and shared between
// all the cards queued under it, so a long job holds one copy of it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

struct JobItem {
    std::string n;
    std::int32_t y = 0;
    std::int32_t x = 0;
    std::int32_t f = 0;
    std::int32_t ci = 0;
    std::int32_t cs = 0;
    std::int32_t b = 0;
    std::string text;

    bool operator==(const JobItem& other) const;
};

// The header values and items a header record sets.
struct CardLayout {
    std::int32_t bracketF = 0;
    std::string fn;
    std::int32_t sy = 0;
    std::int32_t sx = 0;
    std::int32_t u = 0;
    std::vector<JobItem> items;

    bool operator==(const CardLayout& other) const;
};

// A card's lines, kept in one buffer: line k is the text for item k.
class CardLines {
public:
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view operator[](std::size_t index) const;
    // Every line's text back to back, without the breaks.
    std::string_view text() const { return text_; }
    std::size_t lineSize(std::size_t index) const {
        return ends_[index] - (index == 0 ? 0 : ends_[index - 1]);
    }
    void push_back(std::string_view line);
    void clear();
    // Room for `textBytes` of line text in `lineCount` lines, so that a card
    // is built without regrowing its buffers.
    void reserve(std::size_t textBytes, std::size_t lineCount);

    bool operator==(const CardLines& other) const;

private:
    std::string text_;
    std::vector<std::uint32_t> ends_;
};

class JobRecord {
public:
    JobRecord();
    JobRecord(std::shared_ptr<const CardLayout> layout, CardLines lines);

    std::int32_t bracketF() const { return layout_->bracketF; }
    const std::string& fn() const { return layout_->fn; }
    std::int32_t sy() const { return layout_->sy; }
    std::int32_t sx() const { return layout_->sx; }
    std::int32_t u() const { return layout_->u; }
    const std::vector<JobItem>& items() const { return layout_->items; }
    const CardLines& lines() const { return lines_; }
    const std::shared_ptr<const CardLayout>& layout() const { return layout_; }

    // Makes this record a card of `layout` (the empty layout for null) with
    // no lines yet, to be filled through the reference; the storage of its
    // lines stays, so a card of no more than reserve() allows allocates nothing.
    CardLines& refill(const std::shared_ptr<const CardLayout>& layout);
    void reserve(std::size_t textBytes, std::size_t lineCount) { lines_.reserve(textBytes, lineCount); }

    bool operator==(const JobRecord& other) const;

private:
    std::shared_ptr<const CardLayout> layout_;  // never null
    CardLines lines_;
};

}  // namespace kestrova
