// One card drawn as SVG, to its own proportions, from the layout the machine
// receives for it: the card outline SX x SY, each item's text at X/Y in its
// size with a label (item number, F, CI), and red marks for what would spoil
// the card. Job units are the drawing's units; the elements carry classes and
// data- attributes ("item", "box", "text", "mark outside", "mark overlap",
// "mark empty", "mark note") so that a program can read the drawing back.
#pragma once

#include "production/job_record.h"
#include "tool/card_inspection.h"

#include <cstddef>
#include <string>

namespace kestrova::tool {

// The longer side of the picture, in pixels.
constexpr int kCardPictureSide = 900;

std::string cardSvg(std::size_t number, const JobRecord& card, const CardInspection& inspection);

}  // namespace kestrova::tool
