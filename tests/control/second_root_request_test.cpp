// Found by the control request fuzz target: a request with a second root
// element after kx_api was handled as a command, and its result document
// carried that second root too, so the client got two top-level elements
// instead of one XML document. Such a request is not a document: it goes to
// the port monitor beneath unchanged.
#include "control_fixture.h"

#include <gtest/gtest.h>

namespace kestrova::testing {
namespace {

TEST_F(ControlFixture, RequestWithASecondRootIsPassedThrough) {
    const ControlAnswer answer = request(u"<kx_api><command value=\"get_info\"/></kx_api><second/>");

    EXPECT_EQ(answer.result, TRUE);
    EXPECT_EQ(spm.countOf(standin::PortEntry::GetPrinterDataFromPort), 1u);
    EXPECT_EQ(spm.countOf(standin::PortEntry::WritePort), 0u);  // nothing reached the machine
}

TEST_F(ControlFixture, CommentsAndBlankLinesAroundTheRootAreStillOneDocument) {
    const ControlAnswer answer = request(u"<!-- hi -->\n<kx_api><command value=\"pause\"/></kx_api>\n<!-- bye -->\n");

    EXPECT_EQ(answer.result, TRUE);
    EXPECT_EQ(spm.countOf(standin::PortEntry::GetPrinterDataFromPort), 0u);
}

}  // namespace
}  // namespace kestrova::testing
