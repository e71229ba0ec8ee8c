// Splitting the buffered job bytes into records, however the spooler cut
// them into writes, and the chunked stream underneath.
#include "production/job_queue.h"
#include "production/job_stream.h"

#include "support/allocation_failure.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace kestrova {
namespace {

using namespace std::string_literals;

void write(JobStream& stream, const std::string& bytes, std::size_t piece) {
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::size_t size = std::min(piece, bytes.size() - at);
        ASSERT_TRUE(stream.append(reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, size));
    }
}

// Every queued card as its lines joined with '|'.
std::vector<std::string> cards(const JobQueue& queue) {
    std::vector<std::string> out;
    for (const JobRecord& record : queue.records) {
        std::string joined;
        for (std::size_t i = 0; i < record.lines().size(); ++i) {
            if (i > 0) joined += '|';
            joined += record.lines()[i];
        }
        out.push_back(joined);
    }
    return out;
}

struct StreamCase {
    const char* name;
    std::string stream;
    std::vector<std::string> cards;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class StreamSplitting : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamSplitting, QueuesTheRecordsInStreamOrder) {
    const StreamCase& c = GetParam();
    // Whole, byte by byte and in odd pieces: the writes' sizes must not matter.
    for (const std::size_t piece : {c.stream.size() + 1, std::size_t{1}, std::size_t{3}}) {
        JobStream stream;
        write(stream, c.stream, piece);
        JobQueue queue;
        splitJobStream(stream, queue);
        EXPECT_EQ(cards(queue), c.cards) << "writes of " << piece;
        EXPECT_EQ(stream.chunkAvailable(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, StreamSplitting,
    ::testing::Values(StreamCase{"NothingOutsideRecords", "xx>yy", {}},
                      StreamCase{"BytesAroundRecordsDropped", "xx<Ann>yy<Bee>zz", {"Ann", "Bee"}},
                      StreamCase{"OpenBracketInsideIsText", "<a<b>", {"a<b"}},
                      StreamCase{"EmptyRecordYieldsNothing", "<><>< >", {" "}},
                      StreamCase{"OpenAtTheEnd", "<Ann>< Bee", {"Ann", " Bee"}},
                      StreamCase{"LoneOpenBracketAtTheEnd", "<Ann><", {"Ann"}},
                      StreamCase{"ClosingBracketOutsideDropped", "><A>>", {"A"}},
                      StreamCase{"NulAndHighBytesInAndAround", "\0\xff<\0\xfe\x80>\0"s, {"\0\xfe\x80"s}},
                      StreamCase{"BreaksAcrossTheRecord", "<Ann\r\nBee\n>", {"Ann|Bee|"}}), testing::NamedCase());

TEST(StreamSplitting, HeaderThenCardWithDroppedBytes) {
    JobStream stream;
    write(stream, "xx<SX856 SY540 X100 Y200 F1 CI5 X100 Y300 F2 CI5>yy<Ann\r\nBee>", 1000);
    JobQueue queue;
    splitJobStream(stream, queue);
    ASSERT_EQ(queue.size(), 1u);
    const JobRecord card = queue.front();
    EXPECT_EQ(card.sx(), 856);
    EXPECT_EQ(card.sy(), 540);
    ASSERT_EQ(card.items().size(), 2u);
    EXPECT_EQ(card.items()[1].y, 300);
    EXPECT_EQ(card.items()[1].f, 2);
    EXPECT_EQ(cards(queue), std::vector<std::string>{"Ann|Bee"});
}

TEST(StreamSplitting, RecordsAcrossChunkBoundaries) {
    // The first '<' is a chunk's last byte, the next record's '>' another
    // chunk's last byte, and the third record runs from one chunk into the next.
    const std::size_t chunk = JobStream::kChunkSize;
    std::string bytes(chunk - 1, 'x');
    bytes += "<A";
    bytes += std::string(chunk - 2, 'b');
    bytes += "><";
    bytes += std::string(chunk, 'c');
    bytes += "><>";
    for (const std::size_t piece : {bytes.size(), chunk, std::size_t{4093}}) {
        JobStream stream;
        write(stream, bytes, piece);
        JobQueue queue;
        splitJobStream(stream, queue);
        EXPECT_EQ(cards(queue), (std::vector<std::string>{"A" + std::string(chunk - 2, 'b'), std::string(chunk, 'c')}))
            << "writes of " << piece;
    }
}

TEST(StreamSplitting, CardsShareTheLayoutTheyWereQueuedUnder) {
    JobStream stream;
    write(stream, "<SX1 X5><a><b><SX2 X6 X7><c>", 100);
    JobQueue queue;
    splitJobStream(stream, queue);
    ASSERT_EQ(queue.size(), 3u);
    EXPECT_EQ(queue.records[0].layout(), queue.records[1].layout());  // one layout, not copies
    EXPECT_NE(queue.records[1].layout(), queue.records[2].layout());
    EXPECT_EQ(queue.records[2].layout(), queue.layout);
    EXPECT_EQ(queue.records[0].sx(), 1);
    EXPECT_EQ(queue.records[0].items().size(), 1u);
    EXPECT_EQ(queue.records[2].sx(), 2);
    EXPECT_EQ(queue.records[2].items().size(), 2u);
    // A copy of a card is a value equal to the original.
    EXPECT_EQ(queue.front(), queue.records[0]);
}

TEST(JobQueue, LayoutSurvivesClearingTheRecords) {
    JobQueue queue;
    queue.parseRecord("SX856 X1");
    queue.parseRecord("Ann");
    queue.clearRecords();
    queue.popFront();  // harmless on an empty queue
    queue.parseRecord("Bee");
    ASSERT_EQ(queue.size(), 1u);
    EXPECT_EQ(queue.front().sx(), 856);
    EXPECT_EQ(queue.front().items().size(), 1u);
}

TEST(JobStream, BytesAppendedAfterAFullChunkWasReadAreReadable) {
    JobStream stream;
    const std::string full(JobStream::kChunkSize, 'a');
    write(stream, full, full.size());
    stream.consume(stream.chunkAvailable());
    EXPECT_EQ(stream.chunkAvailable(), 0u);
    write(stream, "<X>", 3);
    ASSERT_EQ(stream.chunkAvailable(), 3u);
    std::uint8_t byte = 0;
    ASSERT_TRUE(stream.get(byte));
    EXPECT_EQ(byte, '<');
}

TEST(JobStream, StreamInTheErrorStateReadsAsEnded) {
    JobStream stream;
    write(stream, "<Ann>", 5);
    const std::string rest(JobStream::kChunkSize, 'b');
    {
        const testing::FailLargeAllocations failing(JobStream::kChunkSize);
        EXPECT_FALSE(stream.append(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size()));
    }
    EXPECT_TRUE(stream.failed());
    EXPECT_FALSE(stream.append(reinterpret_cast<const std::uint8_t*>("<x>"), 3));
    JobQueue queue;
    splitJobStream(stream, queue);
    EXPECT_EQ(queue.size(), 0u);

    stream.reset();
    EXPECT_FALSE(stream.failed());
    write(stream, "<Bee>", 5);
    splitJobStream(stream, queue);
    EXPECT_EQ(cards(queue), std::vector<std::string>{"Bee"});
}

}  // namespace
}  // namespace kestrova
