// The queued cards of a job, packed. A whole job is held in memory before
// production starts, in a process whose address space may be small (the
// 32-bit spooler), so a queued card costs hardly more than its own text:
// cards lie back to back in blocks of kBlockSize bytes, each as its line
// count, its line lengths (variable-length numbers) and its line texts, with
// the card's start offset at the block's far end. Cards queued under one
// layout share it through a single run entry, not one pointer per card.
//
// Reads give a JobRecord by value, built from the packed bytes; appending
// and removing from the front are the queue operations, and a block is given
// back as soon as its last card has been removed.
#pragma once

#include "production/job_record.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <utility>

namespace kestrova {

// The largest card queued since a store was last empty, field by field:
// what a copy of any of its cards, and a payload made from it, needs at most.
struct CardBounds {
    std::size_t textBytes = 0;
    std::size_t lines = 0;
    std::size_t items = 0;  // of its layout
};

class JobRecordStore {
public:
    // The size of the job stream's chunks: a block takes the place of a
    // chunk the intake has just given back.
    static constexpr std::size_t kBlockSize = 64 * 1024;

    JobRecordStore() = default;
    JobRecordStore(const JobRecordStore& other);
    JobRecordStore& operator=(const JobRecordStore& other);
    JobRecordStore(JobRecordStore&&) noexcept = default;
    JobRecordStore& operator=(JobRecordStore&&) noexcept = default;
    ~JobRecordStore();

    std::size_t size() const { return static_cast<std::size_t>(endCard_ - frontCard_); }
    bool empty() const { return endCard_ == frontCard_; }

    // A copy of the card at `index` (0 is the front); the caller checks size().
    JobRecord operator[](std::size_t index) const;
    JobRecord front() const { return (*this)[0]; }
    // The same into `out`, reusing its storage (JobRecord::refill).
    void copyInto(std::size_t index, JobRecord& out) const;

    CardBounds bounds() const { return bounds_; }

    // Queues a card at the back. Throws std::bad_alloc when memory runs out
    // (the store is unchanged then) and std::length_error for a card whose
    // text could not be addressed in a block.
    void append(const std::shared_ptr<const CardLayout>& layout, const CardLines& lines);
    void push_back(const JobRecord& record) { append(record.layout(), record.lines()); }
    template <typename... Args>
    void emplace_back(Args&&... args) {
        push_back(JobRecord(std::forward<Args>(args)...));
    }

    // Removes the front card if there is one.
    void pop_front();
    // Removes every card and gives all memory back.
    void clear();

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = JobRecord;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = JobRecord;

        const_iterator(const JobRecordStore* store, std::size_t index) : store_(store), index_(index) {}
        JobRecord operator*() const { return (*store_)[index_]; }
        const_iterator& operator++() {
            ++index_;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return index_ == other.index_; }
        bool operator!=(const const_iterator& other) const { return index_ != other.index_; }

    private:
        const JobRecordStore* store_;
        std::size_t index_;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

private:
    // Card bytes grow from the front, the cards' start offsets (32 bits
    // each) from the back.
    struct Block {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::uint32_t capacity = 0;
        std::uint32_t used = 0;
        std::uint32_t cards = 0;
        std::uint64_t firstCard = 0;

        std::size_t room() const;
        const std::uint8_t* card(std::uint64_t index) const;
    };
    struct LayoutRun {
        std::uint64_t firstCard;  // the number of the first card queued under it
        std::shared_ptr<const CardLayout> layout;
    };

    const Block& blockOf(std::uint64_t card) const;
    const std::shared_ptr<const CardLayout>& layoutOf(std::uint64_t card) const;

    // Cards are numbered from the first one queued since the store was last
    // empty; the front card is frontCard_, the next one queued endCard_.
    std::deque<Block> blocks_;
    std::deque<LayoutRun> runs_;
    std::uint64_t frontCard_ = 0;
    std::uint64_t endCard_ = 0;
    CardBounds bounds_;
};

}  // namespace kestrova
