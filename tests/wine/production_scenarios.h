// Jobs printed through the module's table from StartDocPort to EndDocPort,
// one table of scenarios run the same way against every build: what the
// module told the spooler (the spooler call record), what went over the
// line (the frame record) and the status documents are written to the
// output directory for run.sh to compare byte for byte across builds.
#pragma once

#include "platform/spooler_monitor.h"
#include "tests/wine/checks.h"

#include <string>

namespace kestrova::wine_check {

// Runs every scenario on its own port of `monitor`.
void runProductionScenarios(const MONITOR2& table, HANDLE monitor, const std::string& outDir, Checks& checks);

// The configuration file, relative to the current directory as the module
// looks for it (spool\drivers\W32X86\3\KestrovaLM.cfg on Windows).
bool writeConfiguration();
void removeConfiguration();

}  // namespace kestrova::wine_check
