// The spooler's side of the check: every step the program takes with the
// loaded module, grouped by what it proves.
#pragma once

#include "tests/wine/checks.h"

#include <string>

namespace kestrova::wine_check {

// Loads the module at `modulePath` and runs every check; the status
// documents of the control requests are written to `outDir` as
// <name>.xml, byte for byte as the module returned them (UTF-16LE).
void runSpoolerCheck(const std::string& modulePath, const std::string& outDir, Checks& checks);

// Loads the module, starts a document on a port and ends the process with
// it started, so that the module's detach runs as the process ends; the
// spooler stand-in then reports the spooler calls made meanwhile on
// standard output (there should be none). Returns only if the document
// could not be started.
int runExitInDocument(const std::string& modulePath);

}  // namespace kestrova::wine_check
