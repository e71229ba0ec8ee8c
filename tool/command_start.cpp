#include "tool/command_start.h"

#include "tool/exit_codes.h"

namespace kestrova::tool {

CommandStart startCommand(const std::vector<std::string>& words, const std::vector<OptionRule>& options,
                          const std::string& command, const std::string& help, Console& console, std::ostream& out) {
    ArgumentsParse parsed = parseArguments(words, options, command);
    if (!parsed.arguments) {
        console.error(parsed.error);
        return CommandStart{std::nullopt, exit_code::Usage};
    }
    if (parsed.arguments->has("help")) {
        out << help;
        return CommandStart{std::nullopt, exit_code::Success};
    }
    return CommandStart{std::move(parsed.arguments), exit_code::Success};
}

}  // namespace kestrova::tool
