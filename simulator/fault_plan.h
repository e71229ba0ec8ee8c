// Faults the simulated machine can be told to commit, and the grammar in
// which the command line and tests name them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::simulator {

enum class FaultKind {
    Nak,         // refuse the command with reject code `code`
    Fail,        // complete the command with completion character `code`
    Silent,      // send no reply at all (the frame is lost on the line)
    BadCheck,    // reply with a corrupted check byte
    Stray,       // one stray byte ahead of the reply
    Split,       // the reply in two pieces, `gapMs` apart
    Jam,         // the card after `count` delivered cards jams (at load or eject)
    WriteChunk,  // accept at most `count` bytes per write (always on)
    LostAck,     // carry the command out, but its ACK is lost on the line
    LostDone,    // the reply that reports the command's completion is lost on the line
    Late,        // the reply arrives `gapMs` late, after the host's read time-out
    Twice,       // the same reply sent twice
    PowerCut,    // the machine restarts before it answers: a new machine, the card still inside
    Trickle,     // the reply one byte at a time, `gapMs` apart (just inside a read time-out)
};

// Which cards a per-command fault strikes, counted by the cards the machine
// takes in (1 for the first PreLoad; a card produced again after a restore
// is taken in again and gets a new number).
struct FaultWhen {
    enum class Mode { Once, Card, Every, Chance, Frame };
    Mode mode = Mode::Once;  // Once: the first matching command only
    // Card: that card; Every: every n-th card; Chance: 1 in n matching
    // commands; Frame: the n-th frame the machine receives.
    std::size_t n = 0;

    // Whether the fault may strike this card and frame (Chance: the machine
    // draws besides).
    bool matches(std::size_t card, std::size_t frame) const;
};

struct Fault {
    FaultKind kind = FaultKind::Nak;
    // The command letter the fault answers (per-command kinds); 0: any
    // command (written "any"; a power cut names none).
    std::uint8_t command = 0;
    std::uint8_t code = 0;     // reject code or completion character
    std::uint64_t gapMs = 50;  // Split: between the halves; Late: the delay; Trickle: between bytes
    std::size_t count = 0;     // Jam: delivered cards before the jam; WriteChunk: bytes per write
    bool jamAtEject = false;   // Jam: stuck at the exit (after personalisation) instead of in the feed
    FaultWhen when;
    std::string text;          // the fault as it was written
};

struct FaultPlan {
    std::vector<Fault> faults;
    // Seeds the machine's draws for faults by chance: the same seed and the
    // same frames give the same faults.
    std::uint64_t seed = 1;

    // Bytes a single write may hand over (0: no limit).
    std::size_t writeChunk() const;
    bool empty() const { return faults.empty(); }
};

struct FaultPlanParse {
    std::optional<FaultPlan> plan;
    std::string error;  // what is wrong and where, when plan is empty
};

// FAULT[,FAULT...]; see faultGrammarText(). An empty text is an empty plan.
FaultPlanParse parseFaultPlan(const std::string& option);

// The command named by a fault: a name (poll, restore, preload, load,
// jobsetup, personalize, eject, runcontrol, moduleinfo, any case) or its
// letter (p ! l L J P E T w, exact case); 0 if none ("any" is read apart).
std::uint8_t commandFromName(const std::string& name);
// The name used in messages and traces ("Poll", "Restore", ...); "" if unknown.
const char* commandName(std::uint8_t letter);

// The read time-out of the host's link: a late reply comes after it by default,
// a trickled reply's bytes just inside it.
constexpr std::uint64_t kHostReadTimeoutMs = 1500;
constexpr std::uint64_t kDefaultLateMs = kHostReadTimeoutMs + 100;
constexpr std::uint64_t kDefaultTrickleMs = kHostReadTimeoutMs - 100;

// The grammar, for --help.
const char* faultGrammarText();

}  // namespace kestrova::simulator
