// What would spoil a card, found from the layout the machine receives for it
// (the core's parsing, after the configuration rules) and from its
// Personalize payload as the machine reads it back.
#pragma once

#include "production/job_record.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::tool {

// The approximate glyph scale the preview and the checks use: a character
// of size CI is CI x 10 job units tall and CI x 6 wide (a monospaced face;
// on an ID-1 card laid out in tenths of a millimetre, CI is millimetres).
constexpr std::int64_t kGlyphHeightPerCi = 10;
constexpr std::int64_t kGlyphWidthPerCi = 6;

// Job units; y grows downwards, X/Y is the top-left corner of an item's text.
struct TextBox {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;
    std::int64_t bottom = 0;

    bool overlaps(const TextBox& other) const;
    TextBox intersection(const TextBox& other) const;
};

// Texts longer than this are measured as this long: far wider than any card,
// yet a finite box. 64 bits on every build, so that a 32-bit check measures
// exactly what a 64-bit one does.
constexpr std::uint64_t kLongestTextMeasured = std::uint64_t{1} << 40;

// The box of `characters` characters of an item's size at its coordinates.
TextBox textBox(const JobItem& item, std::uint64_t characters);

struct PlacedItem {
    std::size_t number = 0;  // 1-based, the item's place in the layout
    JobItem item;            // after the configuration rules
    std::string_view text;   // the card's line for it; empty when it has none
    bool hasLine = false;    // false: the item is left blank (not sent)
    TextBox box;
    bool outside = false;    // printed text reaches beyond the card
};

enum class CardProblemKind { NoItems, NoSize, Empty, BlankItems, UnprintedLines, Outside, Overlap, Unsized, Misread };

struct CardProblem {
    CardProblemKind kind;
    std::string text;  // printable ASCII: job bytes outside it as \xNN
};

struct CardInspection {
    std::vector<PlacedItem> items;  // every item of the layout, in order
    // Items whose boxes overlap, 1-based, each pair once.
    std::vector<std::pair<std::size_t, std::size_t>> overlaps;
    std::vector<std::string_view> unprintedLines;  // lines beyond the last item
    std::vector<CardProblem> problems;

    bool has(CardProblemKind kind) const;
};

// At most this many overlapping pairs are reported per card.
constexpr std::size_t kMaxOverlapsReported = 20;

CardInspection inspectCard(const JobRecord& card);

// The problem text of a card whose layout has no items.
extern const char* const kNoItemsText;

}  // namespace kestrova::tool
