// The well-formedness check against Expat, a parser that reads names by the
// older tables of XML 1.0: every code point as a name's first character and
// as a later one, in elements and attributes, gets the same verdict from
// both; and every answer the monitor gives to requests with names, text and
// references from all over Unicode is one Expat reads.
#include "case_name.h"
#include "control_fixture.h"

#include "control/well_formed_xml.h"
#include "tool/text_encoding.h"

#include <expat.h>

#include <cstdint>
#include <string>

namespace kestrova::testing {
namespace {

bool expatReads(const WideString& document) {
    const std::string bytes = tool::utf8FromUtf16(document);
    XML_Parser parser = XML_ParserCreate("UTF-8");
    const bool read = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return read;
}

WideString unitsOf(std::uint32_t c) {
    if (c < 0x10000) return WideString(1, static_cast<WCHAR>(c));
    const std::uint32_t offset = c - 0x10000;
    return {static_cast<WCHAR>(0xD800 + (offset >> 10)), static_cast<WCHAR>(0xDC00 + (offset & 0x3FF))};
}

TEST(ExpatDifferential, NameCharactersOfEveryCodePoint) {
    std::size_t disagreements = 0;
    for (std::uint32_t c = 1; c <= 0x10FFFF; c += c < 0x10000 ? 1 : 0x3F) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // no code point of its own
        const WideString units = unitsOf(c);
        for (const WideString& document :
             {u"<" + units + u"/>", u"<a" + units + u"/>", u"<a " + units + u"='1'/>", u"<a b" + units + u"='1'/>"}) {
            if (isWellFormedXml(document) == expatReads(document)) continue;
            if (++disagreements <= 10) {
                ADD_FAILURE() << "U+" << std::hex << c << " in " << shown(document) << ": ours "
                              << isWellFormedXml(document) << ", Expat " << expatReads(document);
            }
        }
    }
    EXPECT_EQ(disagreements, 0u);
}

struct RequestCase {
    const char* name;
    std::u16string text;
    bool answered;  // by the monitor, not beneath
};
void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class ExpatReadsTheAnswer : public ControlFixture, public ::testing::WithParamInterface<RequestCase> {};

// Either the port monitor answers (the request was no document of ours), or
// the monitor's own answer is read by Expat too.
TEST_P(ExpatReadsTheAnswer, OrTheRequestGoesBeneath) {
    spm.setPassThroughReply(u"beneath");
    const ControlAnswer answer = request(WideString(GetParam().text));
    ASSERT_EQ(answer.result, TRUE);
    ASSERT_EQ(spm.countOf(standin::PortEntry::GetPrinterDataFromPort), GetParam().answered ? 0u : 1u);
    if (!GetParam().answered) return;
    EXPECT_TRUE(expatReads(answer.document)) << shown(answer.document);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ExpatReadsTheAnswer,
    ::testing::Values(
        RequestCase{"EmojiInAName", u"<kx_api><x \U0001F600a=\"1\">t</x><command value=\"get_info\"/></kx_api>", false},
        RequestCase{"FifthEditionLetterInAName", u"<kx_api><\u0218/><command value=\"get_info\"/></kx_api>", false},
        RequestCase{"FifthEditionNameCharacter", u"<kx_api><x\u203F/><command value=\"get_info\"/></kx_api>", false},
        RequestCase{"LettersOfBothEditions", u"<kx_api><\u00E9l\u00E8ve \u0416=\"1\"/><command value=\"get_info\"/></kx_api>", true},
        RequestCase{"NonBasicPlaneTextAndReferences",
                    u"<kx_api a=\"\U0001F600&#x1F600;\">\U00010000&#65536;<command value=\"get_info\"/></kx_api>", true},
        RequestCase{"SpaceBeforeTheDeclaration", u"\r\n<?xml version=\"1.0\"?><kx_api><command value=\"get_info\"/></kx_api>",
                    true}),
    NamedCase());

}  // namespace
}  // namespace kestrova::testing
