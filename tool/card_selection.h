// Which cards a preview draws: --cards RANGE ("1-20", "7", "1-5,40-45"), or
// by default the first 50.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::tool {

constexpr std::size_t kDefaultCardsDrawn = 50;

class CardSelection {
public:
    // The default: the first kDefaultCardsDrawn cards.
    CardSelection();
    // Null with the reason when the text is not a list of N or N-M (N >= 1, N <= M).
    static std::optional<CardSelection> parse(const std::string& text, std::string& error);

    bool contains(std::size_t card) const;  // 1-based
    bool isDefault() const { return default_; }
    std::string text() const;

private:
    std::vector<std::pair<std::size_t, std::size_t>> ranges_;  // inclusive, 1-based
    bool default_ = true;
};

}  // namespace kestrova::tool
