// What an operator sees of one machine: its get_info answer, what it is
// doing in one word, what is wrong in words and the step that clears it.
// Shared by kestrova status (text, JSON) and the console's page.
#pragma once

#include "tool/control_document.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::tool {

enum class Condition { Producing, Idle, Halted, Unreachable };

// "producing", "idle", "halted", "unreachable"
const char* conditionName(Condition condition);

struct MachineReport {
    std::string name;       // the printer's name, or the control address
    std::string port;       // the printer's port ("" where there is none)
    std::string reachWith;  // the kestrova control options that reach it: --to 127.0.0.1:9461
    bool answered = false;  // a result document came back
    std::string unanswered; // why not, when it did not
    ResultValues result;
};

Condition conditionOf(const MachineReport& report);

struct Advice {
    std::string problem;   // "the machine refused Load with reject code 7"
    std::string nextStep;  // "clear what the machine's panel shows for reject code 7, then restore"
    // The control command that clears it, when one does ("restore").
    std::string clearingCommand;
};

// Nothing wrong: nullopt.
std::optional<Advice> adviceFor(const MachineReport& report);

// The cards of a job since it was first seen: get_info tells only how many
// are left, so the total is the most ever left of that job.
class JobProgress {
public:
    struct Seen {
        std::uint32_t done = 0;
        std::uint32_t total = 0;
    };
    // Records this report's count; nullopt while no job runs.
    std::optional<Seen> update(const MachineReport& report);

private:
    std::map<std::pair<std::string, std::uint32_t>, std::uint32_t> most_;
};

// "[######..........]" of `width` places.
std::string progressBar(std::uint32_t done, std::uint32_t total, std::size_t width);

// kestrova status's text for every machine, and its JSON for scripts.
std::string statusText(const std::vector<MachineReport>& reports, JobProgress* progress);
std::string statusJson(const std::vector<MachineReport>& reports, JobProgress* progress);

// A string as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

}  // namespace kestrova::tool
