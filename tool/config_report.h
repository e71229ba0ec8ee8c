// Explains a configuration file the way the module cannot: which element or
// rule is wrong and why, which rules are ignored, and the rules the module
// would end up using (read with the module's own reader).
#pragma once

#include "production/job_queue.h"

#include <string>
#include <vector>

namespace kestrova::tool {

struct ConfigReport {
    bool found = false;                // the file could be read
    bool moduleReadsIt = false;        // the module's reader succeeds (no diagnostic sent)
    std::vector<std::string> errors;   // what stops the module's load
    std::vector<std::string> notes;    // what it silently ignores or does
    CoordinateRules horizontal;        // the rules the module would use
    CoordinateRules vertical;
};

ConfigReport explainConfiguration(const std::string& path);
// The same for a file's contents already read.
ConfigReport explainConfigurationText(const std::string& contents);

}  // namespace kestrova::tool
