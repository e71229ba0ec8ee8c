// How long each of the machine's operations takes, in platform milliseconds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova::simulator {

struct MachineDurations {
    std::uint64_t restoreMs = 2500;
    std::uint64_t preLoadMs = 800;
    std::uint64_t loadMs = 1200;
    std::uint64_t personalizeMs = 3000;
    std::uint64_t ejectMs = 700;

    // A desk machine's pace (the defaults above).
    static MachineDurations typical();
    // Every operation done by the next poll.
    static MachineDurations instant();
    static MachineDurations uniform(std::uint64_t ms);
    // Short, so that a card takes a few cycles, and each step still sees a
    // poll answered EOT: the fault matrix's pace.
    static MachineDurations brief();

    // The duration of the operation a command letter starts; 0 for others.
    std::uint64_t forCommand(std::uint8_t letter) const;
};

struct DurationsParse {
    std::optional<MachineDurations> durations;
    std::string error;  // what is wrong, when durations is empty
};

// "typical", "instant", or comma-separated NAME=MS with the names all,
// restore, preload, load, personalize, eject (later ones override earlier
// ones, so "all=50,personalize=200" works).
DurationsParse parseDurations(const std::string& option);

// The grammar above, for --help.
const char* durationsGrammarText();

}  // namespace kestrova::simulator
