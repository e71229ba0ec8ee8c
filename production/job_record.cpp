#include "production/job_record.h"

#include <stdexcept>
#include <utility>

namespace kestrova {

bool JobItem::operator==(const JobItem& o) const {
    return n == o.n && y == o.y && x == o.x && f == o.f && ci == o.ci && cs == o.cs && b == o.b && text == o.text;
}

bool CardLayout::operator==(const CardLayout& o) const {
    return bracketF == o.bracketF && fn == o.fn && sy == o.sy && sx == o.sx && u == o.u && items == o.items;
}

std::string_view CardLines::operator[](std::size_t index) const {
    const std::uint32_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
}

void CardLines::push_back(std::string_view line) {
    if (text_.size() + line.size() > UINT32_MAX) throw std::length_error("card text too long");
    text_.append(line.data(), line.size());
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
}

void CardLines::reserve(std::size_t textBytes, std::size_t lineCount) {
    text_.reserve(textBytes);
    ends_.reserve(lineCount);
}

void CardLines::clear() {
    text_.clear();
    ends_.clear();
}

bool CardLines::operator==(const CardLines& o) const { return text_ == o.text_ && ends_ == o.ends_; }

namespace {
const std::shared_ptr<const CardLayout>& emptyLayout() {
    static const std::shared_ptr<const CardLayout> empty = std::make_shared<const CardLayout>();
    return empty;
}
}  // namespace

JobRecord::JobRecord() : layout_(emptyLayout()) {}

JobRecord::JobRecord(std::shared_ptr<const CardLayout> layout, CardLines lines)
    : layout_(std::move(layout)), lines_(std::move(lines)) {
    if (!layout_) layout_ = emptyLayout();
}

CardLines& JobRecord::refill(const std::shared_ptr<const CardLayout>& layout) {
    layout_ = layout ? layout : emptyLayout();
    lines_.clear();
    return lines_;
}

bool JobRecord::operator==(const JobRecord& o) const {
    return (layout_ == o.layout_ || *layout_ == *o.layout_) && lines_ == o.lines_;
}

}  // namespace kestrova
