// The tool's --help texts.
#pragma once

#include <string>

namespace kestrova::tool {

std::string toolHelp();
std::string printHelp();
std::string controlHelp();
std::string machineHelp();
std::string checkHelp();
std::string installHelp();
std::string uninstallHelp();
std::string statusHelp();
std::string consoleHelp();

}  // namespace kestrova::tool
