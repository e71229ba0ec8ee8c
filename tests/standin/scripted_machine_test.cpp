// The scripted machine on its own: frames written to it, replies read back.
#include "link/link_frame.h"
#include "link/link_session.h"
#include "link/machine_command.h"
#include "standin/platform_standin.h"
#include "standin/scripted_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova::testing {
namespace {

using standin::MachineResponse;
using standin::ScriptedMachine;

Bytes requestFrame(std::uint8_t sequence, std::uint8_t command, const Bytes& payload = {}) {
    return encodeRequest(defaultMachineAddress(), sequence, command, payload);
}

class ScriptedMachineTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        standin::setClockMode(standin::ClockMode::Virtual);
    }

    // Writes the bytes and reads, one byte at a time as the link does, all
    // that the machine has to say.
    Bytes exchange(const Bytes& request) {
        if (!request.empty()) machine.onWrite(request.data(), request.size());
        Bytes reply;
        std::uint8_t byte = 0;
        while (machine.onRead(&byte, 1, linkTimeouts()) == 1) reply.push_back(byte);
        return reply;
    }

    ScriptedMachine machine;
};

TEST_F(ScriptedMachineTest, AnswersAFirstRestoreWithTheMachinesFrames) {
    // A new port's first cycles: poll, restore, and the poll that sees it done.
    struct Step {
        Bytes request;
        Bytes reply;
    } steps[] = {
        {{0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x70, 0x03, 0x33}, {0x02, 0x5A, 0x39, 0x51, 0x51, 0x20, 0x05, 0x03, 0x46}},
        {{0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x21, 0x03, 0x63},
         {0x02, 0x5A, 0x39, 0x51, 0x51, 0x21, 0x06, 0x21, 0x03, 0x65}},
        {requestFrame(0x22, command::Poll), {0x02, 0x5A, 0x39, 0x51, 0x51, 0x22, 0x21, 0x30, 0x03, 0x50}},
        {requestFrame(0x23, command::Poll), requestFrame(0x23, reply::ENQ)},
    };
    for (const auto& step : steps) EXPECT_EQ(exchange(step.request), step.reply);
    EXPECT_EQ(machine.commandLetters(), "p!pp");
    EXPECT_FALSE(machine.completionPending());
}

TEST_F(ScriptedMachineTest, RepliesDecodeToWhatWasScripted) {
    struct Case {
        const char* name;
        std::uint8_t command;
        MachineResponse response;
        std::uint8_t replyCode;
        std::uint8_t answered;
        std::uint8_t reject;
        std::uint8_t completion;
        Bytes payload;
    } cases[] = {
        {"nak", command::Load, MachineResponse::nak(7), reply::NAK, 'L', 7, 0, {}},
        // Fixed reply bytes go out raw even where a payload byte would be stuffed.
        {"nak with a frame byte", command::Load, MachineResponse::nak(0x02), reply::NAK, 'L', 0x02, 0, {}},
        {"failed data reply", command::JobSetup, MachineResponse::data('3'), 'J', 'J', 0, '3', {}},
        {"data reply with frame bytes", command::ModuleInfo, MachineResponse::data('0', {0x41, 0x01, 0x02, 0x03}),
         'w', 'w', 0, '0', {0x41, 0x01, 0x02, 0x03}},
        {"eot", command::Poll, MachineResponse::eot(), reply::EOT, 0, 0, 0, {}},
        {"ack", command::Eject, MachineResponse::ack(), reply::ACK, 'E', 0, 0, {}},
    };
    std::uint8_t sequence = 0x20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine.script(c.command, c.response);
        const Bytes wire = exchange(requestFrame(sequence, c.command));
        LinkFrame frame;
        ASSERT_EQ(decode(wire.data(), wire.size(), frame), decode_result::Frame);
        EXPECT_EQ(frame.sequence, sequence);
        EXPECT_EQ(frame.address, defaultMachineAddress());
        EXPECT_EQ(frame.command, c.replyCode);
        EXPECT_EQ(frame.answeredCommand, c.answered);
        EXPECT_EQ(frame.rejectCode, c.reject);
        EXPECT_EQ(frame.completionCode, c.completion);
        EXPECT_EQ(frame.payload, c.payload);
        ++sequence;
    }
}

TEST_F(ScriptedMachineTest, OperationsCompleteOnALaterPollAfterTheBusyPolls) {
    machine.setBusyPolls(2);
    struct Step {
        std::uint8_t command;
        std::uint8_t replyCode;
    } steps[] = {
        {command::PreLoad, reply::ACK}, {command::Poll, reply::EOT}, {command::Poll, reply::EOT},
        {command::Poll, 'l'},           {command::Poll, reply::ENQ}, {command::JobSetup, 'J'},
        {command::RunControl, 'T'},     {command::ModuleInfo, 'w'},
    };
    for (const auto& step : steps) {
        const Bytes wire = exchange(requestFrame(0x30, step.command));
        LinkFrame frame;
        ASSERT_EQ(decode(wire.data(), wire.size(), frame), decode_result::Frame);
        EXPECT_EQ(frame.command, step.replyCode) << "after " << machine.commandLetters();
    }
}

TEST_F(ScriptedMachineTest, SilenceLetsTheReadTimeOutPass) {
    machine.script(command::Poll, MachineResponse::silence());
    const std::uint64_t before = standin::nowMs();
    EXPECT_TRUE(exchange(requestFrame(0x20, command::Poll)).empty());
    EXPECT_EQ(standin::nowMs() - before, 1500u);
    EXPECT_EQ(machine.frames(), 1u);
}

TEST_F(ScriptedMachineTest, LogsEachFrameWithItsUnstuffedPayload) {
    const Bytes payload = {'A', 0x01, 0x02, 0x03, 0x00, 0xFD, 0xE9};
    const Bytes wire = requestFrame(0x40, command::Personalize, payload);
    // Written in pieces, as a port monitor with a small write limit takes it.
    for (std::size_t at = 0; at < wire.size(); at += 3) {
        machine.onWrite(wire.data() + at, std::min<std::size_t>(3, wire.size() - at));
    }
    exchange({});
    const auto log = machine.received();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].command, command::Personalize);
    EXPECT_EQ(log[0].sequence, 0x40);
    EXPECT_EQ(log[0].payload, payload);
    EXPECT_TRUE(log[0].wellFormed);
    EXPECT_EQ(machine.payloadsOf(command::Personalize), std::vector<Bytes>{payload});
}

TEST_F(ScriptedMachineTest, FlagsFramesOurEncoderWouldNotWrite) {
    struct Case {
        const char* name;
        Bytes bytes;
        bool answered;
    } cases[] = {
        // 0x02 left unstuffed in the payload: still a frame, not a canonical one.
        {"unstuffed payload byte", encodeWithFixedBytes(defaultMachineAddress(), 0x20, 'J', {0x02}, {}), true},
        // The head of a frame whose writing failed, then a whole frame.
        {"stale head", [] {
             Bytes b = {0x02, 'Z', '9'};
             const Bytes whole = requestFrame(0x21, command::Poll);
             b.insert(b.end(), whole.begin(), whole.end());
             return b;
         }(),
         true},
        {"no frame", {0x11, 0x22, 0x33}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine.clear();
        const Bytes reply = exchange(c.bytes);
        EXPECT_EQ(!reply.empty(), c.answered);
        const auto log = machine.received();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_FALSE(log[0].wellFormed);
    }
}

}  // namespace
}  // namespace kestrova::testing
