// Hostile and broken input through the whole monitor (StartDocPort,
// WritePort, EndDocPort over the scripted machine, virtual clock): each job
// must end, the machine must be sent exactly the cards the job's records
// make, and the next, ordinary job must come out whole, so that nothing a
// bad job leaves behind reaches a later one.
#include "support/port_fixture.h"

#include "production/configuration.h"
#include "production/job_queue.h"
#include "production/job_stream.h"
#include "production/payload_texts.h"

#include "case_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kestrova::testing {
namespace {

using standin::PortEntry;
using namespace std::string_literals;

// What the machine must receive for the job's cards, worked out from the
// parsing alone.
std::vector<Bytes> personalisationsOf(const std::string& job) {
    JobStream stream;
    stream.append(reinterpret_cast<const std::uint8_t*>(job.data()), job.size());
    JobQueue queue;
    splitJobStream(stream, queue);
    std::vector<Bytes> out;
    for (const JobRecord& card : queue.records) out.push_back(personalisationText(card));
    return out;
}

std::string garbage(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(random() & 0xFF);
    return out;
}

const std::string kHeader = "<SX856 SY540 N=name X120 Y45 F2 CI3 N=number X120 Y200 F1 CI4>\r\n";
const std::string kGoodJob = kHeader + "<ANNA KOWALSKA\r\n4000 1234>\r\n<BERNARD OKAFOR\r\n4000 5678>\r\n";

struct BadJob {
    const char* name;
    // Built when the case runs: the large jobs are not held by every
    // process that merely lists the tests.
    std::function<std::string()> make;
    std::size_t piece;  // WritePort's piece size
};

class BadJobs : public PortFixture, public ::testing::WithParamInterface<BadJob> {};

// A card the machine cannot make (one without items, from a record before
// any header) halts production; the operator then deletes the job and
// restores the machine, as a client would through the control interface.
TEST_P(BadJobs, EndAndLeaveTheNextJobWhole) {
    const BadJob& c = GetParam();
    spm.setRecordCalls(false);

    const std::string job = c.make();
    ASSERT_EQ(startDoc(), TRUE);
    write(job, {c.piece});
    bool halted = false;
    {
        BackgroundJob production([this] { return endDoc(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!production.done() && std::chrono::steady_clock::now() < deadline) {
            if (underPortLock([](MonitorPort& p) { return p.machine().hwErrorCode() != 0; })) {
                halted = true;
                emptyQueue(*port);
            }
            std::this_thread::yield();
        }
        production.join(*port);
    }
    const std::vector<Bytes> expected = personalisationsOf(job);
    const std::vector<Bytes> made = machine.payloadsOf(command::Personalize);
    ASSERT_LE(made.size(), expected.size());
    EXPECT_TRUE(std::equal(made.begin(), made.end(), expected.begin())) << "the cards made are the job's, in order";
    if (!halted) {
        EXPECT_EQ(made.size(), expected.size());
    } else {
        WideString restore = u"<kx_api><command value=\"restore\"/></kx_api>";
        std::vector<WCHAR> answer(4096);
        DWORD returned = 0;
        EXPECT_EQ(table->pfnGetPrinterDataFromPort(handle, 0, restore.data(), nullptr, 0, answer.data(),
                                                   static_cast<DWORD>(answer.size() * sizeof(WCHAR)), &returned),
                  TRUE);
        EXPECT_EQ(underPortLock([](MonitorPort& p) { return p.machine().hwErrorCode(); }), 0);
    }

    // The machine's log runs on: the next job's cards are what follows.
    const std::size_t before = machine.payloadsOf(command::Personalize).size();
    EXPECT_EQ(produce(kGoodJob), TRUE);
    const std::vector<Bytes> all = machine.payloadsOf(command::Personalize);
    ASSERT_GE(all.size(), before);
    EXPECT_EQ(std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
              personalisationsOf(kGoodJob));
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, BadJobs,
    ::testing::Values(
        // The stream ends inside the record: still one card, megabytes long.
        BadJob{"OneHugeRecordWithoutClose", [] { return kHeader + "<" + std::string(4 * 1024 * 1024, 'A'); },
               64 * 1024},
        BadJob{"NulAndHighBytes",
               [] { return kHeader + "<\0\xff\x80 name\r\n\xe9\0\x01\x02\x03>\0\xfe<\x7f\x80\x81>"s; }, 3},
        BadJob{"NumbersPastThe32BitRange",
               [] {
                   return "<SX2147483648 SY540 X4294967296 Y-2147483649 F1 CI0 N=a X99999999999999999999 Y1>"
                          "<first\r\nsecond>" +
                          kHeader + "<third\r\nfourth>";
               },
               4096},
        BadJob{"RecordsOfNothingButDelimiters",
               [] { return std::string(10000, '<') + std::string(10000, '>') + "<>" + kHeader; }, 17},
        BadJob{"BinaryGarbage", [] { return garbage(64 * 1024, 7); }, 4096},
        // Nothing outside a record is kept: the intake passes 100 MB through
        // in chunks and no card results.
        BadJob{"HundredMegabytesBetweenRecords", [] { return std::string(100 * 1024 * 1024, 'z'); }, 1024 * 1024}), NamedCase());

class SlowPort : public PortFixture {};

// The port monitor beneath takes one byte per WritePort call: every frame
// still reaches the machine whole and in order.
TEST_F(SlowPort, WritePortTakingOneByteAtATimeStillCarriesEveryFrame) {
    spm.setWriteLimit(1);
    EXPECT_EQ(produce(kGoodJob), TRUE);
    EXPECT_EQ(machine.payloadsOf(command::Personalize), personalisationsOf(kGoodJob));
    std::size_t frameBytes = 0;
    for (const auto& request : machine.received()) {
        EXPECT_TRUE(request.wellFormed) << request.command;
        frameBytes += 9 + request.payload.size();
    }
    // One call per byte written (at least the frames' bare size).
    EXPECT_GE(spm.countOf(PortEntry::WritePort), frameBytes);
}

struct BadConfiguration {
    const char* name;
    std::string bytes;
};

class BadConfigurations : public ::testing::TestWithParam<BadConfiguration> {};

TEST_P(BadConfigurations, AreAFailedLoadWithoutRules) {
    CoordinateRules horizontal;
    CoordinateRules vertical;
    EXPECT_FALSE(readRules(GetParam().bytes, horizontal, vertical));
    EXPECT_TRUE(horizontal.empty());
    EXPECT_TRUE(vertical.empty());
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += text;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, BadConfigurations,
    ::testing::Values(BadConfiguration{"BinaryGarbage", garbage(64 * 1024, 11)},
                      BadConfiguration{"NulBytesOnly", std::string(4096, '\0')},
                      BadConfiguration{"TwoHundredThousandLevels",
                                       "<KestrovaLM>" + repeated("<a>", 200000) + repeated("</a>", 200000) +
                                           "</KestrovaLM>"},
                      BadConfiguration{"UnclosedAfterARule",
                                       "<KestrovaLM><replace-coordinates><horizontal>"
                                       "<rule value=\"1\" replace_with=\"2\"/>"s + garbage(100, 3)}), NamedCase());

}  // namespace
}  // namespace kestrova::testing
