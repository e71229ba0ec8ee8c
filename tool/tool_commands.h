// The tool's commands. Each takes the words after its name and returns the
// exit status; output goes to `out`, complaints to `err`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kestrova::tool {

struct ToolOutput {
    std::ostream& out;
    std::ostream& err;
    bool terminal = false;  // out is a terminal: a live progress line
};

int runTool(const std::vector<std::string>& words, ToolOutput output);

int runPrint(const std::vector<std::string>& words, ToolOutput output);
int runControl(const std::vector<std::string>& words, ToolOutput output);
int runMachine(const std::vector<std::string>& words, ToolOutput output);
int runCheck(const std::vector<std::string>& words, ToolOutput output);
int runInstall(const std::vector<std::string>& words, ToolOutput output);
int runUninstall(const std::vector<std::string>& words, ToolOutput output);
int runStatus(const std::vector<std::string>& words, ToolOutput output);
int runConsole(const std::vector<std::string>& words, ToolOutput output);

}  // namespace kestrova::tool
