// The configuration file and its coordinate rules. JobQueue::loadRules reads
// the file at every document start; the pieces below are what it is made of.
#pragma once

#include "production/job_queue.h"

#include <cstddef>
#include <string_view>

namespace kestrova {

// Relative to the current directory of the hosting process.
extern const char* const kConfigurationPath;

// A file larger or nested deeper than this is a failed load: the XML reader
// recurses per level and holds the whole text, so neither is left unbounded.
constexpr std::size_t kConfigurationMaxBytes = 1024 * 1024;
constexpr int kConfigurationMaxDepth = 64;

// The rules one document start loads from the file.
struct CoordinateRuleSet {
    CoordinateRules horizontal;
    CoordinateRules vertical;
    // False: the file is missing or could not be read; the rules hold what
    // was read before the failure.
    bool read = false;
};

// Reads the file now. Nothing but memory running out makes it throw.
CoordinateRuleSet readConfiguration();

// The debugger text "KestrovaLM.cfg not found"; allocates nothing.
void reportConfigurationNotFound();

// Reads the rules from the file's bytes (each byte one character) into the
// two maps, the first rule for a value winning. Returns false at the first
// failure; the rules inserted before it stay.
bool readRules(std::string_view bytes, CoordinateRules& horizontal, CoordinateRules& vertical);

}  // namespace kestrova
