// kestrova check --preview DIR: one SVG per selected card and an index.html
// that shows them as thumbnails, each with its number and its problems, and
// lists the problem cards that were not drawn.
#pragma once

#include "production/job_record.h"
#include "tool/card_inspection.h"
#include "tool/card_selection.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kestrova::tool {

class CardPreview {
public:
    CardPreview(std::string directory, CardSelection selection, std::size_t totalCards);

    // Makes the directory when missing and removes the card pictures an
    // earlier preview left there (card-N.svg only), so none of them is stale.
    bool open(std::string& error);
    // Draws the card when it is selected; remembers its problems for the index.
    bool add(std::size_t number, const JobRecord& card, const CardInspection& inspection, std::string& error);
    // Writes index.html; `jobProblems` are the job's own (the configuration's).
    bool finish(const std::string& jobPath, const std::vector<std::string>& jobProblems, std::string& error);

    std::size_t drawn() const { return drawn_.size(); }
    std::string indexPath() const;
    std::string fileName(std::size_t number) const;

private:
    struct DrawnCard {
        std::size_t number;
        std::int32_t sx;
        std::int32_t sy;
        std::size_t items;
        std::vector<std::string> problems;
    };

    std::string directory_;
    CardSelection selection_;
    std::size_t total_;
    std::vector<DrawnCard> drawn_;
    std::vector<std::size_t> undrawnWithProblems_;
};

}  // namespace kestrova::tool
