// The loopback channel over which `kestrova control --to` reaches a print.
#include "tool/control_channel.h"

#include <gtest/gtest.h>

namespace kestrova::testing {
namespace {

TEST(ControlChannel, CarriesADocumentAndItsAnswer) {
    tool::ControlListener listener;
    std::string error;
    ASSERT_TRUE(listener.listen({"127.0.0.1", 0}, error)) << error;
    std::string received;
    listener.start([&](const std::string& document) {
        received = document;
        return tool::ControlReply{document.size() < 100, 122, "<kx_api>answer</kx_api>"};
    });
    const simulator::net::Endpoint at{"127.0.0.1", listener.port()};

    tool::ControlReply reply;
    ASSERT_TRUE(tool::sendControlDocument(at, "<kx_api><command value=\"step\"/></kx_api>", reply, error)) << error;
    EXPECT_TRUE(reply.ok);
    EXPECT_EQ(reply.document, "<kx_api>answer</kx_api>");
    EXPECT_EQ(received, "<kx_api><command value=\"step\"/></kx_api>");

    // A failed request reports the last error the module left.
    ASSERT_TRUE(tool::sendControlDocument(at, std::string(200, 'x'), reply, error)) << error;
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.lastError, 122u);
    listener.stop();
    EXPECT_EQ(listener.requestsServed(), 2u);
}

}  // namespace
}  // namespace kestrova::testing
