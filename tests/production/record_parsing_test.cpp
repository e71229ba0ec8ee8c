// Record texts as parseRecord sees them: which are header records, which
// values a header sets, and how a data record splits into lines.
#include "production/job_queue.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace kestrova {
namespace {

using namespace std::string_literals;

// The layout in the record's own notation, fields that are 0 or empty left out.
std::string describe(const CardLayout& layout) {
    std::string out;
    const auto number = [&out](const char* key, std::int32_t value) {
        if (value != 0) out += std::string(key) + std::to_string(value) + " ";
    };
    const auto text = [&out](const char* key, const std::string& value) {
        if (!value.empty()) out += key + value + " ";
    };
    number("]F", layout.bracketF);
    text("FN=", layout.fn);
    number("SY", layout.sy);
    number("SX", layout.sx);
    number("U", layout.u);
    for (const JobItem& item : layout.items) {
        out += "| ";
        text("N=", item.n);
        number("Y", item.y);
        number("X", item.x);
        number("F", item.f);
        number("CI", item.ci);
        number("CS", item.cs);
        number("B", item.b);
        if (!item.text.empty()) out += "\"" + item.text + "\" ";
    }
    return out;
}

struct HeaderCase {
    const char* name;
    std::string before;  // a header record parsed first ("" for none)
    std::string text;
    std::string expected;  // describe() of the layout afterwards
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class HeaderRecord : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderRecord, SetsTheLayoutAndQueuesNoCard) {
    const HeaderCase& c = GetParam();
    JobQueue queue;
    if (!c.before.empty()) queue.parseRecord(c.before);
    queue.parseRecord(c.text);
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(describe(*queue.layout), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HeaderRecord,
    ::testing::Values(
        HeaderCase{"SecondXStartsTheNextItem", "", "SX856 SY540 X100 Y200 F1 CI5 X100 Y300 F2 CI5",
                   "SY540 SX856 | Y200 X100 F1 CI5 | Y300 X100 F2 CI5 "},
        HeaderCase{"KeysWithoutWhitespaceAnyOrder", "", "SY540SX856", "SY540 SX856 "},
        HeaderCase{"AllHeaderKeys", "", "U7 ]F3 FN=Ver SY540 SX856", "]F3 FN=Ver SY540 SX856 U7 "},
        HeaderCase{"BracketFWithWhitespaceBetween", "", " ] \tF\n 3", "]F3 "},
        HeaderCase{"UFollowedByText", "", "U2 Street", "U2 "},
        HeaderCase{"WordEndsAtWhitespaceAndBoldStartsNoItem", "", "FN=Arial Bold X1", "FN=Arial "},
        HeaderCase{"WordKeepsQuotesAndHighBytes", "", "FN=\"a\xff\x80\"", "FN=\"a\xff\x80\" "},
        HeaderCase{"OnlySxKeepsEarlierValuesButEmptiesItems", "]F3 FN=Ver SY540 SX856 U7 X1", "SX900",
                   "]F3 FN=Ver SY540 SX900 U7 "},
        HeaderCase{"HeaderFieldAfterAnItemIsIgnored", "SY100", "SX856 X10 Y20 SY540", "SY100 SX856 | Y20 X10 "},
        HeaderCase{"RepeatedHeaderKeyEndsTheSet", "", "SX1 SX2 X5", "SX1 "},
        HeaderCase{"RepeatedItemKeyStartsTheNextItem", "", "SX1 X10 Y20 X30 Y40 Y50", "SX1 | Y20 X10 | Y40 X30 | Y50 "},
        HeaderCase{"AllItemKeysInAnyOrder", "", "SX1 \"t\"B6 CS5 CI4 F3 X2 Y1 N=nm", "SX1 | N=nm Y1 X2 F3 CI4 CS5 B6 \"t\" "},
        HeaderCase{"QuotedTextKeepsBlanksAndBreaks", "", "SX1 X10 \"Hello world\r\nnext\" Y20",
                   "SX1 | Y20 X10 \"Hello world\r\nnext\" "},
        HeaderCase{"EmptyQuotesEndTheItemSet", "", "SX1 X10 \"\" Y20", "SX1 | X10 "},
        HeaderCase{"QuotedTextWithNulAndHighBytes", "", "SX1 \"\0\xe9\xff \x85\"X1"s, "SX1 | X1 \"\0\xe9\xff \x85\" "s},
        HeaderCase{"WhitespaceBetweenKeyAndValue", "", "SX1 X 10 Y\n20\vF\f3", "SX1 | Y20 X10 F3 "},
        HeaderCase{"SignMustTouchTheDigits", "", "SX1 X- 5", "SX1 "},
        HeaderCase{"SignedValues", "", "SX+5 SY-7 X-0 Y+2", "SY-7 SX5 | Y2 "},
        HeaderCase{"Int32Limits", "", "SX2147483647 SY-2147483648 X0000000000000012",
                   "SY-2147483648 SX2147483647 | X12 "},
        HeaderCase{"OutOfRangeValueEndsTheSet", "", "SX1 X2147483648 Y1", "SX1 "}), testing::NamedCase());

struct DataCase {
    const char* name;
    std::string text;
    std::vector<std::string> lines;
};

void PrintTo(const DataCase& c, std::ostream* os) { *os << c.name; }

std::string bytesFrom(int first, int last) {
    std::string out;
    for (int byte = first; byte <= last; ++byte) out += static_cast<char>(byte);
    return out;
}

class DataRecord : public ::testing::TestWithParam<DataCase> {};

TEST_P(DataRecord, QueuesOneCardWithTheseLines) {
    const DataCase& c = GetParam();
    JobQueue queue;
    queue.parseRecord("SX856 SY540 X1");
    const auto before = queue.layout;
    queue.parseRecord(c.text);
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue.layout, before);
    const JobRecord card = queue.front();
    EXPECT_EQ(card.sx(), 856);
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < card.lines().size(); ++i) lines.emplace_back(card.lines()[i]);
    EXPECT_EQ(lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DataRecord,
    ::testing::Values(DataCase{"ItemKeysAreNoHeader", "X10 Y20", {"X10 Y20"}},
                      DataCase{"UWithoutInteger", "Ursula", {"Ursula"}},
                      DataCase{"ItemFIsNoHeaderKey", "F5", {"F5"}},
                      DataCase{"KeysAreCaseSensitive", "sx5", {"sx5"}},
                      DataCase{"HeaderValueOutOfRange", "SX2147483648", {"SX2147483648"}},
                      DataCase{"BytesAboveAsciiAreNotWhitespace", "\xa0\x85SX5", {"\xa0\x85SX5"}},
                      DataCase{"NulIsNotWhitespace", "\0SX5"s, {"\0SX5"s}},
                      DataCase{"LeadingAndTrailingLineFeed", "\nAnn\n", {"", "Ann", ""}},
                      DataCase{"CrLfAndLoneCr", "Ann\r\nBee\rCid", {"Ann", "Bee", "Cid"}},
                      DataCase{"TwoCrsAreTwoBreaks", "a\r\rb", {"a", "", "b"}},
                      DataCase{"LfCrIsTwoBreaks", "a\n\rb", {"a", "", "b"}},
                      DataCase{"CrLfLfIsTwoBreaks", "a\r\n\nb", {"a", "", "b"}},
                      DataCase{"EndsWithCr", "a\r", {"a", ""}},
                      DataCase{"OnlyABreak", "\r\n", {"", ""}},
                      DataCase{"BlanksTabsAndOtherControlsKept", " \tA\vB\f\t", {" \tA\vB\f\t"}},
                      DataCase{"NulAndHighBytesKept", "A\0B\r\xff\xfe\x80\r\nC"s, {"A\0B"s, "\xff\xfe\x80", "C"}},
                      DataCase{"EveryByteValue", bytesFrom(0, 255), {bytesFrom(0, 9), bytesFrom(11, 12), bytesFrom(14, 255)}}), testing::NamedCase());

}  // namespace
}  // namespace kestrova
