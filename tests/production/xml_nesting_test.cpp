// The nesting bound that keeps an untrusted configuration file away from the
// XML reader's recursion: it must count at least every level the reader
// opens, whatever the markup hides, and not refuse ordinary documents.
#include "production/configuration.h"
#include "production/xml_nesting.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kestrova {
namespace {

using namespace std::string_literals;

struct NestingCase {
    const char* name;
    std::string text;
    int maxDepth;
    bool within;
};

void PrintTo(const NestingCase& c, std::ostream* os) { *os << c.name; }

class XmlNesting : public ::testing::TestWithParam<NestingCase> {};

TEST_P(XmlNesting, CountsTheLevelsTheReaderOpens) {
    const NestingCase& c = GetParam();
    EXPECT_EQ(xmlNestingWithin(c.text, c.maxDepth), c.within);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, XmlNesting,
    ::testing::Values(
        NestingCase{"AtTheBound", "<a><b><c/></b></a>", 2, true},
        NestingCase{"OnePastTheBound", "<a><b><c></c></b></a>", 2, false},
        NestingCase{"SiblingsDoNotAddUp", "<a><b></b><b></b><b/><b></b></a>", 2, true},
        NestingCase{"ClosingTagWithBlanks", "<a><b></b\n ><c>", 1, false},
        NestingCase{"SlashInsideAValueIsNoEmptyTag", "<a x=\"/>\"><b>", 1, false},
        NestingCase{"AngleInsideAValueIsNoTagEnd", "<a x='>'><b y=\"<c>\"/></a>", 1, true},
        // Quotes in names are names to the reader, not the start of a value.
        NestingCase{"QuoteInAnElementName", "<r><a\"><b><b>\">", 3, false},
        NestingCase{"QuoteInAnAttributeName", "<r><a b\"c=\"d\"><b><b>", 3, false},
        NestingCase{"AngleStartsAnElementName", "<a><<b>", 1, false},
        NestingCase{"HighBytesAreNames", "<\xe9><\xff\x80>", 1, false},
        NestingCase{"CommentHidesMarkup", "<a><!-- <b><b><b> --></a>", 1, true},
        NestingCase{"CdataHidesMarkup", "<a><![CDATA[<b><b>]]></a>", 1, true},
        NestingCase{"ProcessingInstructionsHideMarkup", "<?xml version=\"1.0\"?><a><?p <b><b> ?></a>", 1, true},
        NestingCase{"DoctypeSubsetHidesMarkup", "<!DOCTYPE a [<!ELEMENT a ANY><b><b>]><a></a>", 1, true},
        // Any other "<!" ends at its first '>', brackets or not.
        NestingCase{"OtherDeclarationEndsAtTheFirstAngle", "<a><!x [ ><b><b></b></b></a>", 2, false},
        NestingCase{"NulEndsTheText", "<a>\0<b><b>"s, 1, true},
        NestingCase{"TopLevelTextStopsTheReader", "x<a><b>", 1, true},
        NestingCase{"TopLevelClosingTagStopsTheReader", "</a><a><b>", 1, true},
        NestingCase{"UnterminatedValueStopsTheReader", "<a x=\"<b><b>", 0, true},
        NestingCase{"UnterminatedCommentStopsTheReader", "<a><!-- <b><b>", 1, true}), testing::NamedCase());

// Documents just under the size bound that nest far beyond the reader's
// stack: each is a failed load, not a crash.
TEST(XmlNesting, DeepDocumentsAreFailedLoadsNotCrashes) {
    const struct {
        const char* name;
        std::string opening;
        std::string level;
    } shapes[] = {
        {"plain", "<KestrovaLM>", "<a>"},
        {"quote in element name", "<KestrovaLM><a\">", "<b>"},
        {"quote in attribute name", "<KestrovaLM><a b\"=\"x\">", "<b>"},
    };
    for (const auto& shape : shapes) {
        std::string document = shape.opening;
        while (document.size() + shape.level.size() < kConfigurationMaxBytes) document += shape.level;
        CoordinateRules horizontal, vertical;
        EXPECT_FALSE(readRules(document, horizontal, vertical)) << shape.name;
    }
}

}  // namespace
}  // namespace kestrova
