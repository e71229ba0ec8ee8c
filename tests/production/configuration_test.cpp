// The coordinate rules of the configuration file: what a file yields, where
// a load stops, and the one message a failed load sends.
#include "production/configuration.h"

#include "standin/platform_standin.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <ostream>
#include <string>

namespace kestrova {
namespace {

std::string document(const std::string& horizontal, const std::string& vertical) {
    return "<?xml version=\"1.0\"?>\n<KestrovaLM><replace-coordinates>" + horizontal + vertical +
           "</replace-coordinates></KestrovaLM>\n";
}

std::string rule(const std::string& value, const std::string& replaceWith, const std::string& name = "rule") {
    return "<" + name + " value=\"" + value + "\" replace_with=\"" + replaceWith + "\"/>";
}

const std::string kH = "<horizontal>" + rule("100", "120") + rule("300", "310") + "</horizontal>";
const std::string kV = "<vertical>" + rule("200", "210") + "</vertical>";

std::string nested(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<d>";
        close += "</d>";
    }
    return open + close;
}

struct RulesCase {
    const char* name;
    std::string xml;
    bool ok;
    CoordinateRules horizontal;
    CoordinateRules vertical;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const RulesCase& c, std::ostream* os) { *os << c.name; }

class ConfigurationRules : public ::testing::TestWithParam<RulesCase> {};

TEST_P(ConfigurationRules, ReadsTheRulesUpToTheFirstFailure) {
    const RulesCase& c = GetParam();
    CoordinateRules horizontal, vertical;
    EXPECT_EQ(readRules(c.xml, horizontal, vertical), c.ok);
    EXPECT_EQ(horizontal, c.horizontal);
    EXPECT_EQ(vertical, c.vertical);
}

const CoordinateRules kBothH{{100, 120}, {300, 310}};
const CoordinateRules kBothV{{200, 210}};

INSTANTIATE_TEST_SUITE_P(
    Files, ConfigurationRules,
    ::testing::Values(
        RulesCase{"Complete", document(kH, kV), true, kBothH, kBothV},
        RulesCase{"RulesDoNotChainInTheMap", document("<horizontal>" + rule("100", "120") + rule("120", "140") + "</horizontal>", "<vertical/>"),
                  true, {{100, 120}, {120, 140}}, {}},
        RulesCase{"FirstRuleForAValueWins", document("<horizontal>" + rule("100", "120") + rule("100", "130") + "</horizontal>", "<vertical/>"),
                  true, {{100, 120}}, {}},
        RulesCase{"BlanksAroundAValue", document("<horizontal>" + rule(" 100 ", "\t+120\n") + "</horizontal>", "<vertical/>"),
                  true, {{100, 120}}, {}},
        RulesCase{"Int32Limits", document("<horizontal>" + rule("-2147483648", "2147483647") + "</horizontal>", "<vertical/>"),
                  true, {{-2147483648, 2147483647}}, {}},
        RulesCase{"DifferentRuleNames", document("<horizontal>" + rule("1", "2", "a") + rule("3", "4", "b") + "</horizontal>", kV),
                  true, {{1, 2}, {3, 4}}, kBothV},
        RulesCase{"EmptyHorizontalStillReadsVertical", document("<horizontal></horizontal>", kV), true, {}, kBothV},
        RulesCase{"CommentsAndTextIgnored",
                  "<!-- c --><KestrovaLM><!-- c --><replace-coordinates>text<horizontal><!-- <x/> -->text" + rule("100", "120") +
                      "</horizontal>" + kV + "</replace-coordinates></KestrovaLM>",
                  true, {{100, 120}}, kBothV},
        RulesCase{"OtherElementsIgnoredHighBytesAllowed",
                  "<KestrovaLM><note>\xe9\xff\x80</note><replace-coordinates><other/>" + kH + kV +
                      "</replace-coordinates></KestrovaLM>",
                  true, kBothH, kBothV},
        RulesCase{"UnitAfterDigits", document("<horizontal>" + rule("100", "120") + rule("100mm", "1") + rule("5", "6") + "</horizontal>", kV),
                  false, {{100, 120}}, {}},
        RulesCase{"HexadecimalValue", document("<horizontal>" + rule("0x64", "1") + "</horizontal>", kV), false, {}, {}},
        RulesCase{"EmptyValue", document("<horizontal>" + rule("", "1") + "</horizontal>", kV), false, {}, {}},
        RulesCase{"ValueOutOfRange", document("<horizontal>" + rule("2147483648", "1") + "</horizontal>", kV), false, {}, {}},
        RulesCase{"MissingReplaceWith", document("<horizontal>" + rule("1", "2") + "<r value=\"3\"/></horizontal>", kV), false,
                  {{1, 2}}, {}},
        RulesCase{"AttributeOnTheContainerFailsFirst",
                  document("<horizontal id=\"1\">" + rule("1", "2") + "</horizontal>", kV), false, {}, {}},
        RulesCase{"BadVerticalRuleKeepsEarlierOnes",
                  document(kH, "<vertical>" + rule("200", "210") + rule("x", "1") + rule("7", "8") + "</vertical>"), false,
                  kBothH, kBothV},
        RulesCase{"VerticalMissing", document(kH, ""), false, kBothH, {}},
        RulesCase{"HorizontalMissing", document("", kV), false, {}, {}},
        RulesCase{"WrongTopElement", "<Kestrova><replace-coordinates>" + kH + kV + "</replace-coordinates></Kestrova>", false, {}, {}},
        RulesCase{"FirstOccurrenceOnly",
                  "<KestrovaLM><replace-coordinates>" + kH + "</replace-coordinates><replace-coordinates>" + kV +
                      "</replace-coordinates></KestrovaLM>",
                  false, kBothH, {}},
        RulesCase{"NotWellFormed", document(kH, kV).substr(0, 60), false, {}, {}},
        // Four levels are the rules' own; the rest is an ignored element.
        RulesCase{"NestedToTheBound", document(kH, kV + nested(kConfigurationMaxDepth - 2)), true, kBothH, kBothV},
        RulesCase{"NestedPastTheBound", document(kH, kV + nested(kConfigurationMaxDepth - 1)), false, {}, {}},
        RulesCase{"TooLarge", document(kH, kV) + "<!--" + std::string(kConfigurationMaxBytes, ' ') + "-->", false, {}, {}}), testing::NamedCase());

// Runs each test in a fresh directory holding (or not) the file at its
// relative path.
class ConfigurationFile : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        previous_ = std::filesystem::current_path();
        directory_ = std::filesystem::temp_directory_path() /
                     ("kestrova-config-" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(directory_);
        std::filesystem::current_path(directory_);
    }

    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(directory_);
    }

    static void writeFile(const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(kConfigurationPath).parent_path());
        std::ofstream(kConfigurationPath, std::ios::binary) << bytes;
    }

    static WideString messages(int count) {
        WideString out;
        for (int i = 0; i < count; ++i) out += wideFromAscii("KestrovaLM.cfg not found\n");
        return out;
    }

    std::filesystem::path previous_;
    std::filesystem::path directory_;
};

TEST_F(ConfigurationFile, MissingFileSendsTheMessageAndLeavesNoRules) {
    JobQueue queue;
    queue.horizontalRules = {{1, 2}};
    queue.verticalRules = {{3, 4}};
    queue.loadRules();
    EXPECT_TRUE(queue.horizontalRules.empty());
    EXPECT_TRUE(queue.verticalRules.empty());
    EXPECT_EQ(standin::debugOutput(), messages(1));
}

TEST_F(ConfigurationFile, GoodFileLoadsSilentlyAndEachLoadRereadsIt) {
    writeFile(document(kH, kV));
    JobQueue queue;
    queue.loadRules();
    EXPECT_EQ(queue.horizontalRules, kBothH);
    EXPECT_EQ(queue.verticalRules, kBothV);
    EXPECT_TRUE(standin::debugOutput().empty());

    writeFile(document("<horizontal>" + rule("5", "6") + "</horizontal>", "<vertical/>"));
    queue.loadRules();
    EXPECT_EQ(queue.horizontalRules, (CoordinateRules{{5, 6}}));
    EXPECT_TRUE(queue.verticalRules.empty());
}

TEST_F(ConfigurationFile, EachFailedLoadSendsOneMessageAndKeepsPartialRules) {
    writeFile(document(kH, "<vertical>" + rule("200", "210") + rule("1mm", "1") + "</vertical>"));
    JobQueue queue;
    queue.loadRules();
    queue.loadRules();
    EXPECT_EQ(queue.horizontalRules, kBothH);
    EXPECT_EQ(queue.verticalRules, kBothV);
    EXPECT_EQ(standin::debugOutput(), messages(2));
}

TEST_F(ConfigurationFile, OversizedFileIsAFailedLoad) {
    writeFile(document(kH, kV) + std::string(kConfigurationMaxBytes, '\n'));
    JobQueue queue;
    queue.loadRules();
    EXPECT_TRUE(queue.horizontalRules.empty());
    EXPECT_EQ(standin::debugOutput(), messages(1));
}

TEST_F(ConfigurationFile, RulesApplyToItemsAsTheyAreParsed) {
    writeFile(document("<horizontal>" + rule("100", "120") + rule("120", "140") + "</horizontal>",
                       "<vertical>" + rule("200", "210") + "</vertical>"));
    JobQueue queue;
    queue.loadRules();
    queue.parseRecord("SX100 SY200 X100 Y200 X120 Y210 X5 Y5");
    ASSERT_EQ(queue.layout->items.size(), 3u);
    EXPECT_EQ(queue.layout->sx, 100);  // header values are never replaced
    EXPECT_EQ(queue.layout->sy, 200);
    EXPECT_EQ(queue.layout->items[0].x, 120);
    EXPECT_EQ(queue.layout->items[0].y, 210);
    EXPECT_EQ(queue.layout->items[1].x, 140);  // looked up once: 120 -> 140, not 100 -> 120 -> 140
    EXPECT_EQ(queue.layout->items[1].y, 210);
    EXPECT_EQ(queue.layout->items[2].x, 5);

    // A later load changes nothing already parsed.
    std::remove(kConfigurationPath);
    queue.loadRules();
    EXPECT_EQ(queue.layout->items[0].x, 120);
    queue.parseRecord("SX1 X100 Y200");
    EXPECT_EQ(queue.layout->items[0].x, 100);
    EXPECT_EQ(queue.layout->items[0].y, 200);
}

}  // namespace
}  // namespace kestrova
