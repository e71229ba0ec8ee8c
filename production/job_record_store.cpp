#include "production/job_record_store.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kestrova {

namespace {

constexpr std::size_t kOffsetBytes = sizeof(std::uint32_t);

std::size_t numberSize(std::size_t value) {
    std::size_t bytes = 1;
    for (; value >= 0x80; value >>= 7) ++bytes;
    return bytes;
}

std::uint8_t* putNumber(std::uint8_t* at, std::size_t value) {
    for (; value >= 0x80; value >>= 7) *at++ = static_cast<std::uint8_t>(value | 0x80);
    *at++ = static_cast<std::uint8_t>(value);
    return at;
}

const std::uint8_t* getNumber(const std::uint8_t* at, std::size_t& value) {
    value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t byte = *at++;
        value |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return at;
    }
}

}  // namespace

std::size_t JobRecordStore::Block::room() const { return capacity - used - kOffsetBytes * cards; }

const std::uint8_t* JobRecordStore::Block::card(std::uint64_t index) const {
    std::uint32_t start = 0;
    std::memcpy(&start, bytes.get() + capacity - kOffsetBytes * (index + 1), kOffsetBytes);
    return bytes.get() + start;
}

JobRecordStore::JobRecordStore(const JobRecordStore& other) {
    for (const JobRecord& record : other) push_back(record);
}

JobRecordStore& JobRecordStore::operator=(const JobRecordStore& other) {
    if (this != &other) {
        JobRecordStore copy(other);
        *this = std::move(copy);
    }
    return *this;
}

JobRecordStore::~JobRecordStore() = default;

const JobRecordStore::Block& JobRecordStore::blockOf(std::uint64_t card) const {
    const Block& first = blocks_.front();
    if (card < first.firstCard + first.cards) return first;
    const auto after = std::upper_bound(blocks_.begin(), blocks_.end(), card,
                                        [](std::uint64_t c, const Block& block) { return c < block.firstCard; });
    return *std::prev(after);
}

const std::shared_ptr<const CardLayout>& JobRecordStore::layoutOf(std::uint64_t card) const {
    const auto after = std::upper_bound(runs_.begin(), runs_.end(), card,
                                        [](std::uint64_t c, const LayoutRun& run) { return c < run.firstCard; });
    return std::prev(after)->layout;
}

JobRecord JobRecordStore::operator[](std::size_t index) const {
    JobRecord record;
    copyInto(index, record);
    return record;
}

void JobRecordStore::copyInto(std::size_t index, JobRecord& out) const {
    const std::uint64_t card = frontCard_ + index;
    const Block& block = blockOf(card);
    const std::uint8_t* at = block.card(card - block.firstCard);
    std::size_t lineCount = 0;
    at = getNumber(at, lineCount);
    // The lengths first, to size the card's buffer once; then the texts.
    const std::uint8_t* text = at;
    std::size_t textBytes = 0;
    for (std::size_t i = 0; i < lineCount; ++i) {
        std::size_t length = 0;
        text = getNumber(text, length);
        textBytes += length;
    }
    CardLines& lines = out.refill(layoutOf(card));
    lines.reserve(textBytes, lineCount);
    for (std::size_t i = 0; i < lineCount; ++i) {
        std::size_t length = 0;
        at = getNumber(at, length);
        lines.push_back(std::string_view(reinterpret_cast<const char*>(text), length));
        text += length;
    }
}

void JobRecordStore::append(const std::shared_ptr<const CardLayout>& layout, const CardLines& lines) {
    const std::size_t lineCount = lines.size();
    const std::string_view text = lines.text();
    std::size_t encoded = numberSize(lineCount) + text.size();
    for (std::size_t i = 0; i < lineCount; ++i) encoded += numberSize(lines.lineSize(i));
    const std::size_t needed = encoded + kOffsetBytes;

    if (runs_.empty() || runs_.back().layout != layout) runs_.push_back(LayoutRun{endCard_, layout});
    if (blocks_.empty() || blocks_.back().room() < needed) {
        // A card larger than a block gets a block of its own size.
        const std::size_t capacity = std::max(kBlockSize, needed);
        if (capacity > UINT32_MAX) throw std::length_error("card too large");
        Block block;
        block.bytes.reset(new std::uint8_t[capacity]);
        block.capacity = static_cast<std::uint32_t>(capacity);
        block.firstCard = endCard_;
        blocks_.push_back(std::move(block));
    }

    Block& block = blocks_.back();
    const std::uint32_t start = block.used;
    std::uint8_t* at = putNumber(block.bytes.get() + start, lineCount);
    for (std::size_t i = 0; i < lineCount; ++i) at = putNumber(at, lines.lineSize(i));
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    ++block.cards;
    std::memcpy(block.bytes.get() + block.capacity - kOffsetBytes * block.cards, &start, kOffsetBytes);
    block.used = static_cast<std::uint32_t>(start + encoded);
    ++endCard_;
    bounds_.textBytes = std::max(bounds_.textBytes, text.size());
    bounds_.lines = std::max(bounds_.lines, lineCount);
    bounds_.items = std::max(bounds_.items, layout ? layout->items.size() : 0);
}

void JobRecordStore::pop_front() {
    if (empty()) return;
    ++frontCard_;
    if (empty()) {
        clear();
        return;
    }
    // The queue is not empty, so a later block holds the new front card.
    while (blocks_.front().firstCard + blocks_.front().cards <= frontCard_) blocks_.pop_front();
    while (runs_.size() > 1 && runs_[1].firstCard <= frontCard_) runs_.pop_front();
}

void JobRecordStore::clear() {
    // clear() gives every block back and allocates nothing (an empty deque
    // made to swap with would), so a document start cannot fail here.
    blocks_.clear();
    runs_.clear();
    frontCard_ = 0;
    endCard_ = 0;
    bounds_ = CardBounds();
}

}  // namespace kestrova
