#include "tool/machine_report.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kestrova::tool {

namespace {

constexpr std::int32_t kWriteFailed = -1;
constexpr std::int32_t kNoReply = -2;
constexpr std::int32_t kUnexpectedReply = -3;
constexpr std::int32_t kReadyWhileBusy = -4;
constexpr std::int32_t kNoItems = -5;
constexpr std::int32_t kRejectBase = 0x1500;

bool isReject(std::int32_t code) { return code >= kRejectBase && code <= kRejectBase + 0xFF; }

// The command a refusal answered: the one the machine's state calls for next.
std::string refusedCommand(const std::string& state) {
    if (state == "Unknown" || state == "Restoring") return "Restore";
    if (state == "Ready" || state == "Restore Complete") return "PreLoad";
    if (state == "Loading Card") return "Load";
    if (state == "Load Completed") return "JobSetup or Personalize";
    if (state == "Personalizing Card") return "Personalize";
    if (state == "Personalization Complete") return "Eject";
    return "a command";
}

// The command a failed completion reported: the one the machine was carrying out.
std::string runningCommand(const std::string& state) {
    if (state == "Restoring") return "Restore";
    if (state == "Loading Card") return "PreLoad or Load";
    if (state == "Personalizing Card") return "Personalize";
    if (state == "Ejecting Card") return "Eject";
    return "a command";
}

std::string shownCharacter(std::int32_t code) {
    if (code >= 0x21 && code < 0x7F) return std::string("'") + static_cast<char>(code) + "'";
    return std::to_string(code);
}

Advice haltAdvice(std::int32_t code, const std::string& state) {
    switch (code) {
        case kWriteFailed:
            return {"writing a frame to the machine's port failed",
                    "check that the port is there and the machine's cable is in, then restore", "restore"};
        case kNoReply:
            return {"the machine did not answer within 1.5 s", "check its cable and power, then restore", "restore"};
        case kUnexpectedReply:
            return {"the machine's reply did not fit the command sent",
                    "check that nothing else talks on the machine's line, then restore", "restore"};
        case kReadyWhileBusy:
            return {"the machine said ready while an operation was in progress",
                    "look for a card left inside the machine, then restore", "restore"};
        case kNoItems:
            return {"a card of the job has no items to print",
                    "delete the job and mend its layout (kestrova check JOBFILE explains)", "delete_job"};
        default:
            break;
    }
    if (isReject(code)) {
        const std::string n = std::to_string(code - kRejectBase);
        return {"the machine refused " + refusedCommand(state) + " with reject code " + n,
                "clear what the machine's panel shows for reject code " + n + ", then restore", "restore"};
    }
    if (code > 0 && code < 256) {
        return {"the machine could not complete " + runningCommand(state) + " (completion code " +
                    shownCharacter(code) + ")",
                "clear the card path (a jam, an empty hopper), then restore", "restore"};
    }
    return {describeErrorCode(code), "restore", "restore"};
}

bool lineSilent(std::int32_t code) { return code == kWriteFailed || code == kNoReply; }

std::string quotedDoc(const std::optional<std::string>& name) { return "\"" + name.value_or("") + "\""; }

std::string plural(std::uint32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

const char* conditionName(Condition condition) {
    switch (condition) {
        case Condition::Producing: return "producing";
        case Condition::Idle: return "idle";
        case Condition::Halted: return "halted";
        case Condition::Unreachable: return "unreachable";
    }
    return "unreachable";
}

Condition conditionOf(const MachineReport& report) {
    const ResultValues& r = report.result;
    if (!report.answered || !r.hasResult) return Condition::Unreachable;
    if (r.hwErrorCode.value_or(0) != 0) return Condition::Halted;
    if (r.toProduce.value_or(0) > 0) return Condition::Producing;
    if (lineSilent(r.swErrorCode.value_or(0)) || r.startDocPort) return Condition::Unreachable;
    return Condition::Idle;
}

std::optional<Advice> adviceFor(const MachineReport& report) {
    const ResultValues& r = report.result;
    if (!report.answered) {
        return Advice{report.unanswered,
                      "check that it runs and can be reached" +
                          (report.reachWith.empty() ? std::string()
                                                    : " (kestrova control " + report.reachWith + " get_info)"),
                      ""};
    }
    if (!r.hasResult) {
        return Advice{"its answer is no KestrovaLM result document", "check that the printer uses KestrovaLM", ""};
    }
    if (const std::int32_t hw = r.hwErrorCode.value_or(0); hw != 0) return haltAdvice(hw, r.state.value_or(""));
    if (r.toProduce.value_or(0) > 0) return std::nullopt;
    if (r.startDocPort) {
        return Advice{"the port beneath could not be opened (StartDocPort failed, error " +
                          std::to_string(*r.startDocPort) + ")",
                      "check the printer's port in the spooler", ""};
    }
    if (const std::int32_t sw = r.swErrorCode.value_or(0); lineSilent(sw)) {
        return Advice{sw == kNoReply ? "the machine does not answer on its line (no reply within 1.5 s)"
                                     : "writing to the machine's port failed",
                      "check its cable and power; the next look asks again", ""};
    }
    return std::nullopt;
}

std::optional<JobProgress::Seen> JobProgress::update(const MachineReport& report) {
    const ResultValues& r = report.result;
    if (!report.answered || !r.jobId || r.toProduce.value_or(0) == 0) return std::nullopt;
    std::uint32_t& most = most_[{report.name, *r.jobId}];
    most = std::max(most, *r.toProduce);
    return Seen{most - *r.toProduce, most};
}

std::string progressBar(std::uint32_t done, std::uint32_t total, std::size_t width) {
    const std::size_t filled = total == 0 ? 0 : static_cast<std::size_t>(std::uint64_t{done} * width / total);
    return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

std::string statusText(const std::vector<MachineReport>& reports, JobProgress* progress) {
    std::array<std::size_t, 4> counts{};
    for (const MachineReport& report : reports) ++counts[static_cast<std::size_t>(conditionOf(report))];
    std::string out = "KestrovaLM machines: " + std::to_string(reports.size());
    std::string tally;
    for (const Condition c : {Condition::Producing, Condition::Idle, Condition::Halted, Condition::Unreachable}) {
        const std::size_t n = counts[static_cast<std::size_t>(c)];
        if (n != 0) tally += (tally.empty() ? "" : ", ") + std::to_string(n) + " " + conditionName(c);
    }
    out += tally.empty() ? "\n" : " (" + tally + ")\n";

    for (const MachineReport& report : reports) {
        const Condition condition = conditionOf(report);
        const ResultValues& r = report.result;
        std::string head = report.name;
        if (!report.port.empty()) head += " (" + report.port + ")";
        std::string word = conditionName(condition);
        if (condition == Condition::Halted) std::transform(word.begin(), word.end(), word.begin(), ::toupper);
        out.append("\n").append(head).append(": ").append(word).append("\n");
        if (report.answered && r.hasResult) {
            const std::uint32_t left = r.toProduce.value_or(0);
            if (r.jobId) {
                out += "  job " + std::to_string(*r.jobId) + " " + quotedDoc(r.docName) + ": " +
                       plural(left, "card", "cards") + " to produce";
                if (progress) {
                    if (const auto seen = progress->update(report)) {
                        out += "  " + progressBar(seen->done, seen->total, 20) + " " + std::to_string(seen->done) +
                               " of " + std::to_string(seen->total) + " done since first seen";
                    }
                }
                out += "\n";
            } else {
                out += "  no job\n";
            }
            // A code other than 0 is said in words too.
            const auto code = [](const char* name, std::int32_t value) {
                return std::string(name) + " " + std::to_string(value) +
                       (value == 0 ? std::string() : " (" + describeErrorCode(value) + ")");
            };
            out += "  machine: " + (r.state ? (r.state->empty() ? std::string("(no state name)") : *r.state)
                                            : std::string("(not reported)")) +
                   ", " + code("hw_error_code", r.hwErrorCode.value_or(0)) + ", " +
                   code("sw_error_code", r.swErrorCode.value_or(0)) + "\n";
            if (!r.moduleInfo.empty()) {
                std::string info;
                for (const auto& [key, text] : r.moduleInfo) info.append(info.empty() ? "" : ", ").append(key).append(" ").append(text);
                out += "  module: " + info + "\n";
            }
        }
        if (const auto advice = adviceFor(report)) {
            out += "  problem: " + advice->problem + "\n";
            out += "  next: " + advice->nextStep;
            if (!advice->clearingCommand.empty() && !report.reachWith.empty()) {
                out += " (kestrova control " + report.reachWith + " " + advice->clearingCommand + ")";
            }
            out += "\n";
        }
    }
    return out;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string statusJson(const std::vector<MachineReport>& reports, JobProgress* progress) {
    const auto number = [](const auto& value) { return value ? std::to_string(*value) : std::string("null"); };
    const auto text = [](const std::optional<std::string>& value) {
        return value ? jsonString(*value) : std::string("null");
    };
    std::string out = "[";
    for (std::size_t i = 0; i < reports.size(); ++i) {
        const MachineReport& report = reports[i];
        const ResultValues& r = report.result;
        out += i == 0 ? "\n" : ",\n";
        out += "  {\"name\": " + jsonString(report.name) + ", \"port\": " + jsonString(report.port) +
               ", \"reach_with\": " + jsonString(report.reachWith) + ",\n";
        out += "   \"condition\": " + jsonString(conditionName(conditionOf(report))) +
               ", \"answered\": " + (report.answered ? "true" : "false") + ",\n";
        out += "   \"job\": {\"id\": " + number(r.jobId) + ", \"doc_name\": " + text(r.docName) +
               ", \"to_produce\": " + number(r.toProduce);
        if (progress) {
            if (const auto seen = progress->update(report)) {
                out += ", \"done\": " + std::to_string(seen->done) + ", \"total\": " + std::to_string(seen->total);
            }
        }
        out += "},\n";
        out += "   \"machine\": {\"state\": " + text(r.state) + ", \"hw_error_code\": " + number(r.hwErrorCode) +
               ", \"sw_error_code\": " + number(r.swErrorCode) + ", \"start_doc_port\": " + number(r.startDocPort) +
               ", \"module_info\": {";
        bool first = true;
        for (const auto& [key, value] : r.moduleInfo) {
            out += (first ? "" : ", ") + jsonString(key) + ": " + jsonString(value);
            first = false;
        }
        out += "}},\n";
        const auto advice = adviceFor(report);
        out += "   \"problem\": " + (advice ? jsonString(advice->problem) : std::string("null")) +
               ", \"next_step\": " + (advice ? jsonString(advice->nextStep) : std::string("null")) +
               ", \"clearing_command\": " +
               (advice && !advice->clearingCommand.empty() ? jsonString(advice->clearingCommand)
                                                           : std::string("null")) +
               "}";
    }
    out += reports.empty() ? "]\n" : "\n]\n";
    return out;
}

}  // namespace kestrova::tool
