// The monitor into the local Windows print spooler and out again, each step
// reported on the console as it is done; the result is the tool's exit
// status (exit_codes.h). Only the Windows build can do it.
#pragma once

#include "tool/console.h"

#include <string>

namespace kestrova::tool {

struct InstallRequest {
    std::string driver;  // the printer driver whose language monitor it becomes; empty: none
    std::string dll;     // install: the DLL to copy; empty: KestrovaLM.dll beside the program
};

// False outside Windows: there the two below only complain.
bool spoolerInstallAvailable();

// Checks everything first (elevation, bitness, the DLL, not yet registered,
// the driver), then copies the DLL into the system directory, registers the
// monitor and sets the driver's language monitor; a failing step undoes
// the ones before it.
int installMonitor(const InstallRequest& request, Console& console);

// Takes the monitor from the driver (if given), unregisters it unless a
// driver still uses it, and deletes the DLL from the system directory.
int uninstallMonitor(const InstallRequest& request, Console& console);

}  // namespace kestrova::tool
