#include "simulator/machine_simulator.h"

#include "link/machine_command.h"
#include "simulator/machine_clock.h"
#include "simulator/machine_codes.h"
#include "simulator/module_info_text.h"

#include <utility>

namespace kestrova::simulator {

namespace {

constexpr std::size_t kMaxLoggedRequests = 1u << 20;
constexpr std::uint8_t kStrayByte = 0xFF;  // line noise ahead of a reply

bool isFail(const Fault* fault) { return fault != nullptr && fault->kind == FaultKind::Fail; }

std::uint8_t completionFor(const Fault* fault) { return isFail(fault) ? fault->code : completion::Success; }

}  // namespace

MachineSimulator::MachineSimulator(MachineDurations durations, FaultPlan faults)
    : durations_(durations), requests_(kMaxLoggedRequests) {
    setFaults(std::move(faults));
}

void MachineSimulator::setDurations(const MachineDurations& durations) {
    std::lock_guard<std::mutex> guard(lock_);
    durations_ = durations;
}

void MachineSimulator::setFaults(FaultPlan faults) {
    std::lock_guard<std::mutex> guard(lock_);
    plan_ = std::move(faults);
    faultLastCard_.assign(plan_.faults.size(), 0);
    faultSpent_.assign(plan_.faults.size(), false);
    chance_.seed(plan_.seed);
}

FaultPlan MachineSimulator::faults() const {
    std::lock_guard<std::mutex> guard(lock_);
    return plan_;
}

void MachineSimulator::setFaultObserver(std::function<void(const FiredFault&)> observer) {
    std::lock_guard<std::mutex> guard(lock_);
    faultObserver_ = std::move(observer);
}

void MachineSimulator::setRecording(bool record) {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.setRecording(record);
}

MachineReply MachineSimulator::answer(const std::uint8_t* frame, std::size_t size) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::uint64_t now = machine_clock::nowMs();
    ++counts_.framesReceived;

    RequestFrame request;
    MachineReply out;
    if (readRequestFrame(frame, size, request).outcome != RequestParse::Ok) {
        // Answer what can be read of a damaged frame, so the host hears of it.
        ++counts_.badFrames;
        RequestFrame damaged;
        for (std::size_t i = 0; i < 4 && 1 + i < size; ++i) damaged.address[i] = frame[1 + i];
        if (size > 5) damaged.sequence = frame[5];
        if (size > 6) damaged.command = frame[6];
        out.bytes = damaged.nak(reject::BadFrame);
        return out;
    }

    const std::size_t card = workingCard();
    requests_.record(ReceivedRequest{request.command, request.sequence, request.payload, card, now});

    if (strikingFault(request.command, card, now, {FaultKind::PowerCut}) != nullptr) {
        powerCut();
        out.powerCut = true;
    }
    const Fault* fault =
        strikingFault(request.command, card, now,
                      {FaultKind::Nak, FaultKind::Fail, FaultKind::Silent, FaultKind::BadCheck, FaultKind::Stray,
                       FaultKind::Split, FaultKind::LostAck, FaultKind::Late, FaultKind::Twice, FaultKind::Trickle});
    if (fault != nullptr && fault->kind == FaultKind::Silent) return out;
    const std::size_t logged = log_.size();
    if (fault != nullptr && fault->kind == FaultKind::Nak) {
        out.bytes = request.nak(fault->code);
    } else {
        out.bytes = perform(request, fault, now);
    }
    const std::uint8_t code = out.bytes.size() > 6 ? out.bytes[6] : 0;
    const bool acknowledgement = code == reply::ACK;
    const bool completion = code != 0 && code != reply::EOT && code != reply::ENQ && !acknowledgement &&
                            code != reply::NAK;
    bool lost = false;
    if (fault != nullptr && fault->kind == FaultKind::LostAck && acknowledgement) lost = true;
    // The completion report of the command it names, whatever request it answers.
    if (completion && strikingFault(code, card, now, {FaultKind::LostDone}) != nullptr) lost = true;
    // A personalisation whose report is lost or damaged: the host never learns of it.
    const bool damages = lost || (fault != nullptr && (fault->kind == FaultKind::BadCheck ||
                                                       fault->kind == FaultKind::Stray ||
                                                       fault->kind == FaultKind::Trickle));
    if (damages && log_.size() > logged) log_.back().completionLost = true;
    // The same for the card itself: only a report that never reached the
    // line whole leaves the host unable to know the card is made.
    if (log_.size() > logged && completion && code == command::Personalize) {
        CardJourney* journey = journeyOf(log_.back().card);
        const bool garbled = fault != nullptr && fault->kind == FaultKind::BadCheck;
        if (journey != nullptr && (lost || garbled)) {
            journey->completionLostBy = lost ? "lostdone" : "badcheck";
        } else if (journey != nullptr) {
            out.reportsCard = journey->card;
        }
    }
    if (lost) {
        out.bytes.clear();
        return out;
    }
    if (fault != nullptr) {
        switch (fault->kind) {
            case FaultKind::BadCheck: out.bytes.back() ^= 0xFF; break;
            case FaultKind::Stray: out.bytes.insert(out.bytes.begin(), kStrayByte); break;
            case FaultKind::Split:
                out.splitAt = out.bytes.size() / 2;
                out.gapMs = fault->gapMs;
                break;
            case FaultKind::Late: out.delayMs = fault->gapMs; break;
            case FaultKind::Trickle: out.byteGapMs = fault->gapMs; break;
            case FaultKind::Twice: {
                const Bytes once = out.bytes;
                out.bytes.insert(out.bytes.end(), once.begin(), once.end());
                break;
            }
            default: break;
        }
    }
    return out;
}

Bytes MachineSimulator::perform(const RequestFrame& request, const Fault* fault, std::uint64_t now) {
    if (command::startsOperation(request.command)) return startOperation(request, fault, now);
    switch (request.command) {
        case command::Poll: return poll(request, now);
        case command::JobSetup: return jobSetup(request, fault);
        case command::RunControl: return runControl(request, fault, now);
        case command::ModuleInfo: return request.data(command::ModuleInfo, completionFor(fault), moduleInfoLocked());
        default: return request.nak(reject::UnknownCommand);
    }
}

Bytes MachineSimulator::poll(const RequestFrame& request, std::uint64_t now) {
    const auto finished = [now](const Operation& operation) {
        return !operation.held && now - operation.startedAt >= operation.durationMs;
    };
    return machine_.poll(request, finished, [this](const Operation& done) { complete(done); });
}

Bytes MachineSimulator::startOperation(const RequestFrame& request, const Fault* fault, std::uint64_t now) {
    const std::uint8_t letter = request.command;
    if (letter == command::Restore) {
        // A restore is always taken: it aborts what runs, clears a jam and
        // empties the card path.
        machine_.abort();
        if (card_) {
            if (card_->stage == CardInMachine::Stage::Personalised) {
                deliverCard(letter);
            } else {
                rejectCard(letter);
            }
        }
        jammed_ = false;
        machine_.start(Operation{letter, now, durations_.restoreMs, false, completionFor(fault), false});
        return request.ack(letter);
    }

    if (const std::uint8_t why = refusal(letter, request.payload); why != 0) return request.nak(why);
    Operation operation{letter, now, durations_.forCommand(letter), false, completionFor(fault), false};
    switch (letter) {
        case command::PreLoad:
            ++counts_.cardsTakenIn;
            card_ = CardInMachine{counts_.cardsTakenIn, CardInMachine::Stage::Feeding, std::nullopt, {}, {}, 0, {}};
            journeys_.push_back(CardJourney{});
            journeys_.back().card = counts_.cardsTakenIn;
            journeys_.back().takenInFrame = counts_.framesReceived;
            if (hopper_ > 0) --hopper_;
            break;
        case command::Load: operation.jams = armJam(false, letter, now); break;
        case command::Personalize:
            card_->personalisationText = request.payload;
            card_->personalizeFrame = counts_.framesReceived;
            break;
        case command::Eject: operation.jams = armJam(true, letter, now); break;
        default: break;
    }
    if (operation.jams) operation.completionCode = completion::Jam;
    if (paused_) {
        if (stepsLeft_ > 0) {
            --stepsLeft_;
        } else {
            operation.held = true;
        }
    }
    machine_.start(operation);
    return request.ack(letter);
}

std::uint8_t MachineSimulator::refusal(std::uint8_t letter, const Bytes& payload) const {
    if (jammed_) return reject::Jammed;
    if (!restored_) return reject::NotRestored;
    if (machine_.running() != nullptr) return reject::Busy;
    const bool loaded = card_ && card_->stage == CardInMachine::Stage::Loaded;
    switch (letter) {
        case command::PreLoad: return card_ ? reject::WrongStep : 0;
        case command::Load: return card_ && card_->stage == CardInMachine::Stage::Staged ? 0 : reject::WrongStep;
        case command::JobSetup: return loaded ? 0 : reject::WrongStep;
        case command::Personalize:
            if (!loaded || !card_->setup) return reject::WrongStep;
            return !payload.empty() && payload[0] == 'A' ? 0 : reject::BadPayload;
        case command::Eject: return card_ ? 0 : reject::WrongStep;
        default: return 0;
    }
}

Bytes MachineSimulator::jobSetup(const RequestFrame& request, const Fault* fault) {
    if (const std::uint8_t why = refusal(command::JobSetup, request.payload); why != 0) return request.nak(why);
    const std::optional<CardSetup> setup = decodeSetupText(request.payload);
    if (!setup) return request.nak(reject::BadPayload);
    const std::uint8_t code = completionFor(fault);
    if (code == completion::Success) {
        card_->setup = setup;
        card_->setupText = request.payload;
    }
    return request.data(command::JobSetup, code);
}

Bytes MachineSimulator::runControl(const RequestFrame& request, const Fault* fault, std::uint64_t now) {
    if (request.payload.size() != 1) return request.nak(reject::BadPayload);
    const std::uint8_t mode = request.payload[0];
    if (mode != run_control::Pause && mode != run_control::Continue && mode != run_control::Step) {
        return request.nak(reject::BadPayload);
    }
    const std::uint8_t code = completionFor(fault);
    if (code != completion::Success) return request.data(command::RunControl, code);

    auto releaseHeld = [&] {
        Operation* held = machine_.running();
        if (held == nullptr || !held->held) return false;
        held->held = false;
        held->startedAt = now;
        return true;
    };
    switch (mode) {
        case run_control::Pause:  // what runs finishes, nothing new starts
            paused_ = true;
            stepsLeft_ = 0;
            break;
        case run_control::Continue:
            paused_ = false;
            stepsLeft_ = 0;
            releaseHeld();
            break;
        default:  // step: one operation, then paused again
            paused_ = true;
            stepsLeft_ = releaseHeld() ? 0 : 1;
            break;
    }
    return request.data(command::RunControl, code);
}

void MachineSimulator::complete(const Operation& operation) {
    const bool success = operation.completionCode == completion::Success;
    switch (operation.letter) {
        case command::Restore:
            if (success) restored_ = true;
            break;
        case command::PreLoad:
            // A failed feed leaves the card half-way; a restore clears it.
            if (success && card_) card_->stage = CardInMachine::Stage::Staged;
            break;
        case command::Load:
            if (operation.jams) {
                jammed_ = true;
            } else if (success && card_) {
                card_->stage = CardInMachine::Stage::Loaded;
            }
            break;
        case command::Personalize: {
            if (!card_) break;
            card_->stage = CardInMachine::Stage::Personalised;
            PersonalisedCard entry;
            entry.card = card_->card;
            entry.position = log_.size() + 1;
            entry.setupText = card_->setupText;
            entry.personalisationText = card_->personalisationText;
            entry.setup = card_->setup;
            DecodedPersonalisation decoded = decodePersonalisationText(card_->personalisationText);
            entry.items = std::move(decoded.items);
            entry.decodedExactly = decoded.exact;
            entry.completionCode = operation.completionCode;
            entry.personalizeFrame = card_->personalizeFrame;
            entry.faults = card_->faults;
            if (CardJourney* journey = journeyOf(card_->card)) {
                journey->personalised = true;
                journey->completionCode = operation.completionCode;
                journey->setupText = card_->setupText;
                journey->personalisationText = card_->personalisationText;
                journey->personalizeFrame = card_->personalizeFrame;
            }
            log_.push_back(std::move(entry));
            break;
        }
        case command::Eject:
            if (operation.jams) {
                jammed_ = true;
            } else if (success && card_) {
                deliverCard(command::Eject);
            }
            break;
        default: break;
    }
}

void MachineSimulator::deliverCard(std::uint8_t by) {
    if (!card_) return;
    const bool personalised = card_->stage == CardInMachine::Stage::Personalised && !log_.empty() &&
                              log_.back().card == card_->card && log_.back().completionCode == completion::Success;
    if (personalised) {
        log_.back().delivered = true;
        ++counts_.cardsDelivered;
        endJourney(CardEnd::Delivered, by);
        card_.reset();
    } else {
        rejectCard(by);
    }
}

void MachineSimulator::rejectCard(std::uint8_t by) {
    ++counts_.cardsRejected;
    endJourney(CardEnd::Rejected, by);
    card_.reset();
}

void MachineSimulator::endJourney(CardEnd end, std::uint8_t by) {
    if (!card_) return;
    if (CardJourney* journey = journeyOf(card_->card)) {
        journey->end = end;
        journey->endedBy = by;
        journey->endedAtFrame = counts_.framesReceived;
    }
}

CardJourney* MachineSimulator::journeyOf(std::size_t card) {
    return card == 0 || card > journeys_.size() ? nullptr : &journeys_[card - 1];
}

std::vector<CardJourney> MachineSimulator::cardJourneys() const {
    std::lock_guard<std::mutex> guard(lock_);
    return journeys_;
}

void MachineSimulator::reportLost(std::size_t card, const std::string& cause) {
    std::lock_guard<std::mutex> guard(lock_);
    if (CardJourney* journey = journeyOf(card)) {
        if (journey->completionLostBy.empty()) journey->completionLostBy = cause;
    }
}

bool MachineSimulator::armJam(bool atEject, std::uint8_t command, std::uint64_t now) {
    for (std::size_t i = 0; i < plan_.faults.size(); ++i) {
        const Fault& fault = plan_.faults[i];
        if (fault.kind != FaultKind::Jam || faultSpent_[i] || fault.jamAtEject != atEject ||
            fault.count != counts_.cardsDelivered) {
            continue;
        }
        faultSpent_[i] = true;
        fire(i, command, workingCard(), now);
        return true;
    }
    return false;
}

const Fault* MachineSimulator::strikingFault(std::uint8_t command, std::size_t card, std::uint64_t now,
                                             std::initializer_list<FaultKind> kinds) {
    for (std::size_t i = 0; i < plan_.faults.size(); ++i) {
        const Fault& fault = plan_.faults[i];
        bool wanted = false;
        for (const FaultKind kind : kinds) wanted = wanted || fault.kind == kind;
        if (!wanted) continue;
        if (fault.command != 0 && fault.command != command) continue;
        if (!fault.when.matches(card, counts_.framesReceived)) continue;
        if (fault.when.mode == FaultWhen::Mode::Once || fault.when.mode == FaultWhen::Mode::Frame
                ? faultSpent_[i]
                : faultLastCard_[i] == card) {
            continue;
        }
        // Only an acknowledged command can lose its acknowledgement.
        if (fault.kind == FaultKind::LostAck && !command::startsOperation(command)) continue;
        if (fault.when.mode == FaultWhen::Mode::Chance && chance_() % fault.when.n != 0) continue;
        faultSpent_[i] = true;
        faultLastCard_[i] = card;
        fire(i, command, card, now);
        return &fault;
    }
    return nullptr;
}

void MachineSimulator::fire(std::size_t index, std::uint8_t command, std::size_t card, std::uint64_t now) {
    const Fault& fault = plan_.faults[index];
    fired_.push_back(FiredFault{index, fault.text, command, card, now, counts_.framesReceived});
    if (faultObserver_) faultObserver_(fired_.back());
    // The card log tells what struck a card while the machine held it.
    if (card_ && card_->card == card) card_->faults.push_back(fault.text);
    if (!log_.empty() && log_.back().card == card) log_.back().faults.push_back(fault.text);
}

void MachineSimulator::powerCut() {
    ++counts_.powerCuts;
    machine_.abort();
    restored_ = false;
    paused_ = false;
    stepsLeft_ = 0;
}

std::size_t MachineSimulator::workingCard() const { return card_ ? card_->card : counts_.cardsTakenIn + 1; }

Bytes MachineSimulator::moduleInfoLocked() const {
    std::string status = "Ready";
    if (!restored_) status = "Not restored";
    if (machine_.running() != nullptr) status = "Busy";
    if (paused_) status = "Paused";
    if (jammed_) status = "Jammed";
    return moduleInfoText({
        {"MDL", "Kestrova CP-500 card personaliser"},
        {"SER", "KP5-004217"},
        {"FWV", "3.14.2"},
        {"HWR", "C2"},
        {"CNT", std::to_string(counts_.cardsDelivered)},
        {"REJ", std::to_string(counts_.cardsRejected)},
        {"HOP", std::to_string(hopper_)},
        {"STA", status},
    });
}

std::vector<PersonalisedCard> MachineSimulator::personalisedCards() const {
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
}

std::optional<CardInMachine> MachineSimulator::currentCard() const {
    std::lock_guard<std::mutex> guard(lock_);
    return card_;
}

MachineStatus MachineSimulator::status() const {
    std::lock_guard<std::mutex> guard(lock_);
    MachineStatus out = counts_;
    out.restored = restored_;
    out.paused = paused_;
    out.jammed = jammed_;
    const Operation* running = machine_.running();
    out.operation = running != nullptr ? running->letter : 0;
    out.operationHeld = running != nullptr && running->held;
    return out;
}

std::vector<FiredFault> MachineSimulator::firedFaults() const {
    std::lock_guard<std::mutex> guard(lock_);
    return fired_;
}

std::vector<ReceivedRequest> MachineSimulator::received() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_.entries();
}

std::string MachineSimulator::commandLetters() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_.letters();
}

std::size_t MachineSimulator::countOf(std::uint8_t command) const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_.countOf(command);
}

Bytes MachineSimulator::moduleInfo() const {
    std::lock_guard<std::mutex> guard(lock_);
    return moduleInfoLocked();
}

}  // namespace kestrova::simulator
