// Reading the JobSetup and Personalize texts back into what goes on a card,
// against the texts the monitor builds.
#include "production/job_queue.h"
#include "production/payload_texts.h"
#include "simulator/card_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using simulator::decodePersonalisationText;
using simulator::decodeSetupText;

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A card as the monitor would queue it from a job's two records.
JobRecord cardFrom(const std::string& header, const std::string& data) {
    JobQueue queue;
    queue.parseRecord(header);
    queue.parseRecord(data);
    return queue.front();
}

TEST(CardLogDecoding, ReadsBackWhatTheMonitorSends) {
    struct Case {
        const char* header;
        const char* data;
        std::vector<std::string> texts;
    } cases[] = {
        {"SX856 SY540 X120 Y45 F2 CI3 X200 Y80 F1 CI12", "CARD ONE\r\nAnn", {"CARD ONE", "Ann"}},
        {"SX5 SY7 X-5 Y0 F0 CI0", "minus", {"minus"}},
        {"SX1 SY1 X1 Y1 F1 CI1 X2 Y2 F2 CI2", "a;b\nc; d", {"a;b", "c; d"}},
        {"SX1 SY1 X1 Y1 F1 CI1 X2 Y2 F2 CI2", "\n", {"", ""}},
        {"SX1 SY1 X1 Y1 F1 CI1 X2 Y2 F2 CI2 X3 Y3 F3 CI3", "only one", {"only one"}},
        {"SX1060 SY1 X1 Y1 F1 CI1", "\x01\x02\x03 \xff", {"\x01\x02\x03 \xff"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        const JobRecord card = cardFrom(c.header, c.data);
        const auto setup = decodeSetupText(recordSetupText(card));
        ASSERT_TRUE(setup);
        EXPECT_EQ(setup->sx, card.sx());
        EXPECT_EQ(setup->sy, card.sy());
        const auto decoded = decodePersonalisationText(personalisationText(card));
        EXPECT_TRUE(decoded.exact);
        ASSERT_EQ(decoded.items.size(), c.texts.size());
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            EXPECT_EQ(decoded.items[i].text, c.texts[i]);
            EXPECT_EQ(decoded.items[i].x, card.items()[i].x);
            EXPECT_EQ(decoded.items[i].y, card.items()[i].y);
            EXPECT_EQ(decoded.items[i].ci10, card.items()[i].ci * 10);
        }
        EXPECT_EQ(simulator::encodePersonalisationText(decoded.items), personalisationText(card));
    }
}

TEST(CardLogDecoding, RejectsTextsOfAnotherForm) {
    for (const char* text : {"", "06SZX", "06SZX12", "06SZXa06SZY1", "06SZX106SZY", "SZX1SZY2"}) {
        EXPECT_FALSE(decodeSetupText(bytesOf(text))) << text;
    }
    for (const char* text : {"", "B0120", "A01", "A0120004520x0text"}) {
        EXPECT_FALSE(decodePersonalisationText(bytesOf(text)).exact) << text;
    }
    EXPECT_TRUE(decodePersonalisationText(bytesOf("A")).exact) << "a card without items";
}

}  // namespace
}  // namespace kestrova::testing
