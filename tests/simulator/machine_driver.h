// Speaks to the simulated machine as the monitor does, frame by frame, on
// the virtual clock: requests with running sequence numbers, replies decoded.
#pragma once

#include "link/link_frame.h"
#include "link/link_session.h"
#include "link/machine_command.h"
#include "simulator/machine_simulator.h"
#include "standin/platform_standin.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova::testing {

inline Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes requestFrame(std::uint8_t sequence, std::uint8_t command, const Bytes& payload = {}) {
    return encodeRequest(defaultMachineAddress(), sequence, command, payload);
}

struct Answer {
    Bytes bytes;
    LinkFrame frame;
    bool decoded = false;

    bool is(std::uint8_t code) const { return decoded && frame.command == code; }
    bool acks(std::uint8_t letter) const { return is(reply::ACK) && frame.answeredCommand == letter; }
    bool naks(std::uint8_t letter, std::uint8_t code) const {
        return is(reply::NAK) && frame.answeredCommand == letter && frame.rejectCode == code;
    }
    bool completes(std::uint8_t letter, std::uint8_t code = '0') const {
        return is(letter) && frame.completionCode == code;
    }
};

class MachineDriver {
public:
    explicit MachineDriver(simulator::MachineSimulator& machine) : machine_(machine) {}

    Answer send(std::uint8_t command, const Bytes& payload = {}) {
        sequence_ = static_cast<std::uint8_t>(sequence_ + 1);
        if (sequence_ > 254) sequence_ = 32;
        Answer answer;
        answer.bytes = machine_.answer(requestFrame(sequence_, command, payload)).bytes;
        answer.decoded = decode(answer.bytes.data(), answer.bytes.size(), answer.frame) == 0;
        return answer;
    }

    // Polls every 90 ms of virtual time until the machine reports something
    // other than EOT; gives up after `limitMs`.
    Answer pollUntilDone(std::uint64_t limitMs = 60000) {
        for (std::uint64_t waited = 0; waited <= limitMs; waited += 90) {
            Answer answer = send(command::Poll);
            if (!answer.is(reply::EOT)) return answer;
            standin::advanceVirtualClock(90);
        }
        return Answer();
    }

    // Restore and wait for its completion.
    void restore() {
        ASSERT_TRUE(send(command::Restore).acks(command::Restore));
        ASSERT_TRUE(pollUntilDone().completes(command::Restore));
    }

    // One card as the monitor produces it; false at the first answer that
    // differs from a clean run.
    bool card(const std::string& setup, const std::string& personalisation) {
        auto operation = [&](std::uint8_t letter, const Bytes& payload = {}) {
            return send(letter, payload).acks(letter) && pollUntilDone().completes(letter);
        };
        return operation(command::PreLoad) && operation(command::Load) &&
               send(command::JobSetup, bytesOf(setup)).completes(command::JobSetup) &&
               operation(command::Personalize, bytesOf(personalisation)) && operation(command::Eject);
    }

    void resetSequence() { sequence_ = 31; }

private:
    simulator::MachineSimulator& machine_;
    std::uint8_t sequence_ = 31;
};

class VirtualClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::reset();
        standin::setClockMode(standin::ClockMode::Virtual);
    }
    void TearDown() override { standin::reset(); }
};

}  // namespace kestrova::testing
