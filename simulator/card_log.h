// What the machine put on a card: the JobSetup and Personalize texts it
// received for it, and the same decoded into card size, items and texts.
#pragma once

#include "link/bytes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::simulator {

struct CardSetup {
    std::int32_t sx = 0;
    std::int32_t sy = 0;
};

struct PersonalisedItem {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t f = 0;
    std::int32_t ci10 = 0;  // the font size field as sent: ci × 10
    std::string text;

    bool operator==(const PersonalisedItem& other) const;
};

struct PersonalisedCard {
    std::size_t card = 0;      // the machine's number for the card taken in (1-based)
    std::size_t position = 0;  // place in the log (1-based)
    Bytes setupText;           // JobSetup payload as received
    Bytes personalisationText; // Personalize payload as received
    std::optional<CardSetup> setup;
    std::vector<PersonalisedItem> items;
    // Encoding the decoded items gives the text back.
    bool decodedExactly = false;
    std::uint8_t completionCode = '0';  // other than '0': the personalisation failed (a spoiled card)
    bool delivered = false;             // left the machine at the exit (by Eject or a restore)
    // The reply that reported the completion was damaged on the line (a bad
    // check byte, a stray byte ahead of it): the host cannot have read it.
    bool completionLost = false;
    // The number (by the machine's count of frames received) of the frame
    // whose Personalize started this personalisation.
    std::size_t personalizeFrame = 0;
    // The faults that struck while the machine held the card, as written.
    std::vector<std::string> faults;

    // The texts of the items, in order: what a test compares with the job's lines.
    std::vector<std::string> texts() const;
};

// "06SZX<sx>06SZY<sy>"; nullopt when the text has another form.
std::optional<CardSetup> decodeSetupText(const Bytes& text);

struct DecodedPersonalisation {
    std::vector<PersonalisedItem> items;
    bool exact = false;
};

// "A", then per item x(4) y(4) f(1) ci×10(3) and the text, items separated
// by ";". A ';' inside a text is taken as part of it unless twelve field
// characters follow it. The text itself is ambiguous where a number is wider
// than its field (it shifts the fields after it), so the texts as received
// stay the authority; `exact` only says that encoding the items gives them
// back.
DecodedPersonalisation decodePersonalisationText(const Bytes& text);

// The personalisation text as the monitor builds it.
Bytes encodePersonalisationText(const std::vector<PersonalisedItem>& items);

}  // namespace kestrova::simulator
