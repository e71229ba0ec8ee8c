// Screening a request's text before the XML reader: bounds, surrogates,
// nesting depth and numeric character references.
#include "control/request_document.h"
#include "control/request_text.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kestrova {
namespace {

std::u16string repeat(const std::u16string& text, std::size_t times) {
    std::u16string out;
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

std::u16string nested(std::size_t levels, const std::u16string& inside = u"") {
    return repeat(u"<e>", levels) + inside + repeat(u"</e>", levels);
}

WideString screened(const std::u16string& text) {
    const ScreenedRequest result = screenRequestText(WideString(text).c_str());
    EXPECT_EQ(result.verdict, RequestVerdict::Accepted);
    return wideFromTreeText(result.text);
}

RequestVerdict verdictOf(const std::u16string& text) { return screenRequestText(WideString(text).c_str()).verdict; }

struct ReferenceCase {
    const char* name;
    std::u16string request;
    std::u16string expected;
};
void PrintTo(const ReferenceCase& c, std::ostream* os) { *os << c.name; }

class NumericReferences : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(NumericReferences, BecomeTheUnitsTheyName) {
    EXPECT_EQ(screened(GetParam().request), WideString(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NumericReferences,
    ::testing::Values(
        ReferenceCase{"DecimalInAttribute", u"<a v=\"caf&#233;\"/>", u"<a v=\"caf\u00E9\"/>"},
        ReferenceCase{"HexInText", u"<a>&#xE9;&#x20AC;</a>", u"<a>\u00E9\u20AC</a>"},
        ReferenceCase{"UpperCaseHexDigits", u"<a v='&#xFB01;'/>", u"<a v='\uFB01'/>"},
        ReferenceCase{"BeyondTheBasicPlaneAsAPair", u"<a>&#x1F600;</a>", u"<a>\U0001F600</a>"},
        // Markup characters stay escaped, so the structure cannot change.
        ReferenceCase{"MarkupCharactersAsEntities", u"<a v=\"&#60;&#38;&#34;&#39;&#62;\">&#60;b/&#62;</a>",
                      u"<a v=\"&lt;&amp;&quot;&apos;&gt;\">&lt;b/&gt;</a>"},
        // Where the reader expands nothing, the text stays as it came.
        ReferenceCase{"CommentUntouched", u"<a><!-- &#233; --></a>", u"<a><!-- &#233; --></a>"},
        ReferenceCase{"CdataUntouched", u"<a><![CDATA[&#233;]]></a>", u"<a><![CDATA[&#233;]]></a>"},
        ReferenceCase{"InstructionUntouched", u"<?x &#233;?><a/>", u"<?x &#233;?><a/>"},
        // The reader keeps nothing of a document type, and would count its
        // brackets blind to quotes: it never sees one.
        ReferenceCase{"DocumentTypeLeftOut", u"<!DOCTYPE a [<!ENTITY e \"&#233;\">]><a/>", u"<a/>"},
        ReferenceCase{"DocumentTypeWithBracketsLeftOut", u" <!DOCTYPE a [<!ENTITY e \"[\"><!--]-->]>\n<a>]</a>",
                      u" \n<a>]</a>"},
        ReferenceCase{"SpaceBeforeTheDeclarationKept", u"\r\n<?xml version=\"1.0\"?><a/>",
                      u"\r\n<?xml version=\"1.0\"?><a/>"},
        ReferenceCase{"OtherEntitiesLeftToTheReader", u"<a v=\"&amp;&lt;\">&gt;</a>", u"<a v=\"&amp;&lt;\">&gt;</a>"},
        ReferenceCase{"PairedSurrogatesKept", u"<a v=\"\U0001F600\"/>", u"<a v=\"\U0001F600\"/>"},
        ReferenceCase{"ByteOrderMarkKept", u"\uFEFF<a/>", u"\uFEFF<a/>"}), testing::NamedCase());

struct VerdictCase {
    const char* name;
    std::u16string request;
    RequestVerdict expected;
};
void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

class Screening : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Screening, GivesTheVerdict) { EXPECT_EQ(verdictOf(GetParam().request), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Texts, Screening,
    ::testing::Values(
        VerdictCase{"EmptyRefNumber", u"<a>&#;</a>", RequestVerdict::Malformed},
        VerdictCase{"EmptyHexNumber", u"<a v=\"&#x;\"/>", RequestVerdict::Malformed},
        VerdictCase{"NoSemicolon", u"<a>&#65 </a>", RequestVerdict::Malformed},
        VerdictCase{"UpperCaseX", u"<a>&#X41;</a>", RequestVerdict::Malformed},
        VerdictCase{"HexDigitInDecimal", u"<a>&#1a;</a>", RequestVerdict::Malformed},
        VerdictCase{"Nul", u"<a>&#0;</a>", RequestVerdict::Malformed},
        VerdictCase{"ControlCharacter", u"<a>&#x1;</a>", RequestVerdict::Malformed},
        VerdictCase{"SurrogateCode", u"<a>&#xD800;</a>", RequestVerdict::Malformed},
        VerdictCase{"NonCharacter", u"<a>&#xFFFE;</a>", RequestVerdict::Malformed},
        VerdictCase{"BeyondUnicode", u"<a>&#x110000;</a>", RequestVerdict::Malformed},
        VerdictCase{"HugeNumber", u"<a>&#99999999999999999999999;</a>", RequestVerdict::Malformed},
        VerdictCase{"LoneHighAtEnd", u"<a/>\xD83D", RequestVerdict::LoneSurrogate},
        VerdictCase{"LoneHighInAttribute", u"<a v=\"\xD83Dx\"/>", RequestVerdict::LoneSurrogate},
        VerdictCase{"LoneLow", u"<a v=\"\xDE00\"/>", RequestVerdict::LoneSurrogate},
        VerdictCase{"PairReversed", u"<a v=\"\xDE00\xD83D\"/>", RequestVerdict::LoneSurrogate},
        VerdictCase{"Unclosed", u"<a>", RequestVerdict::Malformed},
        VerdictCase{"TextOutsideTheRoot", u"x<a/>", RequestVerdict::Malformed},
        VerdictCase{"UnterminatedComment", u"<a><!-- </a>", RequestVerdict::Malformed},
        VerdictCase{"Empty", u"", RequestVerdict::Malformed},
        VerdictCase{"SpaceBeforeTheDeclaration", u"\r\n <?xml version=\"1.0\"?><a/>", RequestVerdict::Accepted},
        VerdictCase{"CommentBeforeTheDeclaration", u"<!---->\n<?xml version=\"1.0\"?><a/>", RequestVerdict::Malformed},
        // Nesting: 64 levels pass, the 65th does not.
        VerdictCase{"DepthAtTheLimit", nested(64), RequestVerdict::Accepted},
        VerdictCase{"DepthBeyondTheLimit", nested(65), RequestVerdict::TooDeep},
        VerdictCase{"ClosingTagsGiveLevelsBack", u"<r>" + nested(63) + nested(63) + u"</r>", RequestVerdict::Accepted},
        VerdictCase{"EmptyElementsAreNoLevel", u"<a>" + repeat(u"<b/>", 1000) + u"</a>", RequestVerdict::Accepted},
        // What looks like tags inside comments, CDATA, instructions and
        // attribute values is no element; a quoted '>' ends no tag.
        VerdictCase{"TagsInComment", u"<a><!--" + repeat(u"<b>", 100) + u"--></a>", RequestVerdict::Accepted},
        VerdictCase{"TagsInCdata", u"<a><![CDATA[" + repeat(u"<b>", 100) + u"]]></a>", RequestVerdict::Accepted},
        VerdictCase{"TagsInInstruction", u"<?p " + repeat(u"<b>", 100) + u"?><a/>", RequestVerdict::Accepted},
        VerdictCase{"TagsInAttribute", u"<a v=\"" + repeat(u"&lt;b>", 100) + u"\"/>", RequestVerdict::Accepted},
        VerdictCase{"LessThanInAttribute", u"<a v=\"<b>\"/>", RequestVerdict::Malformed},
        VerdictCase{"QuotedGreaterThanHidesNothing", u"<a v='>'>" + nested(64) + u"</a>", RequestVerdict::TooDeep},
        VerdictCase{"CommentEndInAttributeHidesNothing", u"<a v=\"-->\">" + nested(64) + u"</a>",
                    RequestVerdict::TooDeep},
        VerdictCase{"SizeAtTheLimit", u"<a/>" + std::u16string(kMaxRequestUnits - 4, u' '), RequestVerdict::Accepted},
        VerdictCase{"SizeBeyondTheLimit", u"<a/>" + std::u16string(kMaxRequestUnits - 3, u' '),
                    RequestVerdict::TooLarge},
        VerdictCase{"TwoHundredThousandLevels", nested(200000), RequestVerdict::TooLarge}), testing::NamedCase());

TEST(RequestDocument, CommandIsTheFirstUnderTheRoot) {
    const WideString request(u"<kx_api><command value=\"pause\"/><command value=\"step\"/></kx_api>");
    const auto tree = readRequestDocument(request.c_str());
    ASSERT_TRUE(tree);
    EXPECT_EQ(requestCommand(*tree), L"pause");
}

// Two top-level elements are no XML document, whatever the reader accepts.
TEST(RequestDocument, ASecondRootIsNotADocument) {
    const WideString request(u"<kx_api><command value=\"pause\"/></kx_api><kx_api><command value=\"x\"/></kx_api>");
    EXPECT_FALSE(readRequestDocument(request.c_str()));
    EXPECT_FALSE(readRequestDocument(u"<kx_api><command value=\"pause\"/></kx_api>trailing"));
}

}  // namespace
}  // namespace kestrova
