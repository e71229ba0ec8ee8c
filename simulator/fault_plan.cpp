#include "simulator/fault_plan.h"

#include "link/machine_command.h"
#include "simulator/option_text.h"

namespace kestrova::simulator {

namespace {

constexpr std::uint64_t kMaxGapMs = 600000;
constexpr std::size_t kMaxCount = 1000000;

struct NamedCommand {
    const char* name;
    const char* display;
    std::uint8_t letter;
};

constexpr NamedCommand kCommands[] = {
    {"poll", "Poll", command::Poll},
    {"restore", "Restore", command::Restore},
    {"preload", "PreLoad", command::PreLoad},
    {"load", "Load", command::Load},
    {"jobsetup", "JobSetup", command::JobSetup},
    {"personalize", "Personalize", command::Personalize},
    {"eject", "Eject", command::Eject},
    {"runcontrol", "RunControl", command::RunControl},
    {"moduleinfo", "ModuleInfo", command::ModuleInfo},
};

bool completesWithData(std::uint8_t letter) { return letter != command::Poll; }

bool acknowledged(std::uint8_t letter) {
    return letter == command::Restore || letter == command::PreLoad || letter == command::Load ||
           letter == command::Personalize || letter == command::Eject;
}

struct Parser {
    std::string error;

    bool fail(const std::string& fault, const std::string& why) {
        error = "fault '" + fault + "': " + why;
        return false;
    }

    bool readWhen(const std::string& fault, const std::string& text, FaultWhen& when) {
        if (text == "*") {
            when = FaultWhen{FaultWhen::Mode::Every, 1};
            return true;
        }
        const bool every = !text.empty() && text[0] == '*';
        const bool chance = !text.empty() && text[0] == '?';
        const bool frame = !text.empty() && text[0] == '#';
        const auto n = option_text::parseUnsigned(every || chance || frame ? text.substr(1) : text, kMaxCount);
        if (!n || *n == 0) {
            return fail(fault, "after '@' comes a card number N (from 1), *N for every N-th card, * for every card, "
                               "?N for a chance of 1 in N, or #N for the N-th frame received");
        }
        const FaultWhen::Mode mode = every    ? FaultWhen::Mode::Every
                                     : chance ? FaultWhen::Mode::Chance
                                     : frame  ? FaultWhen::Mode::Frame
                                              : FaultWhen::Mode::Card;
        when = FaultWhen{mode, static_cast<std::size_t>(*n)};
        return true;
    }

    bool readCommand(const std::string& fault, const std::string& name, Fault& out) {
        if (option_text::lower(name) == "any") {
            out.command = 0;
            return true;
        }
        out.command = commandFromName(name);
        if (out.command == 0) {
            return fail(fault, "unknown command '" + name +
                                   "' (poll, restore, preload, load, jobsetup, personalize, eject, runcontrol, "
                                   "moduleinfo, the letters p ! l L J P E T w, or any)");
        }
        return true;
    }

    bool readFault(const std::string& written, Fault& out) {
        out = Fault();
        out.text = written;
        std::string body = written;
        const auto at = body.find('@');
        if (at != std::string::npos) {
            if (!readWhen(written, body.substr(at + 1), out.when)) return false;
            body = body.substr(0, at);
        }
        const std::vector<std::string> parts = option_text::split(body, ':');
        const std::string kind = option_text::lower(parts[0]);
        const std::size_t args = parts.size() - 1;

        if (kind == "nak") {
            if (args != 2) return fail(written, "expected nak:COMMAND:REJECTCODE");
            if (!readCommand(written, parts[1], out)) return false;
            const auto code = option_text::parseUnsigned(parts[2], 255);
            if (!code) return fail(written, "the reject code must be a number from 0 to 255");
            out.kind = FaultKind::Nak;
            out.code = static_cast<std::uint8_t>(*code);
            return true;
        }
        if (kind == "fail") {
            if (args != 2) return fail(written, "expected fail:COMMAND:CHARACTER");
            if (!readCommand(written, parts[1], out)) return false;
            if (out.command == 0) return fail(written, "name the command whose completion fails");
            if (!completesWithData(out.command)) {
                return fail(written, "a poll has no completion of its own; name the command whose completion fails");
            }
            if (parts[2].size() != 1 || parts[2][0] == '0') {
                return fail(written, "the completion code is one character other than 0, e.g. fail:load:3");
            }
            out.kind = FaultKind::Fail;
            out.code = static_cast<std::uint8_t>(parts[2][0]);
            return true;
        }
        if (kind == "silent" || kind == "badcheck" || kind == "stray" || kind == "twice") {
            if (args != 1) return fail(written, "expected " + kind + ":COMMAND");
            if (!readCommand(written, parts[1], out)) return false;
            out.kind = kind == "silent"     ? FaultKind::Silent
                       : kind == "badcheck" ? FaultKind::BadCheck
                       : kind == "stray"    ? FaultKind::Stray
                                            : FaultKind::Twice;
            return true;
        }
        if (kind == "lostack") {
            if (args != 1) return fail(written, "expected lostack:COMMAND");
            if (!readCommand(written, parts[1], out)) return false;
            if (out.command != 0 && !acknowledged(out.command)) {
                return fail(written, "only restore, preload, load, personalize and eject are acknowledged");
            }
            out.kind = FaultKind::LostAck;
            return true;
        }
        if (kind == "lostdone") {
            if (args != 1) return fail(written, "expected lostdone:COMMAND");
            if (!readCommand(written, parts[1], out)) return false;
            if (out.command == command::Poll) return fail(written, "a poll has no completion of its own");
            out.kind = FaultKind::LostDone;
            return true;
        }
        if (kind == "split" || kind == "late" || kind == "trickle") {
            if (args != 1 && args != 2) {
                return fail(written, "expected " + kind + ":COMMAND or " + kind + ":COMMAND:MS");
            }
            if (!readCommand(written, parts[1], out)) return false;
            out.kind = kind == "split" ? FaultKind::Split : kind == "late" ? FaultKind::Late : FaultKind::Trickle;
            out.gapMs = kind == "split" ? 50 : kind == "late" ? kDefaultLateMs : kDefaultTrickleMs;
            if (args == 2) {
                const auto gap = option_text::parseUnsigned(parts[2], kMaxGapMs);
                if (!gap) return fail(written, "the time is a number of milliseconds from 0 to 600000");
                out.gapMs = *gap;
            }
            return true;
        }
        if (kind == "powercut") {
            if (args > 1) return fail(written, "expected powercut or powercut:COMMAND");
            if (args == 1 && !readCommand(written, parts[1], out)) return false;
            out.kind = FaultKind::PowerCut;
            return true;
        }
        if (kind == "jam") {
            if (args != 1 && args != 2) return fail(written, "expected jam:N or jam:N:load or jam:N:eject");
            if (at != std::string::npos) return fail(written, "a jam is placed by its card count, not by '@'");
            const auto n = option_text::parseUnsigned(parts[1], kMaxCount);
            if (!n) return fail(written, "N is the number of cards delivered before the jam (0 or more)");
            if (args == 2) {
                const std::string where = option_text::lower(parts[2]);
                if (where != "load" && where != "eject") return fail(written, "a card jams at 'load' or 'eject'");
                out.jamAtEject = where == "eject";
            }
            out.kind = FaultKind::Jam;
            out.count = static_cast<std::size_t>(*n);
            return true;
        }
        if (kind == "wchunk") {
            if (args != 1) return fail(written, "expected wchunk:BYTES");
            if (at != std::string::npos) return fail(written, "wchunk holds for every write; it takes no '@'");
            const auto n = option_text::parseUnsigned(parts[1], kMaxCount);
            if (!n || *n == 0) return fail(written, "BYTES is the most a write may hand over, 1 or more");
            out.kind = FaultKind::WriteChunk;
            out.count = static_cast<std::size_t>(*n);
            return true;
        }
        return fail(written, "unknown fault '" + parts[0] +
                                  "' (nak, fail, silent, badcheck, stray, split, lostack, lostdone, late, twice, "
                                  "trickle, powercut, jam, wchunk)");
    }
};

}  // namespace

bool FaultWhen::matches(std::size_t card, std::size_t frame) const {
    switch (mode) {
        case Mode::Once:
        case Mode::Chance: return true;
        case Mode::Card: return card == n;
        case Mode::Every: return n != 0 && card % n == 0;
        case Mode::Frame: return frame == n;
    }
    return false;
}

std::size_t FaultPlan::writeChunk() const {
    std::size_t chunk = 0;
    for (const Fault& fault : faults) {
        if (fault.kind == FaultKind::WriteChunk && (chunk == 0 || fault.count < chunk)) chunk = fault.count;
    }
    return chunk;
}

FaultPlanParse parseFaultPlan(const std::string& option) {
    FaultPlan plan;
    const std::string text = option_text::trim(option);
    if (text.empty()) return {plan, {}};
    Parser parser;
    for (const std::string& piece : option_text::split(text, ',')) {
        const std::string written = option_text::trim(piece);
        if (written.empty()) return {std::nullopt, "empty fault in '" + text + "' (a doubled or trailing comma?)"};
        Fault fault;
        if (!parser.readFault(written, fault)) return {std::nullopt, parser.error};
        plan.faults.push_back(std::move(fault));
    }
    return {plan, {}};
}

std::uint8_t commandFromName(const std::string& name) {
    if (name.size() == 1) {
        for (const NamedCommand& c : kCommands) {
            if (static_cast<std::uint8_t>(name[0]) == c.letter) return c.letter;
        }
        return 0;
    }
    const std::string key = option_text::lower(name);
    for (const NamedCommand& c : kCommands) {
        if (key == c.name) return c.letter;
    }
    if (key == "personalise") return command::Personalize;
    return 0;
}

const char* commandName(std::uint8_t letter) {
    for (const NamedCommand& c : kCommands) {
        if (c.letter == letter) return c.display;
    }
    return "";
}

const char* faultGrammarText() {
    return "FAULTS is FAULT[,FAULT...], each one of\n"
           "  nak:CMD:CODE[@WHEN]     refuse CMD with reject code CODE (0-255)\n"
           "  fail:CMD:CHAR[@WHEN]    complete CMD with the completion character CHAR\n"
           "                          (not 0)\n"
           "  silent:CMD[@WHEN]       send no reply to CMD\n"
           "  badcheck:CMD[@WHEN]     reply to CMD with a corrupted check byte\n"
           "  stray:CMD[@WHEN]        send a stray byte ahead of the reply to CMD\n"
           "  split:CMD[:MS][@WHEN]   send the reply to CMD in two pieces MS ms apart\n"
           "                          (default 50)\n"
           "  lostack:CMD[@WHEN]      carry CMD out but lose its ACK; the completion\n"
           "                          follows\n"
           "  lostdone:CMD[@WHEN]     lose the reply that reports CMD's completion\n"
           "  late:CMD[:MS][@WHEN]    the reply to CMD arrives MS ms late (default 1600,\n"
           "                          after the host's 1500 ms read time-out)\n"
           "  twice:CMD[@WHEN]        send the reply to CMD twice\n"
           "  trickle:CMD[:MS][@WHEN] send the reply to CMD one byte every MS ms\n"
           "                          (default 1400, just inside the read time-out)\n"
           "  powercut[:CMD][@WHEN]   the machine restarts before it answers (CMD, or any\n"
           "                          frame): not restored, not paused, the card still\n"
           "                          inside\n"
           "  jam:N[:load|:eject]     the card after N delivered cards jams in the feed\n"
           "                          (default) or at the exit; only a restore clears it\n"
           "  wchunk:BYTES            take at most BYTES bytes per write (in-process line\n"
           "                          only)\n"
           "CMD is poll, restore, preload, load, jobsetup, personalize, eject, runcontrol,\n"
           "moduleinfo, its letter p ! l L J P E T w, or any (any command).\n"
           "WHEN counts the cards the machine takes in (a card produced again after a\n"
           "restore counts again): N strikes card N only, *N every N-th card, * every\n"
           "card, ?N each matching command with a chance of 1 in N (the draws are\n"
           "seeded, so a run repeats), #N the N-th frame the machine receives; without\n"
           "@ the fault strikes once, at the first matching command. A fault strikes at\n"
           "most once per card.\n"
           "Example: nak:load:7@*5,fail:personalize:3@12,jam:30\n";
}

}  // namespace kestrova::simulator
