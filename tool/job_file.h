// A job file read whole, and what its records hold once parsed as the
// monitor parses them.
#pragma once

#include "link/bytes.h"
#include "production/job_queue.h"

#include <cstddef>
#include <string>

namespace kestrova::tool {

// False with the reason.
bool readWholeFile(const std::string& path, std::string& contents, std::string& error);
// Creates or replaces the file; false with the reason.
bool writeWholeFile(const std::string& path, const std::string& contents, std::string& error);

// The cards of a job with the given coordinate rules in force.
JobQueue parseJob(const std::string& contents, const CoordinateRules& horizontal = {},
                  const CoordinateRules& vertical = {});

// The file name without its folders, as a document name.
std::string documentName(const std::string& path);

}  // namespace kestrova::tool
