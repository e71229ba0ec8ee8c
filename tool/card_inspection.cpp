#include "tool/shown_text.h"
#include "tool/card_inspection.h"

#include "production/payload_texts.h"
#include "simulator/card_log.h"

#include <algorithm>

namespace kestrova::tool {

namespace {

// Far beyond any card and any sum of two such values: a text a gigabyte long
// at the largest size stays a finite, orderable box.
constexpr std::int64_t kFar = std::int64_t{1} << 61;

std::int64_t clampFar(std::int64_t value) { return std::clamp(value, -kFar, kFar); }

std::int64_t scaled(std::int64_t a, std::int64_t b) {
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) return (a < 0) != (b < 0) ? -kFar : kFar;
    return clampFar(product);
}


std::string plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string itemValues(const simulator::PersonalisedItem& item) {
    return "X " + std::to_string(item.x) + ", Y " + std::to_string(item.y) + ", F " + std::to_string(item.f) +
           ", CI x 10 " + std::to_string(item.ci10) + ", \"" + shownText(item.text) + "\"";
}

// The payload as the machine decodes it, against what the card means.
void checkReadBack(const JobRecord& card, const std::vector<PlacedItem>& items, std::vector<CardProblem>& problems) {
    std::vector<simulator::PersonalisedItem> meant;
    for (const PlacedItem& placed : items) {
        if (!placed.hasLine) break;
        const std::int64_t ci10 = scaled(placed.item.ci, 10);
        meant.push_back({placed.item.x, placed.item.y, placed.item.f,
                         static_cast<std::int32_t>(std::clamp<std::int64_t>(ci10, INT32_MIN, INT32_MAX)),
                         std::string(placed.text)});
    }
    const auto read = simulator::decodePersonalisationText(personalisationText(card));
    if (read.items == meant) return;
    std::string why;
    for (std::size_t i = 0; i < std::min(read.items.size(), meant.size()); ++i) {
        if (read.items[i] == meant[i]) continue;
        why = "item " + std::to_string(i + 1) + " is sent as " + itemValues(meant[i]) + " but reads back as " +
              itemValues(read.items[i]);
        break;
    }
    if (why.empty()) {
        why = "the payload reads back as " + plural(read.items.size(), "item", "items") + ", not " +
              std::to_string(meant.size());
    }
    problems.push_back({CardProblemKind::Misread,
                        "the machine reads the Personalize payload differently (a value wider than its field "
                        "X 4, Y 4, F 1, CI x 10 3 digits, or a text holding ';' and twelve digits): " +
                            why});
}

void findOverlaps(CardInspection& out) {
    // Sweep along x: only boxes that start before one ends can meet it.
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < out.items.size(); ++i) {
        const TextBox& b = out.items[i].box;
        if (out.items[i].hasLine && b.right > b.left && b.bottom > b.top) order.push_back(i);
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return out.items[a].box.left < out.items[b].box.left; });
    for (std::size_t i = 0; i < order.size() && out.overlaps.size() < kMaxOverlapsReported; ++i) {
        const TextBox& box = out.items[order[i]].box;
        for (std::size_t j = i + 1; j < order.size() && out.items[order[j]].box.left < box.right; ++j) {
            if (!box.overlaps(out.items[order[j]].box)) continue;
            const auto [first, second] = std::minmax(out.items[order[i]].number, out.items[order[j]].number);
            out.overlaps.emplace_back(first, second);
            if (out.overlaps.size() == kMaxOverlapsReported) break;
        }
    }
    std::sort(out.overlaps.begin(), out.overlaps.end());
}

}  // namespace

bool TextBox::overlaps(const TextBox& other) const {
    return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
}

TextBox TextBox::intersection(const TextBox& other) const {
    return {std::max(left, other.left), std::max(top, other.top), std::min(right, other.right),
            std::min(bottom, other.bottom)};
}

TextBox textBox(const JobItem& item, std::uint64_t characters) {
    const std::int64_t size = std::max<std::int64_t>(item.ci, 0);
    const auto count = static_cast<std::int64_t>(std::min(characters, kLongestTextMeasured));
    return {item.x, item.y, clampFar(item.x + scaled(scaled(count, size), kGlyphWidthPerCi)),
            clampFar(item.y + scaled(size, kGlyphHeightPerCi))};
}

bool CardInspection::has(CardProblemKind kind) const {
    return std::any_of(problems.begin(), problems.end(), [kind](const CardProblem& p) { return p.kind == kind; });
}

const char* const kNoItemsText =
    "the layout has no items (no header record with X/Y items came before this card); production would halt at "
    "this card with hardware error -5";

CardInspection inspectCard(const JobRecord& card) {
    CardInspection out;
    const auto& items = card.items();
    const auto& lines = card.lines();
    auto problem = [&out](CardProblemKind kind, std::string text) { out.problems.push_back({kind, std::move(text)}); };

    const TextBox cardBox{0, 0, card.sx(), card.sy()};
    bool printsSomething = false;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PlacedItem placed;
        placed.number = i + 1;
        placed.item = items[i];
        placed.hasLine = i < lines.size();
        if (placed.hasLine) placed.text = lines[i];
        placed.box = textBox(placed.item, placed.text.size());
        const bool prints = !placed.text.empty() && placed.item.ci > 0;
        printsSomething = printsSomething || prints;
        placed.outside = prints && (placed.box.left < cardBox.left || placed.box.top < cardBox.top ||
                                    placed.box.right > cardBox.right || placed.box.bottom > cardBox.bottom);
        out.items.push_back(placed);
    }
    for (std::size_t k = items.size(); k < lines.size(); ++k) out.unprintedLines.push_back(lines[k]);

    if (items.empty()) {
        problem(CardProblemKind::NoItems, kNoItemsText);
        return out;
    }
    if (card.sx() <= 0 || card.sy() <= 0) {
        problem(CardProblemKind::NoSize, "the card size SX " + std::to_string(card.sx()) + " x SY " +
                                             std::to_string(card.sy()) + " leaves nothing to print on");
    }
    if (!printsSomething) problem(CardProblemKind::Empty, "empty card: nothing is printed on it");
    if (lines.size() < items.size()) {
        const std::size_t blank = items.size() - lines.size();
        problem(CardProblemKind::BlankItems,
                plural(lines.size(), "line", "lines") + " for " + plural(items.size(), "item", "items") + ": " +
                    (blank == 1 ? "item " + std::to_string(items.size()) + " is"
                                : "items " + std::to_string(lines.size() + 1) + "-" + std::to_string(items.size()) +
                                      " are") +
                    " left blank");
    }
    if (!out.unprintedLines.empty()) {
        std::string text = plural(lines.size(), "line", "lines") + " for " + plural(items.size(), "item", "items") +
                           ": not printed";
        for (std::size_t k = 0; k < out.unprintedLines.size() && k < 3; ++k) {
            text += (k == 0 ? " " : ", ") + std::string("\"") + shownText(out.unprintedLines[k]) + "\"";
        }
        if (out.unprintedLines.size() > 3) text += " and " + std::to_string(out.unprintedLines.size() - 3) + " more";
        problem(CardProblemKind::UnprintedLines, text);
    }
    for (const PlacedItem& placed : out.items) {
        if (placed.hasLine && !placed.text.empty() && placed.item.ci <= 0) {
            problem(CardProblemKind::Unsized, "item " + std::to_string(placed.number) + " has character size CI " +
                                                  std::to_string(placed.item.ci) + ": its text cannot be printed");
        }
        if (!placed.outside) continue;
        const TextBox& b = placed.box;
        problem(CardProblemKind::Outside, "item " + std::to_string(placed.number) + " is outside the card: its text "
                                              "spans x " + std::to_string(b.left) + " to " + std::to_string(b.right) +
                                              ", y " + std::to_string(b.top) + " to " + std::to_string(b.bottom) +
                                              " on a card of " + std::to_string(card.sx()) + " x " +
                                              std::to_string(card.sy()));
    }
    findOverlaps(out);
    for (const auto& [first, second] : out.overlaps) {
        problem(CardProblemKind::Overlap, "items " + std::to_string(first) + " and " + std::to_string(second) +
                                              " overlap: their texts print over each other");
    }
    if (out.overlaps.size() == kMaxOverlapsReported) {
        problem(CardProblemKind::Overlap, "(further overlaps on this card are not listed)");
    }
    checkReadBack(card, out.items, out.problems);
    return out;
}

}  // namespace kestrova::tool
