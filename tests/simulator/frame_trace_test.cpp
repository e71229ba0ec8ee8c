// What the trace says about frames in both directions.
#include "machine_driver.h"

#include "simulator/frame_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using simulator::describeReply;
using simulator::describeRequest;

TEST(FrameTrace, DescribesRequestsAndReplies) {
    struct Case {
        Bytes frame;
        bool request;
        std::string meaning;
    } cases[] = {
        {{0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33}, true, "Poll  seq 32"},
        {{0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x21, 0x03, 0x63}, true, "Restore  seq 33"},
        {requestFrame(0x22, command::RunControl, {'3'}), true, "RunControl 3 (pause)  seq 34"},
        {requestFrame(0x23, command::JobSetup, bytesOf("06SZX85606SZY540")), true, "JobSetup 06SZX85606SZY540  seq 35"},
        {requestFrame(0x24, command::Personalize, {'A', 0x02}), true, "Personalize A\\x02  seq 36"},
        {requestFrame(0x20, reply::ENQ), false, "ENQ (ready)"},
        {requestFrame(0x20, reply::EOT), false, "EOT (busy)"},
        {{0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x06, 0x21, 0x03, 0x65}, false, "ACK Restore"},
        {{0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x21, 0x30, 0x03, 0x50}, false, "data Restore, completion '0'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.request ? describeRequest(c.frame) : describeReply(c.frame), c.meaning);
    }
}

TEST(FrameTrace, ShowsEachFrameOnceWhateverThePieces) {
    std::vector<std::string> lines;
    simulator::FrameTracer tracer([&](const std::string& line) { lines.push_back(line); });
    const Bytes poll{0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33};
    tracer.written(poll.data(), 4);
    tracer.written(poll.data() + 4, poll.size() - 4);
    const Bytes enq = requestFrame(0x20, reply::ENQ);
    for (std::uint8_t byte : enq) tracer.read(&byte, 1);
    // A shifted reply never decodes; the empty read that ends it shows it.
    const Bytes stray{0xFF, 0x02, 0x5A};
    tracer.read(stray.data(), stray.size());
    tracer.readNothing();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("-> 02 5A 39 51 51 20 70 03 33"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("Poll  seq 32"), std::string::npos);
    EXPECT_NE(lines[1].find("<- 02 5A 39 51 51 20 05 03"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("FF 02 5A"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("no frame in 3 bytes"), std::string::npos);
    EXPECT_EQ(tracer.framesWritten(), 1u);
    EXPECT_EQ(tracer.framesRead(), 1u);
}

}  // namespace
}  // namespace kestrova::testing
