// The well-formedness check that a request passes before it is read and an
// answer before it leaves: one row per rule, each side of it.
#include "control/well_formed_xml.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace kestrova {
namespace {

struct DocumentCase {
    const char* name;
    std::u16string text;
    bool wellFormed;
};
void PrintTo(const DocumentCase& c, std::ostream* os) { *os << c.name; }

class WellFormedXml : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(WellFormedXml, Decides) { EXPECT_EQ(isWellFormedXml(WideString(GetParam().text)), GetParam().wellFormed); }

// An internal subset with every kind of declaration.
const std::u16string kSubset =
    u"<!DOCTYPE a [ <!ELEMENT a (#PCDATA|b)*> <!ELEMENT b (c,(d|e)+,f?)*> <!ELEMENT c EMPTY>"
    u"<!ATTLIST a x (p|q-1) 'p' y NOTATION (n) #IMPLIED z ID #FIXED \"k&amp;\" w IDREFS #REQUIRED>"
    u"<!ENTITY % pe \"x\"> <!ENTITY g 'v &g2; &#65;'> <!ENTITY u SYSTEM \"u\" NDATA n>"
    u"<!NOTATION n PUBLIC \"-//A//B\"> %pe; <!-- c --> <?pi x?> ]>";

INSTANTIATE_TEST_SUITE_P(
    Documents, WellFormedXml,
    ::testing::Values(
        // Around the root.
        DocumentCase{"OneEmptyElement", u"<a/>", true},
        DocumentCase{"Empty", u"", false},
        DocumentCase{"OnlyAComment", u"<!-- c -->", false},
        DocumentCase{"TwoRoots", u"<a/><b/>", false},
        DocumentCase{"TextBeforeTheRoot", u"x<a/>", false},
        DocumentCase{"TextAfterTheRoot", u"<a/>x", false},
        DocumentCase{"CdataOutsideTheRoot", u"<![CDATA[ ]]><a/>", false},
        DocumentCase{"MiscAround", u"\uFEFF<?xml version='1.0' encoding=\"utf-8\" standalone='no' ?>\n<!--c-->"
                                   u"<?p?>\t<a/>\r\n<!---->", true},
        DocumentCase{"DeclarationAfterSpace", u" <?xml version=\"1.0\"?><a/>", false},
        DocumentCase{"DeclarationVersionTwo", u"<?xml version=\"2.0\"?><a/>", false},
        DocumentCase{"DeclarationWithoutVersion", u"<?xml encoding=\"utf-8\"?><a/>", false},
        DocumentCase{"DeclarationOutOfOrder", u"<?xml version=\"1.0\" standalone=\"yes\" encoding=\"x\"?><a/>", false},
        DocumentCase{"ReservedInstructionTarget", u"<a><?XmL x?></a>", false},
        DocumentCase{"InstructionWithoutSpace", u"<a><?p-x?></a><?pz?>", true},
        DocumentCase{"InstructionTargetJoinedToData", u"<?p\"x\"?><a/>", false},
        // Characters, also where the reader looks at nothing.
        DocumentCase{"EveryAllowedKind", u"<a b=\"\t\u00A0\uE000\uFFFD\U0010FFFF\">\r\n\u007F\u0085</a>", true},
        DocumentCase{"ControlInComment", u"<a><!--\u0001--></a>", false},
        DocumentCase{"ControlInInstruction", u"<a><?p \u001F?></a>", false},
        DocumentCase{"FFFEInCdata", u"<a><![CDATA[\uFFFE]]></a>", false},
        DocumentCase{"LoneSurrogate", u"<a>\xDC00</a>", false},
        // Names and tags.
        DocumentCase{"NamesWithColonDotsAndMarks", u"<p:a xml:lang='x' _.-\u00B7\u0300='1'><\u00E9\u0E01/></p:a>", true},
        // Only names that both editions of XML 1.0 allow: nothing beyond
        // U+FFFF, none of the letters only the fifth edition added.
        DocumentCase{"NameBeyondTheBasicPlane", u"<a><\U00010000/></a>", false},
        DocumentCase{"AttributeNameBeyondTheBasicPlane", u"<a x\U0001F600='1'/>", false},
        DocumentCase{"NameStartOfTheFifthEditionOnly", u"<a><\u0218/></a>", false},
        DocumentCase{"NameCharacterOfTheFifthEditionOnly", u"<a><x\u203F/></a>", false},
        DocumentCase{"NonBasicPlaneInTextIsFine", u"<a b='\U0001F600'>\U00010000</a>", true},
        DocumentCase{"NameStartsWithADigit", u"<a><1a/></a>", false},
        DocumentCase{"NameStartsWithAHyphen", u"<a -b='1'/>", false},
        DocumentCase{"AttributeWithoutSpace", u"<a b='1'c='2'/>", false},
        DocumentCase{"AttributeWithoutValue", u"<a b/>", false},
        DocumentCase{"RepeatedAttribute", u"<a b=\"1\" c='' b=\"2\"/>", false},
        DocumentCase{"SameAttributeInTwoTags", u"<a b='1'><c b='1'/></a>", true},
        DocumentCase{"MismatchedEndTag", u"<a><b></a></b>", false},
        DocumentCase{"EndTagWithSpace", u"<a><b></b \n></a>", true},
        DocumentCase{"Unclosed", u"<a><b/>", false},
        // Content and references.
        DocumentCase{"PredefinedAndCharacterReferences", u"<a b='&lt;&#60;&#x3c;'>&amp;&apos;&quot;&gt;&#x10FFFF;</a>",
                     true},
        DocumentCase{"UndeclaredEntity", u"<a>&nbsp;</a>", false},
        DocumentCase{"EntityOfTheDocumentsDtd", u"<!DOCTYPE a [<!ENTITY e 'x'>]><a>&e;</a>", false},
        DocumentCase{"ReferenceToAControlCharacter", u"<a>&#x1;</a>", false},
        DocumentCase{"BareAmpersand", u"<a>a & b</a>", false},
        DocumentCase{"LessThanInAttribute", u"<a b='<'/>", false},
        DocumentCase{"CdataEndInText", u"<a>]]></a>", false},
        DocumentCase{"CdataHoldsMarkup", u"<a><![CDATA[<b>&]]]></a>", true},
        DocumentCase{"UnclosedCdata", u"<a><![CDATA[x</a>", false},
        DocumentCase{"DoubleHyphenInComment", u"<a><!-- x -- y --></a>", false},
        DocumentCase{"CommentEndingInAHyphen", u"<a><!-- x ---></a>", false},
        // The document type.
        DocumentCase{"DoctypeWithExternalIds", u"<!DOCTYPE a SYSTEM 'x'><a/>", true},
        DocumentCase{"DoctypePublic", u"<!DOCTYPE a PUBLIC \"-//A//B\" 'u' [ ]><a/>", true},
        DocumentCase{"DoctypePublicWithoutSystem", u"<!DOCTYPE a PUBLIC \"-//A//B\"><a/>", false},
        DocumentCase{"PublicIdWithABrace", u"<!DOCTYPE a PUBLIC \"{\" 'u'><a/>", false},
        DocumentCase{"InternalSubset", kSubset + u"<a/>", true},
        DocumentCase{"DoctypeAfterTheRoot", u"<a/><!DOCTYPE a>", false},
        DocumentCase{"TwoDoctypes", u"<!DOCTYPE a><!DOCTYPE a><a/>", false},
        DocumentCase{"MixedSeparators", u"<!DOCTYPE a [<!ELEMENT a (b|c,d)>]><a/>", false},
        DocumentCase{"PcdataNotFirst", u"<!DOCTYPE a [<!ELEMENT a (b|#PCDATA)*>]><a/>", false},
        DocumentCase{"MixedWithoutStar", u"<!DOCTYPE a [<!ELEMENT a (#PCDATA|b)>]><a/>", false},
        DocumentCase{"EmptyGroup", u"<!DOCTYPE a [<!ELEMENT a ()>]><a/>", false},
        DocumentCase{"UnknownAttributeType", u"<!DOCTYPE a [<!ATTLIST a b STRING #IMPLIED>]><a/>", false},
        DocumentCase{"ParameterReferenceInADeclaration", u"<!DOCTYPE a [<!ENTITY e '%p;'>]><a/>", false},
        DocumentCase{"UnknownDeclaration", u"<!DOCTYPE a [<!FOO a>]><a/>", false},
        DocumentCase{"UnclosedSubset", u"<!DOCTYPE a [<!ELEMENT a ANY>", false}), testing::NamedCase());

TEST(WellFormedXml, ReportsWhereTheTextStops) {
    const WideString text(u"<a><b></c></a>");
    const auto fault = firstXmlFault(text.data(), text.size());
    ASSERT_TRUE(fault);
    EXPECT_TRUE(*fault >= 6 && *fault < 10) << *fault;  // in the closing tag
    WideString deep;  // no stack is spent on depth
    for (int level = 0; level < 100000; ++level) deep += u"<a>";
    for (int level = 0; level < 100000; ++level) deep += u"</a>";
    EXPECT_TRUE(isWellFormedXml(deep));
    EXPECT_FALSE(isWellFormedXml(deep.substr(0, deep.size() - 1)));
}

}  // namespace
}  // namespace kestrova
