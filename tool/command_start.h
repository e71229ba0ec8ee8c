// How every command starts: its words read by its table of options, or its
// end at once, after saying why the words do not read (exit_code::Usage) or
// after printing its help (exit_code::Success).
#pragma once

#include "tool/arguments.h"
#include "tool/console.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrova::tool {

struct CommandStart {
    std::optional<Arguments> arguments;  // none: the command ends with `exitCode`
    int exitCode = 0;
};

CommandStart startCommand(const std::vector<std::string>& words, const std::vector<OptionRule>& options,
                          const std::string& command, const std::string& help, Console& console, std::ostream& out);

}  // namespace kestrova::tool
