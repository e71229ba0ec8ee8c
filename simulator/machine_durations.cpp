#include "simulator/machine_durations.h"

#include "link/machine_command.h"
#include "simulator/option_text.h"

#include <vector>

namespace kestrova::simulator {

MachineDurations MachineDurations::typical() { return MachineDurations{}; }

MachineDurations MachineDurations::instant() { return uniform(0); }

MachineDurations MachineDurations::uniform(std::uint64_t ms) { return MachineDurations{ms, ms, ms, ms, ms}; }

MachineDurations MachineDurations::brief() { return MachineDurations{300, 150, 200, 400, 150}; }

std::uint64_t MachineDurations::forCommand(std::uint8_t letter) const {
    switch (letter) {
        case command::Restore: return restoreMs;
        case command::PreLoad: return preLoadMs;
        case command::Load: return loadMs;
        case command::Personalize: return personalizeMs;
        case command::Eject: return ejectMs;
        default: return 0;
    }
}

DurationsParse parseDurations(const std::string& option) {
    const std::string text = option_text::lower(option_text::trim(option));
    if (text == "typical") return {MachineDurations::typical(), {}};
    if (text == "instant") return {MachineDurations::instant(), {}};
    if (text.empty()) return {std::nullopt, "empty durations; expected 'typical', 'instant' or NAME=MS,..."};

    MachineDurations durations = MachineDurations::typical();
    for (const std::string& part : option_text::split(text, ',')) {
        const auto eq = part.find('=');
        if (eq == std::string::npos) {
            return {std::nullopt, "'" + part + "' has no '=': expected NAME=MS"};
        }
        const std::string name = option_text::trim(part.substr(0, eq));
        const auto ms = option_text::parseUnsigned(option_text::trim(part.substr(eq + 1)), 3600000);
        if (!ms) {
            return {std::nullopt, "'" + part + "': the duration must be a whole number of milliseconds, 0 to 3600000"};
        }
        if (name == "all") {
            durations = MachineDurations::uniform(*ms);
        } else if (name == "restore") {
            durations.restoreMs = *ms;
        } else if (name == "preload") {
            durations.preLoadMs = *ms;
        } else if (name == "load") {
            durations.loadMs = *ms;
        } else if (name == "personalize" || name == "personalise") {
            durations.personalizeMs = *ms;
        } else if (name == "eject") {
            durations.ejectMs = *ms;
        } else {
            return {std::nullopt, "unknown operation '" + name +
                                      "' (all, restore, preload, load, personalize, eject)"};
        }
    }
    return {durations, {}};
}

const char* durationsGrammarText() {
    return "DURATIONS is 'typical' (restore 2500, preload 800, load 1200, personalize 3000,\n"
           "eject 700 ms), 'instant' (all 0), or NAME=MS[,NAME=MS...] with NAME one of\n"
           "all, restore, preload, load, personalize, eject; later entries override\n"
           "earlier ones, e.g. all=40,personalize=120.\n";
}

}  // namespace kestrova::simulator
