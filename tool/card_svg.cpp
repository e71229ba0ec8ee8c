#include "tool/card_svg.h"

#include "tool/markup_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace kestrova::tool {

namespace {

const char* const kMarkColour = "#d0021b";
const char* const kLabelColour = "#1f5fbf";

// Derived sizes (label size, stroke) need no more than six digits.
std::string num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}
std::string num(std::int64_t value) { return std::to_string(value); }

struct Extent {
    double left;
    double top;
    double right;
    double bottom;

    void take(double x0, double y0, double x1, double y1) {
        left = std::min({left, x0, x1});
        top = std::min({top, y0, y1});
        right = std::max({right, x0, x1});
        bottom = std::max({bottom, y0, y1});
    }
    double width() const { return right - left; }
    double height() const { return bottom - top; }
};

std::string rect(const char* cls, const TextBox& b, const std::string& rest) {
    return std::string("<rect class=\"") + cls + "\" x=\"" + num(b.left) + "\" y=\"" + num(b.top) + "\" width=\"" +
           num(b.right - b.left) + "\" height=\"" + num(b.bottom - b.top) + "\" " + rest + "/>\n";
}

// Words of a note on lines of at most `width` characters (a longer word stands alone).
std::vector<std::string> wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines(1);
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!lines.back().empty() && lines.back().size() + 1 + word.size() > width) lines.emplace_back("  ");
        if (!lines.back().empty() && lines.back() != "  ") lines.back() += ' ';
        lines.back() += word;
        at = end + 1;
    }
    return lines;
}

bool within(const TextBox& b, double left, double top, double right, double bottom) {
    return static_cast<double>(b.left) >= left && static_cast<double>(b.right) <= right &&
           static_cast<double>(b.top) >= top && static_cast<double>(b.bottom) <= bottom;
}

std::string itemLabel(const PlacedItem& placed) {
    std::string label = std::to_string(placed.number) + " \xC2\xB7 F" + std::to_string(placed.item.f) + " CI" +
                        std::to_string(placed.item.ci);
    if (!placed.item.n.empty()) label += " \xC2\xB7 " + markupFromLatin1(placed.item.n);
    if (!placed.hasLine) label += " \xC2\xB7 no line";
    return label;
}

}  // namespace

std::string cardSvg(std::size_t number, const JobRecord& card, const CardInspection& inspection) {
    const double sx = static_cast<double>(card.sx());
    const double sy = static_cast<double>(card.sy());
    Extent extent{std::min(0.0, sx), std::min(0.0, sy), std::max(0.0, sx), std::max(0.0, sy)};
    for (const PlacedItem& placed : inspection.items) {
        extent.take(static_cast<double>(placed.box.left), static_cast<double>(placed.box.top),
                    static_cast<double>(placed.box.right), static_cast<double>(placed.box.bottom));
    }
    // The drawing reaches at most half a card beyond the card: what lies
    // further out gets an arrow at the edge, so the card stays readable.
    if (sx > 0 && sy > 0) {
        extent = Extent{std::max(extent.left, -sx / 2), std::max(extent.top, -sy / 2),
                        std::min(extent.right, sx * 1.5), std::min(extent.bottom, sy * 1.5)};
    }
    // A card without size still gets a drawing of whatever is on it.
    if (extent.width() <= 0) extent.right = extent.left + std::max(extent.height(), 100.0);
    if (extent.height() <= 0) extent.bottom = extent.top + std::max(extent.width(), 100.0);
    const double span = std::max(extent.width(), extent.height());
    const double label = std::max(std::min(extent.width(), extent.height()) / 30.0, span / 200.0);
    const double stroke = span / 400.0;

    // Problems that belong to the whole card are written below it.
    const double noteSize = label * 0.9;
    const auto lineChars = static_cast<std::size_t>(std::max(20.0, extent.width() / (0.58 * noteSize)));
    std::vector<std::string> notes;
    for (const CardProblem& problem : inspection.problems) {
        if (problem.kind == CardProblemKind::Outside || problem.kind == CardProblemKind::Overlap) continue;
        for (std::string& line : wrapped(problem.text, lineChars)) notes.push_back(std::move(line));
    }

    // The margin is a share of each side, so that a clean card keeps its proportions exactly.
    const double padX = extent.width() * 0.04;
    const double padY = extent.height() * 0.04;
    const double viewLeft = extent.left - padX;
    const double viewTop = extent.top - padY;
    const double viewWidth = extent.width() + 2 * padX;
    const double viewHeight = extent.height() + 2 * padY + static_cast<double>(notes.size()) * noteSize * 1.4;
    const double scale = kCardPictureSide / std::max(viewWidth, viewHeight);

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
                      num(std::max(1.0, std::round(viewWidth * scale))) + "\" height=\"" +
                      num(std::max(1.0, std::round(viewHeight * scale))) + "\" viewBox=\"" + num(viewLeft) + " " +
                      num(viewTop) + " " + num(viewWidth) + " " + num(viewHeight) + "\" data-card=\"" +
                      std::to_string(number) + "\" data-sx=\"" + num(std::int64_t{card.sx()}) + "\" data-sy=\"" +
                      num(std::int64_t{card.sy()}) + "\">\n";
    svg += "<title>card " + std::to_string(number) + ": " + std::to_string(card.sx()) + " x " +
           std::to_string(card.sy()) + ", " + std::to_string(inspection.items.size()) + " item(s)" +
           (inspection.problems.empty() ? "" : ", " + std::to_string(inspection.problems.size()) + " problem(s)") +
           "</title>\n";
    svg += "<rect x=\"" + num(viewLeft) + "\" y=\"" + num(viewTop) + "\" width=\"" + num(viewWidth) + "\" height=\"" +
           num(viewHeight) + "\" fill=\"#eceae4\"/>\n";
    svg += rect("card", TextBox{0, 0, card.sx(), card.sy()},
                "rx=\"" + num(std::min(std::abs(sx), std::abs(sy)) * 0.06) + "\" fill=\"#ffffff\" stroke=\"#555555\" "
                "stroke-width=\"" + num(stroke) + "\"");

    for (const PlacedItem& placed : inspection.items) {
        const TextBox& b = placed.box;
        const double size = static_cast<double>(b.bottom - b.top);
        svg += "<g class=\"item" + std::string(placed.hasLine ? "" : " blank") + "\" data-item=\"" +
               std::to_string(placed.number) + "\" data-x=\"" + num(std::int64_t{placed.item.x}) + "\" data-y=\"" +
               num(std::int64_t{placed.item.y}) + "\" data-f=\"" + num(std::int64_t{placed.item.f}) +
               "\" data-ci=\"" + num(std::int64_t{placed.item.ci}) + "\">\n";
        if (placed.hasLine) {
            svg += rect("box", b, "fill=\"#dfe9fb\" fill-opacity=\"0.6\" stroke=\"#7a9cd6\" stroke-width=\"" +
                                      num(stroke / 2) + "\"");
            if (!placed.text.empty() && size > 0) {
                svg += "<text class=\"text\" x=\"" + num(b.left) + "\" y=\"" + num(b.top + size * 0.8) +
                       "\" font-family=\"DejaVu Sans Mono, monospace\" font-size=\"" + num(size) +
                       "\" fill=\"#111111\" xml:space=\"preserve\">" + markupFromLatin1(placed.text) + "</text>\n";
            }
        } else {
            // No line: the machine leaves it blank; a cross marks where it would be.
            const double c = std::max(size, label) / 2;
            const double x = placed.item.x;
            const double y = placed.item.y;
            svg += "<path class=\"anchor\" d=\"M" + num(x - c) + " " + num(y - c) + "L" + num(x + c) + " " +
                   num(y + c) + "M" + num(x - c) + " " + num(y + c) + "L" + num(x + c) + " " + num(y - c) +
                   "\" stroke=\"#999999\" stroke-width=\"" + num(stroke) + "\"/>\n";
        }
        svg += "<text class=\"label\" x=\"" + num(b.left) + "\" y=\"" + num(static_cast<double>(b.top) - label * 0.3) +
               "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"" + num(label) + "\" fill=\"" + kLabelColour +
               "\">" + itemLabel(placed) + "</text>\n</g>\n";
    }

    for (const PlacedItem& placed : inspection.items) {
        if (!placed.outside) continue;
        svg += rect("mark outside", placed.box,
                    "data-item=\"" + std::to_string(placed.number) + "\" fill=\"none\" stroke=\"" + kMarkColour +
                        "\" stroke-width=\"" + num(stroke * 2) + "\"");
        if (within(placed.box, extent.left, extent.top, extent.right, extent.bottom)) continue;
        // Beyond the drawing: an arrow from inside the edge towards it.
        const double tipX = std::clamp(static_cast<double>(placed.item.x), extent.left, extent.right);
        const double tipY = std::clamp(static_cast<double>(placed.item.y), extent.top, extent.bottom);
        const double cx = (extent.left + extent.right) / 2;
        const double cy = (extent.top + extent.bottom) / 2;
        const double length = std::hypot(tipX - cx, tipY - cy);
        const double ux = length > 0 ? (tipX - cx) / length : 1;
        const double uy = length > 0 ? (tipY - cy) / length : 0;
        const double tailX = tipX - ux * label * 3;
        const double tailY = tipY - uy * label * 3;
        const double headX = tipX - ux * label;
        const double headY = tipY - uy * label;
        svg += "<g class=\"mark beyond\" data-item=\"" + std::to_string(placed.number) + "\" stroke=\"" + kMarkColour +
               "\" stroke-width=\"" + num(stroke * 2) + "\" fill=\"" + kMarkColour + "\"><path d=\"M" + num(tailX) + " " +
               num(tailY) + "L" + num(tipX) + " " + num(tipY) + "M" + num(headX - uy * label / 2) + " " +
               num(headY + ux * label / 2) + "L" + num(tipX) + " " + num(tipY) + "L" + num(headX + uy * label / 2) +
               " " + num(headY - ux * label / 2) + "\"/><text x=\"" + num(tailX - ux * label * 0.5) + "\" y=\"" +
               num(tailY - uy * label * 0.5 + label * 0.35) + "\" text-anchor=\"" + (ux > 0.3 ? "end" : ux < -0.3 ? "start" : "middle") +
               "\" stroke=\"none\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"" + num(label) + "\">item " +
               std::to_string(placed.number) + " at " + std::to_string(placed.item.x) + ", " +
               std::to_string(placed.item.y) + "</text></g>\n";
    }
    for (const auto& [first, second] : inspection.overlaps) {
        const TextBox both = inspection.items[first - 1].box.intersection(inspection.items[second - 1].box);
        svg += rect("mark overlap", both,
                    "data-items=\"" + std::to_string(first) + " " + std::to_string(second) + "\" fill=\"" +
                        kMarkColour + "\" fill-opacity=\"0.45\"");
    }
    if (inspection.has(CardProblemKind::Empty) || inspection.has(CardProblemKind::NoItems)) {
        svg += "<g class=\"mark empty\" stroke=\"" + std::string(kMarkColour) + "\" stroke-width=\"" + num(stroke * 2) +
               "\"><path d=\"M0 0L" + num(sx) + " " + num(sy) + "M" + num(sx) + " 0L0 " + num(sy) +
               "\" fill=\"none\"/><text x=\"" + num(sx / 2) + "\" y=\"" + num(sy / 2) +
               "\" text-anchor=\"middle\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"" + num(label * 2) +
               "\" fill=\"" + kMarkColour + "\" stroke=\"none\">EMPTY CARD</text></g>\n";
    }
    double y = extent.bottom + padY + noteSize;
    for (const std::string& note : notes) {
        svg += "<text class=\"mark note\" x=\"" + num(extent.left) + "\" y=\"" + num(y) +
               "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"" + num(noteSize) + "\" fill=\"" + kMarkColour +
               "\">" + markupFromLatin1(note) + "</text>\n";
        y += noteSize * 1.4;
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace kestrova::tool
