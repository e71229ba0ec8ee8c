// The result document: values put into the request tree, the XML text, and
// its copy into the caller's buffer.
#include "control/request_document.h"
#include "control/result_document.h"
#include "control/status_report.h"
#include "standin/platform_standin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <streambuf>
#include <vector>

namespace kestrova {
namespace {

ControlTree requestTree(const std::u16string& text) {
    auto tree = readRequestDocument(WideString(text).c_str());
    EXPECT_TRUE(tree);
    return tree ? *tree : ControlTree();
}

WideString serialised(const ControlTree& tree) {
    const auto document = serialiseResultDocument(tree);
    EXPECT_TRUE(document);
    return document ? *document : WideString();
}

TEST(ResultDocument, ResultsFollowWhatTheRequestHeldAndReuseItsResult) {
    ControlTree tree = requestTree(
        u"<kx_api><!--note--><command value=\"step\" extra=\"a&amp;b\"/><x>text</x>"
        u"<result><sw_error_code value=\"9\"/></result><tail/></kx_api>");
    putResultNumber(tree, L"start_doc_port", 1722);
    putResultNumber(tree, L"sw_error_code", -1);
    EXPECT_EQ(serialised(tree), WideString(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                           u"<kx_api>\n"
                                           u"   <!--note-->\n"
                                           u"   <command value=\"step\" extra=\"a&amp;b\"/>\n"
                                           u"   <x>text</x>\n"
                                           u"   <result>\n"
                                           u"      <sw_error_code value=\"-1\"/>\n"
                                           u"      <start_doc_port value=\"1722\"/>\n"
                                           u"   </result>\n"
                                           u"   <tail/>\n"
                                           u"</kx_api>\n"));
}

TEST(ResultDocument, CharacterReferencesComeBackAsTheirCharacters) {
    ControlTree tree = requestTree(u"<kx_api><command value=\"get_info\" who=\"Ren&#233;e &#x1F600; &#60;\"/></kx_api>");
    const WideString document = serialised(tree);
    EXPECT_NE(document.find(u"who=\"Ren\u00E9e \U0001F600 &lt;\""), WideString::npos) << document.size();
}

TEST(ResultDocument, ModuleInfoKeysThatMakeNoElementNamesAreLeftOut) {
    ControlTree tree = requestTree(u"<kx_api><command value=\"get_info\"/></kx_api>");
    const ModuleInfoTable table = {
        {"VER", "1.0"},  {"a.b", "n"}, {"ab.", "x"}, {".ab", "x"}, {"1ab", "x"},  {"a b", "x"},
        {"x:y", "x"},    {"<x>", "x"}, {"-ab", "x"}, {"\xD7" "ab", "x"},
        {"\xC4" "bc", "\xE9<&\""},
    };
    putModuleInfo(tree, table);
    EXPECT_EQ(serialised(tree), WideString(u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                           u"<kx_api>\n"
                                           u"   <command value=\"get_info\"/>\n"
                                           u"   <result>\n"
                                           u"      <machine>\n"
                                           u"         <module_info>\n"
                                           u"            <VER value=\"1.0\"/>\n"
                                           u"            <a>\n"
                                           u"               <b value=\"n\"/>\n"
                                           u"            </a>\n"
                                           u"            <\u00C4bc value=\"\u00E9&lt;&amp;&quot;\"/>\n"
                                           u"         </module_info>\n"
                                           u"      </machine>\n"
                                           u"   </result>\n"
                                           u"</kx_api>\n"));
}

// Holds everything written until the flush, which then fails, or fails at
// the first write.
class FailingBuffer : public std::basic_streambuf<TreeChar> {
public:
    explicit FailingBuffer(bool failAtFirstWrite) : store_(failAtFirstWrite ? 0 : 4096) {
        setp(store_.data(), store_.data() + store_.size());
    }

protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    int sync() override { return -1; }

private:
    std::vector<TreeChar> store_;
};

class SerialisationFailure : public ::testing::TestWithParam<bool> {};

TEST_P(SerialisationFailure, IsReported) {
    const ControlTree tree = requestTree(u"<kx_api><command value=\"get_info\"/></kx_api>");
    FailingBuffer buffer(GetParam());
    std::basic_ostream<TreeChar> out(&buffer);
    EXPECT_FALSE(writeResultDocument(tree, out));
}

INSTANTIATE_TEST_SUITE_P(Streams, SerialisationFailure, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "AtFirstWrite" : "OnlyAtTheFlush");
                         });

TEST(ResultDocumentCopy, ExactFitAndOneByteShort) {
    const WideString document(u"<?xml?>\n<a/>\n");
    const DWORD needed = static_cast<DWORD>(document.size() * 2);

    std::vector<unsigned char> buffer(needed + 4, 0xAA);
    DWORD returned = 0;
    ASSERT_EQ(copyResultDocument(document, reinterpret_cast<LPWSTR>(buffer.data()), needed, &returned), TRUE);
    EXPECT_EQ(returned, needed);
    EXPECT_EQ(std::memcmp(buffer.data(), document.data(), needed), 0);
    EXPECT_EQ(std::vector<unsigned char>(buffer.begin() + needed, buffer.end()), std::vector<unsigned char>(4, 0xAA))
        << "no terminator is added";

    std::vector<unsigned char> small(needed, 0x55);
    SetLastError(0);
    returned = 0;
    EXPECT_EQ(copyResultDocument(document, reinterpret_cast<LPWSTR>(small.data()), needed - 1, &returned), FALSE);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, needed);
    EXPECT_EQ(small, std::vector<unsigned char>(needed, 0x55));
}

// Trees that no request or result makes any longer, as a slip elsewhere
// could: the answer is withheld rather than handed out broken.
TEST(ResultDocumentDelivery, WithholdsADocumentThatIsNotWellFormed) {
    const ControlTree good = requestTree(u"<kx_api><command value=\"step\"/></kx_api>");
    std::vector<ControlTree> broken(4, good);
    broken[0].put(ControlTree::path_type(L"kx_api.1a", L'.'), TreeString());
    broken[1].put(ControlTree::path_type(L"kx_api.x.<xmlattr>.v", L'.'), TreeString(1, TreeChar(1)));
    broken[2].get_child(L"kx_api").push_back({L"<xmlcomment>", ControlTree(L"a--b")});
    broken[3].data() = L"text beside the root";

    for (const ControlTree& tree : broken) {
        standin::reset();
        std::vector<WCHAR> buffer(4096, 0x55);
        DWORD returned = 0xDEAD;
        EXPECT_EQ(deliverResultDocument(tree, buffer.data(), 8192, &returned), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INTERNAL_ERROR);
        EXPECT_EQ(returned, 0xDEADu) << "left as the entry set it";
        EXPECT_EQ(buffer, std::vector<WCHAR>(4096, 0x55));
        EXPECT_NE(standin::debugOutput().find(u"not well-formed"), WideString::npos);
    }
    DWORD returned = 0;
    std::vector<WCHAR> buffer(4096, 0);
    EXPECT_EQ(deliverResultDocument(good, buffer.data(), 8192, &returned), TRUE);
}

}  // namespace
}  // namespace kestrova
