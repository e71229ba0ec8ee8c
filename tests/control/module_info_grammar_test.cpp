// Reading the machine's module information text into the ordered table.
#include "control/module_info_table.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace kestrova {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

struct ReadCase {
    const char* name;
    std::string payload;
    Entries expected;  // in table order
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

class ModuleInfoRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ModuleInfoRead, GivesTheTable) {
    const ReadCase& c = GetParam();
    const ModuleInfoTable table = readModuleInfo(Bytes(c.payload.begin(), c.payload.end()));
    EXPECT_EQ(Entries(table.begin(), table.end()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, ModuleInfoRead,
    ::testing::Values(
        ReadCase{"OneEntry", "07VERv1.2;", {{"VER", "v1.2"}}},
        ReadCase{"EmptyText", "03ABC;04DEFx;", {{"ABC", ""}, {"DEF", "x"}}},
        ReadCase{"EmptyPayload", "", {}},
        ReadCase{"TextHoldsSemicolonsAndDigits", "08KEY;1;2;;03ZZZ;", {{"KEY", ";1;2;"}, {"ZZZ", ""}}},
        ReadCase{"TextHoldsNulAndHighBytes", std::string("06K\0Y", 5) + bytes({0, 0xFF, ';'}) + ";",
                 {{std::string("K\0Y", 3), bytes({0, 0xFF, ';'})}}},
        // A length one too large swallows the ';' and needs another right after.
        ReadCase{"LengthOneTooLargeThenSemicolon", "05ABCx;;03DEF;", {{"ABC", "x;"}, {"DEF", ""}}},
        ReadCase{"LengthOneTooLargeStops", "05ABCx;03DEF;", {}},
        ReadCase{"MalformedEntryKeepsEarlierOnes", "04AAAa;4BBB;03CCC;", {{"AAA", "a"}}},
        ReadCase{"ThirdDigitStartsTheKey", "0312;;", {{"12;", ""}}},
        ReadCase{"NoSemicolonAfterText", "04AAAab", {}},
        ReadCase{"TrailingBytesIgnored", std::string("03AAA;\0\r\n", 9), {{"AAA", ""}}},
        ReadCase{"SignIsNoDigit", "+3AAA;", {}},
        ReadCase{"KeyCutShort", "03AA", {}},
        // Sorted by unsigned byte value, whatever the reply's order.
        ReadCase{"SortedByUnsignedBytes", "03" + bytes({0xC4}) + "xx;03zzz;03AAA;03_aa;",
                 {{"AAA", ""}, {"_aa", ""}, {"zzz", ""}, {bytes({0xC4}) + "xx", ""}}},
        ReadCase{"FirstTextOfADuplicateWins", "05DUPa1;05DUPa2;03ONE;", {{"DUP", "a1"}, {"ONE", ""}}},
        // A length that cannot be satisfied ends the reading: the bytes the
        // counted text looked at never become the entry's text.
        ReadCase{"LengthBelowThreeStops", "03AAA;02BBB;03CCC;", {{"AAA", ""}}},
        ReadCase{"LengthPastTheEndStops", "03AAA;09BBB;", {{"AAA", ""}}},
        ReadCase{"LongestEntry", "99KEY" + std::string(96, 'x') + ";", {{"KEY", std::string(96, 'x')}}}), testing::NamedCase());

TEST(ModuleInfoReadRepeated, NoStateSurvivesOneReading) {
    // A reading that ended inside an entry must not shape the next one.
    readModuleInfo(Bytes{'0', '9', 'A', 'B', 'C'});
    const std::string payload = "03AAA;";
    const ModuleInfoTable table = readModuleInfo(Bytes(payload.begin(), payload.end()));
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.count("AAA"), 1u);
}

TEST(ModuleInfoReadLarge, AFullReplyFrameOfEntries) {
    // A reply frame holds at most 64 KiB: every entry of it is read.
    std::string payload;
    std::size_t entries = 0;
    for (; payload.size() + 6 <= 64 * 1024; ++entries) {
        payload += "03";
        payload.push_back(static_cast<char>('A' + entries % 26));
        payload.push_back(static_cast<char>('A' + entries / 26 % 26));
        payload.push_back(static_cast<char>('A' + entries / 676));
        payload += ";";
    }
    const ModuleInfoTable table = readModuleInfo(Bytes(payload.begin(), payload.end()));
    EXPECT_EQ(table.size(), entries);
}

}  // namespace
}  // namespace kestrova
