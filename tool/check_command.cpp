// kestrova check: a job parsed as the module parses it, without a machine;
// every layout and card as the machine would receive it, and the
// configuration explained.
#include "production/configuration.h"
#include "production/payload_texts.h"
#include "tool/shown_text.h"
#include "tool/arguments.h"
#include "tool/command_start.h"
#include "tool/card_inspection.h"
#include "tool/card_preview.h"
#include "tool/card_selection.h"
#include "tool/config_report.h"
#include "tool/console.h"
#include "tool/exit_codes.h"
#include "tool/help_texts.h"
#include "tool/host_console.h"
#include "tool/job_file.h"
#include "tool/producible_job.h"
#include "tool/tool_commands.h"

#include <filesystem>
#include <map>
#include <optional>

namespace kestrova::tool {

namespace {

const std::vector<OptionRule> kOptions = {{"help", false}, {"config", true}, {"preview", true}, {"cards", true}};


std::string rulesText(const CoordinateRules& rules) {
    if (rules.empty()) return "none";
    std::string out;
    for (const auto& [value, replaceWith] : rules) {
        if (!out.empty()) out += ", ";
        out += std::to_string(value) + " -> " + std::to_string(replaceWith);
    }
    return out;
}

// "120 (100 in the job)" when a rule replaced the value.
std::string coordinate(std::int32_t now, std::int32_t before) {
    return before == now ? std::to_string(now) : std::to_string(now) + " (" + std::to_string(before) + " in the job)";
}

void listLayout(Console& console, std::size_t number, const CardLayout& layout, const CardLayout& asWritten) {
    console.line("layout " + std::to_string(number) + ": SX " + std::to_string(layout.sx) + ", SY " +
                 std::to_string(layout.sy) + "; " + std::to_string(layout.items.size()) + " item(s); not sent: U " +
                 std::to_string(layout.u) + ", ]F " + std::to_string(layout.bracketF) + ", FN " +
                 (layout.fn.empty() ? "-" : shownText(layout.fn)));
    if (number == 1) {
        console.line("  (the machine receives SX, SY and each item's X, Y, F and CI; the header's U, ]F and FN and an "
                     "item's CS, B, N= and quoted text are read and kept with the card but never sent)");
    }
    for (std::size_t i = 0; i < layout.items.size(); ++i) {
        const JobItem& item = layout.items[i];
        const JobItem& written = asWritten.items[i];
        console.line("  item " + std::to_string(i + 1) + ": X " + coordinate(item.x, written.x) + ", Y " +
                     coordinate(item.y, written.y) + ", F " + std::to_string(item.f) + ", CI " +
                     std::to_string(item.ci) + "; not sent: CS " + std::to_string(item.cs) + ", B " +
                     std::to_string(item.b) + (item.n.empty() ? "" : ", N=" + shownText(item.n)) +
                     (item.text.empty() ? "" : ", text \"" + shownText(item.text) + "\""));
    }
}

}  // namespace

int runCheck(const std::vector<std::string>& words, ToolOutput output) {
    Console console(output.out, output.err, false);
    const CommandStart start = startCommand(words, kOptions, "check", checkHelp(), console, output.out);
    if (!start.arguments) return start.exitCode;
    const Arguments& arguments = *start.arguments;
    if (arguments.positionals.size() != 1) {
        console.error("check needs one JOBFILE (kestrova check --help)");
        return exit_code::Usage;
    }
    const std::string& jobPath = arguments.positionals[0];
    // A reader that has read enough (| head) ends the listing, not the process.
    host::ignoreClosedOutput();
    std::string error;
    std::optional<CardSelection> selection = CardSelection();
    if (const auto cards = arguments.value("cards")) {
        selection = CardSelection::parse(*cards, error);
        if (!arguments.has("preview")) error = "--cards picks the cards --preview draws; give --preview DIR too";
        if (!selection || !error.empty()) {
            console.error(error);
            return exit_code::Usage;
        }
    }
    std::string job;
    if (!readWholeFile(jobPath, job, error)) {
        console.error(error);
        return exit_code::BadInput;
    }

    bool problems = false;
    std::vector<std::string> jobProblems;
    ConfigReport config;
    const auto configPath = arguments.value("config");
    const std::string path = configPath.value_or(kConfigurationPath);
    if (!configPath && !std::filesystem::exists(path)) {
        console.line("configuration: no " + path + " under the current directory: no coordinate rules (the module "
                     "sends \"KestrovaLM.cfg not found\" and goes on)");
    } else {
        if (configPath) {
            std::string ignored;
            if (!readWholeFile(*configPath, ignored, error)) {
                console.error("--config: " + error);
                return exit_code::BadInput;
            }
        }
        config = explainConfiguration(path);
        console.line("configuration: " + path + (config.moduleReadsIt ? " (read without problems)" : ""));
        for (const std::string& e : config.errors) {
            console.line("  problem: " + e);
            jobProblems.push_back("configuration: " + e);
        }
        for (const std::string& n : config.notes) console.line("  note: " + n);
        if (!config.moduleReadsIt) {
            problems = true;
            console.line("  the module sends \"KestrovaLM.cfg not found\" and keeps the rules read before the problem");
        }
        console.line("  horizontal rules (x): " + rulesText(config.horizontal));
        console.line("  vertical rules (y): " + rulesText(config.vertical));
    }

    const JobQueue cards = parseJob(job, config.horizontal, config.vertical);
    const JobQueue asWritten = parseJob(job);
    console.line("job " + jobPath + ": " + std::to_string(job.size()) + " bytes, " + std::to_string(cards.size()) +
                 " card(s)");
    std::optional<CardPreview> preview;
    if (const auto directory = arguments.value("preview")) {
        preview.emplace(*directory, *selection, cards.size());
        if (!preview->open(error)) {
            console.error(error);
            return exit_code::BadInput;
        }
    }
    std::size_t cardsWithProblems = 0;
    std::map<const CardLayout*, std::size_t> layouts;
    auto outputClosed = [&](const std::string& where) {
        if (!console.outputLost()) return false;
        console.error("output closed: check stopped " + where + "; the listing is not whole" +
                      (preview ? " and the preview not written" : ""));
        return true;
    };
    if (outputClosed("before the cards")) return exit_code::Interrupted;
    for (std::size_t i = 0; i < cards.records.size(); ++i) {
        if (outputClosed("at card " + std::to_string(i + 1) + " of " + std::to_string(cards.size()))) {
            return exit_code::Interrupted;
        }
        const JobRecord& card = cards.records[i];
        auto [layout, isNew] = layouts.emplace(card.layout().get(), layouts.size() + 1);
        if (isNew) listLayout(console, layout->second, *card.layout(), *asWritten.records[i].layout());
        const std::size_t items = card.items().size();
        const std::size_t lines = card.lines().size();
        console.line("card " + std::to_string(i + 1) + " (layout " + std::to_string(layout->second) + "), " +
                     std::to_string(lines) + " line(s)");
        for (std::size_t k = 0; k < lines; ++k) {
            console.line("  line " + std::to_string(k + 1) + ": \"" + shownText(card.lines()[k]) + "\"" +
                         (k < items ? " -> item " + std::to_string(k + 1) : " (no item: not sent)"));
        }
        const CardInspection inspection = inspectCard(card);
        for (const CardProblem& problem : inspection.problems) console.line("  problem: " + problem.text);
        cardsWithProblems += inspection.problems.empty() ? 0 : 1;
        if (preview && !preview->add(i + 1, card, inspection, error)) {
            console.error(error);
            return exit_code::BadInput;
        }
        if (items == 0) continue;
        console.line("  JobSetup     " + shownText(recordSetupText(card)));
        console.line("  Personalize  " + shownText(personalisationText(card)));
    }
    if (cards.size() == 0) {
        problems = true;
        console.line(kNoCardsText);
    }
    if (cardsWithProblems > 0) {
        problems = true;
        console.line(std::to_string(cardsWithProblems) + " of " + std::to_string(cards.size()) +
                     " card(s) have problems");
    }
    if (preview) {
        if (!preview->finish(jobPath, jobProblems, error)) {
            console.error(error);
            return exit_code::BadInput;
        }
        const std::size_t notDrawn = cards.size() - preview->drawn();
        console.line("preview: " + std::to_string(preview->drawn()) + " card(s) drawn, " + preview->indexPath() +
                     (notDrawn == 0 ? std::string()
                                    : "; " + std::to_string(notDrawn) + " more not drawn (--cards " +
                                          (selection->isDefault() ? std::to_string(kDefaultCardsDrawn + 1) + "-" +
                                                                        std::to_string(cards.size())
                                                                  : std::string("N-M")) +
                                          " draws others)"));
    }
    if (!problems) console.line("no problems found");
    if (outputClosed("at its last lines")) return exit_code::Interrupted;
    return problems ? exit_code::Failed : exit_code::Success;
}

}  // namespace kestrova::tool
