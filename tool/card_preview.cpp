#include "tool/card_preview.h"

#include "tool/card_svg.h"
#include "tool/job_file.h"
#include "tool/markup_text.h"

#include <filesystem>
#include <regex>
#include <system_error>

namespace kestrova::tool {

namespace fs = std::filesystem;

namespace {

// The number of undrawn problem cards the index names one by one.
constexpr std::size_t kUndrawnListed = 200;

const char* const kIndexStyle =
    "body{font-family:sans-serif;margin:1.5em;background:#f4f3ef;color:#222}\n"
    "h1{font-size:1.4em}\n"
    ".cards{display:flex;flex-wrap:wrap;gap:1em}\n"
    "figure{margin:0;background:#fff;border:1px solid #ccc;padding:.6em;width:560px;display:flex;gap:.8em}\n"
    "figure.problems{border:2px solid #d0021b}\n"
    "figure img{width:300px;height:auto;flex:none;border:1px solid #eee}\n"
    "figcaption{font-size:.9em}\n"
    ".number{font-weight:bold;font-size:1.1em}\n"
    ".problems li,.job li{color:#d0021b}\n"
    ".ok{color:#2a7a2a}\n";

std::string html(const std::string& text) { return markupFromLatin1(text); }

std::string numberList(const std::vector<std::size_t>& numbers, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < numbers.size() && i < limit; ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(numbers[i]);
    }
    if (numbers.size() > limit) out += " and " + std::to_string(numbers.size() - limit) + " more";
    return out;
}

}  // namespace

CardPreview::CardPreview(std::string directory, CardSelection selection, std::size_t totalCards)
    : directory_(std::move(directory)), selection_(std::move(selection)), total_(totalCards) {}

std::string CardPreview::indexPath() const { return (fs::path(directory_) / "index.html").string(); }

std::string CardPreview::fileName(std::size_t number) const {
    const std::size_t width = std::to_string(std::max<std::size_t>(total_, 1)).size();
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return "card-" + digits + ".svg";
}

bool CardPreview::open(std::string& error) {
    std::error_code failure;
    fs::create_directories(directory_, failure);
    if (failure || !fs::is_directory(directory_, failure)) {
        error = "--preview: cannot make the directory " + directory_ + (failure ? ": " + failure.message() : "");
        return false;
    }
    const std::regex picture("card-[0-9]+\\.svg");
    for (fs::directory_iterator entry(directory_, failure), end; !failure && entry != end; entry.increment(failure)) {
        if (!std::regex_match(entry->path().filename().string(), picture)) continue;
        std::error_code ignored;
        fs::remove(entry->path(), ignored);
    }
    if (failure) {
        error = "--preview: cannot list " + directory_ + ": " + failure.message();
        return false;
    }
    return true;
}

bool CardPreview::add(std::size_t number, const JobRecord& card, const CardInspection& inspection,
                      std::string& error) {
    if (!selection_.contains(number)) {
        if (!inspection.problems.empty()) undrawnWithProblems_.push_back(number);
        return true;
    }
    if (!writeWholeFile((fs::path(directory_) / fileName(number)).string(), cardSvg(number, card, inspection),
                        error)) {
        return false;
    }
    DrawnCard drawn{number, card.sx(), card.sy(), card.items().size(), {}};
    for (const CardProblem& problem : inspection.problems) drawn.problems.push_back(problem.text);
    drawn_.push_back(std::move(drawn));
    return true;
}

bool CardPreview::finish(const std::string& jobPath, const std::vector<std::string>& jobProblems, std::string& error) {
    std::size_t withProblems = undrawnWithProblems_.size();
    for (const DrawnCard& card : drawn_) withProblems += card.problems.empty() ? 0 : 1;

    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Card preview: " +
                       html(jobPath) + "</title>\n<style>\n" + kIndexStyle + "</style>\n</head>\n<body>\n";
    page += "<h1>Card preview: " + html(jobPath) + "</h1>\n<p>" + std::to_string(total_) + " card(s); " +
            std::to_string(drawn_.size()) + " drawn (" +
            (selection_.isDefault() ? "by default at most the first " + std::to_string(kDefaultCardsDrawn)
                                    : "--cards " + selection_.text()) +
            "), each from the layout the machine receives for it, after the configuration's rules. " +
            "A character of size CI is drawn CI &#215; 10 units tall and CI &#215; 6 wide.</p>\n";
    if (drawn_.size() < total_) {
        page += "<p>" + std::to_string(total_ - drawn_.size()) +
                " more card(s) not drawn: kestrova check --preview DIR --cards N-M picks others.</p>\n";
    }
    page += withProblems == 0 && jobProblems.empty()
                ? std::string("<p class=\"ok\">No problems found.</p>\n")
                : "<p>" + std::to_string(withProblems) + " of " + std::to_string(total_) +
                      " card(s) have problems.</p>\n";
    if (!jobProblems.empty()) {
        page += "<ul class=\"job\">\n";
        for (const std::string& problem : jobProblems) page += "<li>" + html(problem) + "</li>\n";
        page += "</ul>\n";
    }
    if (!undrawnWithProblems_.empty()) {
        page += "<p>Cards with problems that are not drawn: " + numberList(undrawnWithProblems_, kUndrawnListed) +
                " (kestrova check lists them).</p>\n";
    }
    page += "<div class=\"cards\">\n";
    for (const DrawnCard& card : drawn_) {
        const std::string file = fileName(card.number);
        const std::string number = std::to_string(card.number);
        page += "<figure id=\"card-" + number + "\" class=\"card";
        page += card.problems.empty() ? "" : " problems";
        page += "\"><a href=\"" + file;
        page += "\"><img src=\"" + file;
        page += "\" alt=\"card " + number;
        page += "\" loading=\"lazy\"></a>\n<figcaption><span class=\"number\">card " + number + "</span><br>";
        page += std::to_string(card.sx);
        page += " &#215; ";
        page += std::to_string(card.sy);
        page += ", ";
        page += std::to_string(card.items);
        page += " item(s)\n";
        if (card.problems.empty()) {
            page += "<p class=\"ok\">no problems</p>";
        } else {
            page += "<ul class=\"problems\">\n";
            for (const std::string& problem : card.problems) page += "<li>" + html(problem) + "</li>\n";
            page += "</ul>";
        }
        page += "</figcaption></figure>\n";
    }
    page += "</div>\n</body>\n</html>\n";
    return writeWholeFile(indexPath(), page, error);
}

}  // namespace kestrova::tool
