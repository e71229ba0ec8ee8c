// The text box check and the preview measure: the same number on every build.
// The counts here need more than 32 bits, so a count or a bound narrowed to a
// 32-bit size_t anywhere on the way gives another box.
#include "tool/card_inspection.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace kestrova::testing {
namespace {

using tool::kLongestTextMeasured;
using tool::TextBox;

TEST(CardInspection, MeasuresTextBoxesInSixtyFourBitsOnEveryBuild) {
    constexpr std::uint64_t kFiveBillion = 5'000'000'000ull;  // beyond 2^32
    struct Case {
        const char* name;
        std::int32_t x, y, ci;
        std::uint64_t characters;
        std::int64_t right, bottom;
    } cases[] = {
        {"one character", -20, 45, 3, 1, -20 + 18, 45 + 30},
        {"a line", 120, 200, 4, 19, 120 + 19 * 24, 200 + 40},
        {"five billion characters", 0, 0, 3, kFiveBillion, static_cast<std::int64_t>(kFiveBillion) * 18, 30},
        {"at the bound", 7, 0, 1, kLongestTextMeasured, 7 + static_cast<std::int64_t>(kLongestTextMeasured) * 6, 10},
        {"beyond the bound", 7, 0, 1, kLongestTextMeasured * 2,
         7 + static_cast<std::int64_t>(kLongestTextMeasured) * 6, 10},
        {"no size", 5, 6, 0, 12, 5, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JobItem item;
        item.x = c.x;
        item.y = c.y;
        item.ci = c.ci;
        const TextBox box = tool::textBox(item, c.characters);
        EXPECT_EQ(box.left, c.x);
        EXPECT_EQ(box.top, c.y);
        EXPECT_EQ(box.right, c.right);
        EXPECT_EQ(box.bottom, c.bottom);
    }
}

}  // namespace
}  // namespace kestrova::testing
