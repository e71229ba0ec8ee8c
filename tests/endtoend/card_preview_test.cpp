// kestrova check --preview: each card's SVG, read back as XML, holds the
// item boxes and the marks the layout the machine receives calls for.
#include "case_name.h"

#include "standin/platform_standin.h"
#include "tool/exit_codes.h"
#include "tool/tool_commands.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

namespace fs = std::filesystem;
using boost::property_tree::ptree;

struct Element {
    std::string tag;
    std::string cls;
    const ptree* node;
    std::string attribute(const char* name) const { return node->get<std::string>(std::string("<xmlattr>.") + name, ""); }
    long long number(const char* name) const { return std::stoll(attribute(name)); }
};

void collect(const ptree& node, std::vector<Element>& out) {
    for (const auto& [tag, child] : node) {
        if (tag == "<xmlattr>" || tag == "<xmlcomment>") continue;
        out.push_back({tag, child.get<std::string>("<xmlattr>.class", ""), &child});
        collect(child, out);
    }
}

struct Preview {
    int status = -1;
    std::string out;
    fs::path directory;
};

Preview preview(const std::string& name, const std::string& job, std::vector<std::string> options = {}) {
    Preview run;
    run.directory = fs::path(::testing::TempDir()) / ("preview-" + name);
    const std::string jobPath = (fs::path(::testing::TempDir()) / (name + ".txt")).string();
    std::ofstream(jobPath, std::ios::binary) << job;
    std::vector<std::string> words = {"check", jobPath, "--preview", run.directory.string()};
    words.insert(words.end(), options.begin(), options.end());
    std::ostringstream out;
    std::ostringstream err;
    run.status = tool::runTool(words, {out, err, false});
    run.out = out.str() + err.str();
    standin::reset();
    return run;
}

struct Box {
    long long x, y, width, height;
};

struct PreviewCase {
    const char* name;
    std::string job;
    std::string config;               // none when empty
    std::vector<Box> boxes;           // the text box of each item with a line, in order
    std::vector<std::string> outside; // items marked outside the card
    std::vector<std::string> overlaps;
    std::size_t blankItems;
    bool emptyMark;
    bool notes;                       // problems written below the card
    std::string firstText;            // the first item's text as it reads back (UTF-8)
};

class CardPreviewDrawing : public ::testing::TestWithParam<PreviewCase> {};

TEST_P(CardPreviewDrawing, DrawsTheLayoutTheMachineReceives) {
    const PreviewCase& c = GetParam();
    std::vector<std::string> options;
    if (!c.config.empty()) {
        const std::string config = (fs::path(::testing::TempDir()) / (std::string(c.name) + ".cfg")).string();
        std::ofstream(config, std::ios::binary) << c.config;
        options = {"--config", config};
    }
    const Preview run = preview(c.name, c.job, options);
    const bool problems = !c.outside.empty() || !c.overlaps.empty() || c.blankItems > 0 || c.emptyMark || c.notes;
    EXPECT_EQ(run.status, problems ? tool::exit_code::Failed : tool::exit_code::Success) << run.out;

    ptree svg;
    ASSERT_NO_THROW(boost::property_tree::read_xml((run.directory / "card-1.svg").string(), svg)) << run.out;
    std::vector<Element> elements;
    collect(svg, elements);
    std::vector<Box> boxes;
    std::vector<std::string> outside;
    std::vector<std::string> overlaps;
    std::size_t blank = 0;
    bool emptyMark = false;
    bool notes = false;
    std::string firstText;
    for (const Element& e : elements) {
        if (e.cls == "box") boxes.push_back({e.number("x"), e.number("y"), e.number("width"), e.number("height")});
        if (e.cls == "mark outside") outside.push_back(e.attribute("data-item"));
        if (e.cls == "mark overlap") overlaps.push_back(e.attribute("data-items"));
        if (e.cls == "item blank") ++blank;
        if (e.cls == "mark empty") emptyMark = true;
        if (e.cls == "mark note") notes = true;
        if (e.cls == "text" && firstText.empty()) firstText = e.node->data();
    }
    ASSERT_EQ(boxes.size(), c.boxes.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE("item " + std::to_string(i + 1));
        EXPECT_EQ(boxes[i].x, c.boxes[i].x);
        EXPECT_EQ(boxes[i].y, c.boxes[i].y);
        EXPECT_EQ(boxes[i].width, c.boxes[i].width);
        EXPECT_EQ(boxes[i].height, c.boxes[i].height);
    }
    EXPECT_EQ(outside, c.outside);
    EXPECT_EQ(overlaps, c.overlaps);
    EXPECT_EQ(blank, c.blankItems);
    EXPECT_EQ(emptyMark, c.emptyMark);
    EXPECT_EQ(notes, c.notes);
    if (!c.firstText.empty()) {
        EXPECT_EQ(firstText, c.firstText);
    }
}

const char* const kRules =
    "<KestrovaLM><replace-coordinates><horizontal><rule value=\"120\" replace_with=\"118\"/></horizontal>"
    "<vertical><rule value=\"200\" replace_with=\"204\"/></vertical></replace-coordinates></KestrovaLM>";

// Character size CI: CI x 10 units tall, CI x 6 wide per character.
INSTANTIATE_TEST_SUITE_P(
    Layouts, CardPreviewDrawing,
    ::testing::Values(
        PreviewCase{"RulesMoveTheItems", "<SX856 SY540 X120 Y45 F2 CI3 X120 Y200 F1 CI4><ANNA\nNUMBER>", kRules,
                    {{118, 45, 72, 30}, {118, 204, 144, 40}}, {}, {}, 0, false, false, "ANNA"},
        PreviewCase{"NegativeCoordinatesAreOutside", "<SX856 SY540 X-20 Y500 F1 CI3><ABC>", "",
                    {{-20, 500, 54, 30}}, {"1"}, {}, 0, false, false, ""},
        PreviewCase{"BottomEdgeIsInside", "<SX856 SY540 X0 Y510 F1 CI3><ABC>", "", {{0, 510, 54, 30}}, {}, {}, 0,
                    false, false, ""},
        PreviewCase{"HugeValuesAreOutsideAndMisread",
                    "<SX856 SY540 X2147483647 Y2147483647 F1 CI2147483647><A>", "",
                    {{2147483647, 2147483647, 12884901882, 21474836470}}, {"1"}, {}, 0, false, true, ""},
        PreviewCase{"OverlapIsMarked", "<SX856 SY540 X100 Y100 F1 CI3 X150 Y110 F1 CI3 X100 Y300 F1 CI3><AAAA\nBB\nC>",
                    "", {{100, 100, 72, 30}, {150, 110, 36, 30}, {100, 300, 18, 30}}, {}, {"1 2"}, 0, false,
                    false, ""},
        PreviewCase{"TouchingBoxesDoNotOverlap", "<SX856 SY540 X100 Y100 F1 CI3 X172 Y100 F1 CI3><AAAA\nBB>", "",
                    {{100, 100, 72, 30}, {172, 100, 36, 30}}, {}, {}, 0, false, false, ""},
        PreviewCase{"FewerLinesLeaveItemsBlank", "<SX856 SY540 X10 Y10 F1 CI3 X10 Y100 F1 CI3 X10 Y200 F1 CI3><ONE>",
                    "", {{10, 10, 54, 30}}, {}, {}, 2, false, true, ""},
        PreviewCase{"MoreLinesAreNotPrinted", "<SX856 SY540 X10 Y10 F1 CI3><ONE\nTWO\nTHREE>", "", {{10, 10, 54, 30}},
                    {}, {}, 0, false, true, ""},
        PreviewCase{"EmptyCard", "<SX856 SY540 X10 Y10 F1 CI3 X10 Y100 F1 CI3><\n>", "",
                    {{10, 10, 0, 30}, {10, 100, 0, 30}}, {}, {}, 0, true, true, ""},
        PreviewCase{"Latin1AndMarkupCharacters", "<SX856 SY540 X10 Y10 F1 CI3><\"&'\xE9\x01 x>", "",
                    {{10, 10, 126, 30}}, {}, {}, 0, false, false, "\"&'\xC3\xA9\xE2\x90\x81 x"}),
    NamedCase());

TEST(CardPreviewSelection, DrawsTheFirstFiftyOrTheCardsAsked) {
    std::string job = "<SX856 SY540 X10 Y10 F1 CI3>";
    for (int i = 1; i <= 60; ++i) job += "<CARD " + std::to_string(i) + ">";
    auto pictures = [](const fs::path& directory) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory)) {
            if (entry.path().extension() == ".svg") names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const Preview all = preview("sixty", job);
    ASSERT_EQ(all.status, tool::exit_code::Success) << all.out;
    EXPECT_EQ(pictures(all.directory).size(), 50u);
    EXPECT_NE(all.out.find("10 more not drawn (--cards 51-60 draws others)"), std::string::npos) << all.out;
    // A second run replaces the earlier pictures rather than leaving them stale.
    const Preview some = preview("sixty", job, {"--cards", "55-56,58"});
    ASSERT_EQ(some.status, tool::exit_code::Success) << some.out;
    EXPECT_EQ(pictures(some.directory), (std::vector<std::string>{"card-55.svg", "card-56.svg", "card-58.svg"}));
    std::ifstream index(some.directory / "index.html");
    const std::string page((std::istreambuf_iterator<char>(index)), std::istreambuf_iterator<char>());
    EXPECT_NE(page.find("<img src=\"card-58.svg\""), std::string::npos);

    for (const char* bad : {"0", "5-3", "x", "1-"}) {
        EXPECT_EQ(preview("sixty", job, {"--cards", bad}).status, tool::exit_code::Usage) << bad;
    }
}

}  // namespace
}  // namespace kestrova::testing
