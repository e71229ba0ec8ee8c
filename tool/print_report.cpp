#include "tool/print_report.h"

#include "tool/shown_text.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace kestrova::tool {

namespace {

std::string joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}


std::string cardLine(const simulator::PersonalisedCard& card) {
    std::string line = "card " + std::to_string(card.position) + " personalised";
    if (card.setup) line += " (" + std::to_string(card.setup->sx) + " x " + std::to_string(card.setup->sy) + ")";
    std::vector<std::string> texts;
    for (const std::string& text : card.texts()) texts.push_back(shownText(text));
    line += ": " + (texts.empty() ? std::string("no items") : joined(texts, " | "));
    if (card.completionCode != '0') {
        line += std::string("  - spoiled, completion '") + static_cast<char>(card.completionCode) + "'";
    }
    return line;
}

}  // namespace

std::string formatDuration(std::uint64_t ms) {
    char text[32];
    if (ms < 1000) {
        std::snprintf(text, sizeof text, "%llu ms", static_cast<unsigned long long>(ms));
    } else if (ms < 60000) {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    } else {
        std::snprintf(text, sizeof text, "%llum %.1fs", static_cast<unsigned long long>(ms / 60000),
                      static_cast<double>(ms % 60000) / 1000.0);
    }
    return text;
}

PrintReport::PrintReport(const JobQueue& cards, const simulator::MachineSimulator* machine, const DeliveryWatch& link)
    : cards_(cards), machine_(machine), link_(link), total_(cards.size()) {}

void PrintReport::newCards(Console& console) {
    if (machine_ != nullptr) {
        const auto log = machine_->personalisedCards();
        for (; logShown_ < log.size(); ++logShown_) console.line(cardLine(log[logShown_]));
        return;
    }
    const std::size_t delivered = produced();
    for (; countShown_ < delivered && countShown_ < cards_.records.size(); ++countShown_) {
        const JobRecord& card = cards_.records[countShown_];
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < card.lines().size(); ++i) lines.push_back(shownText(std::string(card.lines()[i])));
        console.line("card " + std::to_string(countShown_ + 1) + " delivered: " + joined(lines, " | "));
    }
}

bool PrintReport::noteStatus(const ResultValues& status) {
    const std::size_t produced = this->produced();
    const std::int32_t hw = status.hwErrorCode.value_or(hwErrorCode_);
    const bool changed = produced != producedAtLastStatus_ || hw != hwErrorCode_;
    producedAtLastStatus_ = produced;
    state_ = status.state.value_or(state_);
    hwErrorCode_ = hw;
    return changed;
}

void PrintReport::noteHalt(std::int32_t hwErrorCode) { halts_.push_back(hwErrorCode); }

std::size_t PrintReport::produced() const {
    if (machine_ != nullptr) return machine_->status().cardsDelivered;
    return link_.counts().delivered;
}

std::size_t PrintReport::spoiled() const {
    if (machine_ == nullptr) return link_.counts().spoiled;
    std::size_t spoiled = 0;
    for (const auto& card : machine_->personalisedCards()) spoiled += card.completionCode != '0' ? 1 : 0;
    return spoiled;
}

std::string PrintReport::cardInMachine() const {
    if (machine_ != nullptr) {
        const auto status = machine_->status();
        const std::size_t out = status.cardsDelivered + status.cardsRejected;
        const std::string counts = " (" + std::to_string(status.cardsDelivered) + " delivered, " +
                                   std::to_string(status.cardsRejected) + " rejected)";
        if (status.cardsTakenIn > out) {
            return "a card is still in the machine, neither delivered nor rejected" + counts +
                   ": a restore sends it out";
        }
        return "no card left in the machine" + counts;
    }
    // Between PreLoad's acknowledgement and Eject's completion a card is in the machine.
    if (link_.counts().cardInside) {
        return "a card is still in the machine, as the link saw it (taken in by PreLoad, not sent out by Eject or "
               "Restore): a restore sends it out";
    }
    return "no card left in the machine, as the link saw it";
}

std::string PrintReport::progressLine() const {
    constexpr std::size_t kBar = 20;
    const std::size_t done = std::min(produced(), total_);
    const std::size_t filled = total_ == 0 ? kBar : done * kBar / total_;
    std::string line = "[" + std::string(filled, '#') + std::string(kBar - filled, '.') + "] " +
                       std::to_string(done) + "/" + std::to_string(total_) + " cards, machine " +
                       (state_.empty() ? std::string("?") : state_) + ", hardware error " +
                       std::to_string(hwErrorCode_);
    return line;
}

void PrintReport::summary(Console& console, BOOL endResult, const std::string& deletion, std::uint64_t platformMs,
                          std::uint64_t realMs, bool virtualClock, const std::vector<std::string>& spoolerCalls) const {
    const std::size_t produced = this->produced();
    std::string machineLine;
    if (machine_ != nullptr) {
        const auto status = machine_->status();
        const auto log = machine_->personalisedCards();
        std::size_t spoiled = 0;
        for (const auto& card : log) spoiled += card.completionCode != '0' ? 1 : 0;
        std::map<std::string, std::size_t> faults;
        for (const auto& fault : machine_->firedFaults()) ++faults[fault.text];
        std::vector<std::string> committed;
        committed.reserve(faults.size());
        for (const auto& [text, count] : faults) committed.push_back(text + (count > 1 ? " x" + std::to_string(count) : ""));
        machineLine = "machine: " + std::to_string(log.size()) + " personalised (" + std::to_string(spoiled) +
                      " spoiled), " + std::to_string(status.cardsDelivered) + " delivered, " +
                      std::to_string(status.cardsRejected) + " rejected; faults committed: " +
                      (committed.empty() ? std::string("none") : joined(committed, ", "));
    } else {
        const DeliveryWatch::Counts link = link_.counts();
        machineLine = "link: " + std::to_string(link.personalised + link.spoiled) + " personalised (" +
                      std::to_string(link.spoiled) + " spoiled), " + std::to_string(link.delivered) +
                      " delivered, as the machine's replies reported them";
    }
    // Every time on one clock, the one the halts were timed and restored on.
    std::string line = "summary: " + std::to_string(produced) + " of " + std::to_string(total_) + " cards produced in " +
                       formatDuration(platformMs) +
                       (virtualClock ? " on the virtual clock, " + formatDuration(realMs) + " real" : " on the real clock");
    // Time spent halted waits on whoever restores, not on the machine.
    const std::uint64_t working = platformMs > haltedMs_ ? platformMs - haltedMs_ : 0;
    if (haltedMs_ > 0) line += ", " + formatDuration(haltedMs_) + " of it halted";
    if (produced > 0) line += "; " + formatDuration(working / produced) + " per card" + (haltedMs_ > 0 ? " working" : "");
    if (!deletion.empty()) line += "; the job was deleted " + deletion;
    console.line(line);
    if (!machineLine.empty()) console.line("  " + machineLine);
    std::vector<std::string> halts;
    for (const std::int32_t hw : halts_) halts.push_back(std::to_string(hw) + " " + describeErrorCode(hw));
    console.line("  errors: " + (halts.empty() ? std::string("none") : std::to_string(halts.size()) + " halt(s): " +
                                                                          joined(halts, "; ")) +
                 "; restores sent by kestrova: " + std::to_string(restores_));
    std::string spooler = std::string("  spooler: EndDocPort ") + (endResult == TRUE ? "TRUE" : "FALSE");
    if (!spoolerCalls.empty()) spooler += "; " + joined(spoolerCalls, ", ");
    console.line(spooler);
}

}  // namespace kestrova::tool
