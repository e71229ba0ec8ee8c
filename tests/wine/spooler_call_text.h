// A spooler client call the module made (OpenPrinterW, SetJobW,
// ClosePrinter), as one line of text. Both stand-ins of those calls, the
// platform stand-in on Linux and our winspool.drv under Wine, are read
// through this, so that the records of the three builds compare byte for
// byte. Handles are the stand-ins' own numbers (0x1000 on), the same in
// every build.
#pragma once

#include "standin/platform_standin.h"

#include <string>
#include <vector>

namespace kestrova::wine_check {

// "OpenPrinterW "Kestrova Card Printer" datatype NULL devmode NULL access 0x000F000C -> 0x1000"
// "SetJobW 0x1000 job 7 level 0 pJob NULL command 7"
// "ClosePrinter 0x1000"
// A failed OpenPrinterW ends in "-> failed". Other calls give an empty line.
std::string spoolerCallText(const standin::PlatformCall& call);

// The spooler calls among `calls`, one line each, every line ending in "\n".
std::string spoolerCallRecord(const std::vector<standin::PlatformCall>& calls);

// Each line of a record shortened to its name and what tells the calls
// apart: "OpenPrinterW", "OpenPrinterW failed", "SetJobW 7/5" (job/command),
// "ClosePrinter"; separated by ", ", for a scenario's expectation.
std::string spoolerCallSummary(const std::string& record);

}  // namespace kestrova::wine_check
