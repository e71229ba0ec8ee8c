// A card personalisation machine behind the link protocol. It answers each
// request frame the way the machine does: polls with ENQ when idle, EOT while
// an operation runs and the completing data reply once it has finished;
// Restore, PreLoad, Load, Personalize and Eject with ACK, completed after
// their durations on the platform clock; JobSetup, RunControl and
// ModuleInfo with a data reply at once. It pauses, continues and steps on
// RunControl, keeps the card it is working on and a log of every card it
// personalised, and commits the faults of its fault plan.
//
// An operation counts as finished only once its completion has been
// reported. A Restore aborts an operation whose completion has not been
// reported, and the card in the machine leaves it: to the exit if its
// personalisation was reported, to the reject bin otherwise. So the card the
// monitor drops on a restore acknowledged after "Personalization Complete"
// is the card the machine delivered, and a card the monitor produces again
// after an earlier restore is one the machine rejected.
#pragma once

#include "link/bytes.h"
#include "link/link_frame.h"
#include "link/request_frame.h"
#include "simulator/card_journey.h"
#include "simulator/card_log.h"
#include "simulator/fault_plan.h"
#include "simulator/machine_durations.h"
#include "standin/basic_machine.h"
#include "standin/command_log.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kestrova::simulator {

// What the machine sends back for one frame.
struct MachineReply {
    Bytes bytes;               // empty: no reply at all
    std::size_t splitAt = 0;   // > 0: bytes from here on follow `gapMs` later
    std::uint64_t gapMs = 0;
    std::uint64_t delayMs = 0;     // the whole reply sets out this much later
    std::uint64_t byteGapMs = 0;   // > 0: one byte at a time, this far apart
    bool powerCut = false;         // the machine restarted first: what was still on its way is lost
    // The machine's number of the card whose personalisation this reply
    // reports (0: none); a line that loses it tells the machine.
    std::size_t reportsCard = 0;
};

struct CardInMachine {
    enum class Stage { Feeding, Staged, Loaded, Personalised };
    std::size_t card = 0;
    Stage stage = Stage::Feeding;
    std::optional<CardSetup> setup;
    Bytes setupText;
    Bytes personalisationText;
    std::size_t personalizeFrame = 0;  // the frame whose Personalize was taken
    std::vector<std::string> faults;   // the faults that struck while the card was in the machine
};

struct MachineStatus {
    bool restored = false;   // restored since power-on
    bool paused = false;
    bool jammed = false;
    std::uint8_t operation = 0;  // letter of the operation in progress, 0 for none
    bool operationHeld = false;  // acknowledged while paused, not yet started
    std::size_t cardsTakenIn = 0;
    std::size_t cardsDelivered = 0;  // left at the exit, personalised
    std::size_t cardsRejected = 0;   // to the reject bin
    std::size_t framesReceived = 0;
    std::size_t badFrames = 0;
    std::size_t powerCuts = 0;
};

struct FiredFault {
    std::size_t index = 0;  // position in the plan
    std::string text;
    std::uint8_t command = 0;
    std::size_t card = 0;
    std::uint64_t atMs = 0;
    std::size_t frame = 0;  // by the machine's count of frames received
};

struct ReceivedRequest {
    std::uint8_t command = 0;
    std::uint8_t sequence = 0;
    Bytes payload;
    std::size_t card = 0;  // the card the machine was working on (or would take in next)
    std::uint64_t atMs = 0;
};

class MachineSimulator {
public:
    explicit MachineSimulator(MachineDurations durations = MachineDurations::typical(), FaultPlan faults = {});

    // Answers one whole frame (STX to check byte) at the platform clock's now.
    MachineReply answer(const std::uint8_t* frame, std::size_t size);
    MachineReply answer(const Bytes& frame) { return answer(frame.data(), frame.size()); }

    void setDurations(const MachineDurations& durations);
    void setFaults(FaultPlan faults);
    FaultPlan faults() const;
    // The request log can be turned off for long runs; counts are always kept.
    void setRecording(bool record);
    // Told of each fault as it strikes (for a trace), with the machine's lock held.
    void setFaultObserver(std::function<void(const FiredFault&)> observer);

    std::vector<PersonalisedCard> personalisedCards() const;
    // Every card taken in, in order, to its end so far.
    std::vector<CardJourney> cardJourneys() const;
    // The line lost (`cause`) the reply reporting that card's personalisation.
    void reportLost(std::size_t card, const std::string& cause);
    std::optional<CardInMachine> currentCard() const;
    MachineStatus status() const;
    std::vector<FiredFault> firedFaults() const;
    std::vector<ReceivedRequest> received() const;
    // The letters of the commands received, in order ("p!pplp...").
    std::string commandLetters() const;
    std::size_t countOf(std::uint8_t command) const;
    // The module information text the next ModuleInfo would carry.
    Bytes moduleInfo() const;

private:
    struct Operation {
        std::uint8_t letter = 0;
        std::uint64_t startedAt = 0;
        std::uint64_t durationMs = 0;
        bool held = false;
        std::uint8_t completionCode = '0';
        bool jams = false;
    };

    Bytes perform(const RequestFrame& request, const Fault* fault, std::uint64_t now);
    Bytes poll(const RequestFrame& request, std::uint64_t now);
    Bytes restore(const RequestFrame& request, std::uint64_t now);
    Bytes startOperation(const RequestFrame& request, const Fault* fault, std::uint64_t now);
    Bytes jobSetup(const RequestFrame& request, const Fault* fault);
    Bytes runControl(const RequestFrame& request, const Fault* fault, std::uint64_t now);
    // Why the machine cannot start this operation now; 0 if it can.
    std::uint8_t refusal(std::uint8_t letter, const Bytes& payload) const;
    void complete(const Operation& operation);
    void deliverCard(std::uint8_t by);
    void rejectCard(std::uint8_t by);
    void endJourney(CardEnd end, std::uint8_t by);
    bool armJam(bool atEject, std::uint8_t command, std::uint64_t now);
    // The first fault of one of `kinds` that strikes this command now.
    const Fault* strikingFault(std::uint8_t command, std::size_t card, std::uint64_t now,
                               std::initializer_list<FaultKind> kinds);
    void fire(std::size_t index, std::uint8_t command, std::size_t card, std::uint64_t now);
    // A restart: nothing runs, not restored, not paused; a card stays inside.
    void powerCut();
    std::size_t workingCard() const;
    Bytes moduleInfoLocked() const;

    mutable std::mutex lock_;
    MachineDurations durations_;
    FaultPlan plan_;
    std::vector<std::size_t> faultLastCard_;  // per fault: the card it last struck, 0 for none
    std::vector<bool> faultSpent_;            // per fault: a one-off that has struck
    std::mt19937_64 chance_;                  // the draws of faults by chance
    std::vector<FiredFault> fired_;
    std::function<void(const FiredFault&)> faultObserver_;

    standin::BasicMachine<Operation> machine_;
    std::optional<CardInMachine> card_;
    bool restored_ = false;
    bool paused_ = false;
    std::size_t stepsLeft_ = 0;
    bool jammed_ = false;
    std::size_t hopper_ = 500;

    MachineStatus counts_;
    std::vector<PersonalisedCard> log_;
    std::vector<CardJourney> journeys_;  // journeys_[n - 1] is card n
    CardJourney* journeyOf(std::size_t card);
    standin::CommandLog<ReceivedRequest> requests_;
};

}  // namespace kestrova::simulator
