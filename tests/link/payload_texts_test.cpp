#include "link_test_support.h"
#include "production/payload_texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

JobItem item(std::int32_t x, std::int32_t y, std::int32_t f, std::int32_t ci) {
    JobItem i;
    i.x = x;
    i.y = y;
    i.f = f;
    i.ci = ci;
    return i;
}

JobRecord card(std::vector<JobItem> items, const std::vector<std::string>& lines, std::int32_t sx = 0,
               std::int32_t sy = 0) {
    auto layout = std::make_shared<CardLayout>();
    layout->sx = sx;
    layout->sy = sy;
    layout->items = std::move(items);
    CardLines cardLines;
    for (const auto& line : lines) cardLines.push_back(line);
    return JobRecord(layout, cardLines);
}

TEST(RecordSetupText, NumbersInFullWithoutFill) {
    struct Case {
        std::int32_t sx, sy;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {856, 540, "06SZX85606SZY540"},
        {5, 540, "06SZX506SZY540"},
        {85, 7, "06SZX8506SZY7"},
        {-12, 0, "06SZX-1206SZY0"},
        {123456, INT32_MIN, "06SZX12345606SZY-2147483648"},
    };
    for (const auto& c : cases) EXPECT_EQ(recordSetupText(card({}, {}, c.sx, c.sy)), text(c.expected));
}

TEST(PersonalisationText, ItemsWithTheirLines) {
    const JobItem worked = item(120, 45, 2, 3);
    struct Case {
        const char* what;
        JobRecord record;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"worked item", card({worked}, {"CARD ONE"}), "A012000452030CARD ONE"},
        {"two items", card({worked, worked}, {"CARD ONE", "CARD ONE"}),
         "A012000452030CARD ONE;012000452030CARD ONE"},
        {"fewer lines than items", card({worked, worked}, {"ONLY"}), "A012000452030ONLY"},
        {"fewer items than lines", card({worked}, {"ONE", "TWO"}), "A012000452030ONE"},
        {"no lines", card({worked}, {}), "A"},
        {"fill left of the sign", card({item(-5, -45, -1, -2)}, {"x"}), "A00-50-45-1-20x"},
        {"wider than the field", card({item(12345, 0, 12, 100)}, {""}), "A123450000121000"},
        {"ci times ten past 32 bits", card({item(0, 0, 0, 214748365)}, {"z"}), "A0000000002147483650z"},
        {"most negative ci", card({item(0, 0, 0, INT32_MIN)}, {""}), "A000000000-21474836480"},
        {"lines kept as stored", card({item(1, 2, 3, 0)}, {std::string("  a\x01 b ", 7)}),
         std::string("A000100023000  a\x01 b ", 20)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(personalisationText(c.record), text(c.expected));
    }
}

}  // namespace
}  // namespace kestrova::testing
