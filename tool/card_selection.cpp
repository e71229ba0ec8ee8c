#include "tool/card_selection.h"

#include "simulator/option_text.h"

#include <algorithm>

namespace kestrova::tool {

namespace {

constexpr std::uint64_t kLargestCard = 1000000000000ULL;

}  // namespace

CardSelection::CardSelection() : ranges_{{1, kDefaultCardsDrawn}} {}

std::optional<CardSelection> CardSelection::parse(const std::string& text, std::string& error) {
    CardSelection selection;
    selection.ranges_.clear();
    selection.default_ = false;
    for (const std::string& part : simulator::option_text::split(text, ',')) {
        const std::size_t dash = part.find('-');
        const auto first = simulator::option_text::parseUnsigned(part.substr(0, dash), kLargestCard);
        const auto last = dash == std::string::npos
                              ? first
                              : simulator::option_text::parseUnsigned(part.substr(dash + 1), kLargestCard);
        if (!first || !last || *first == 0 || *last < *first) {
            error = "--cards takes card numbers N or ranges N-M (1 <= N <= M), separated by commas, such as 1-20 "
                    "or 1-5,40; not '" + text + "'";
            return std::nullopt;
        }
        selection.ranges_.emplace_back(static_cast<std::size_t>(*first), static_cast<std::size_t>(*last));
    }
    return selection;
}

bool CardSelection::contains(std::size_t card) const {
    return std::any_of(ranges_.begin(), ranges_.end(),
                       [card](const auto& range) { return card >= range.first && card <= range.second; });
}

std::string CardSelection::text() const {
    std::string out;
    for (const auto& [first, last] : ranges_) {
        if (!out.empty()) out += ",";
        out += std::to_string(first) + (last == first ? "" : "-" + std::to_string(last));
    }
    return out;
}

}  // namespace kestrova::tool
