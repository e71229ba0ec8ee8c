// Each physical card the machine took in, followed to its end: what it was
// personalised with, whether the report of that personalisation reached the
// line whole, and where the card went (the exit, the reject bin, or still
// inside).
#pragma once

#include "link/bytes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrova::simulator {

enum class CardEnd { Inside, Delivered, Rejected };
const char* cardEndName(CardEnd end);

struct CardJourney {
    std::size_t card = 0;        // the machine's number for it (1 for the first PreLoad)
    std::size_t takenInFrame = 0;
    bool personalised = false;   // a personalisation completed on it (well or not)
    std::uint8_t completionCode = 0;
    Bytes setupText;             // the JobSetup payload it was set up with
    Bytes personalisationText;   // the Personalize payload it was personalised with
    std::size_t personalizeFrame = 0;
    // What kept the report of its personalisation from reaching the line
    // whole (a fault kind: "lostdone", "badcheck", "powercut" ...); empty
    // when it did, or when it was never personalised. Only then can no
    // host know that the card is made.
    std::string completionLostBy;
    CardEnd end = CardEnd::Inside;
    std::uint8_t endedBy = 0;    // the letter of the command that moved it out ('E', '!')
    std::size_t endedAtFrame = 0;
};

}  // namespace kestrova::simulator
