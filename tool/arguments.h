// The command line of one tool command: options (--name VALUE, --name=VALUE,
// or --flag) from a table, and the positional words in order.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kestrova::tool {

struct OptionRule {
    const char* name;  // without the leading "--"
    bool takesValue;
};

struct Arguments {
    std::vector<std::string> positionals;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool has(const std::string& name) const { return flags.count(name) != 0 || values.count(name) != 0; }
    std::optional<std::string> value(const std::string& name) const;
};

struct ArgumentsParse {
    std::optional<Arguments> arguments;
    std::string error;
};

// "--" ends the options; "-h" is "--help". An option given twice keeps the last value.
ArgumentsParse parseArguments(const std::vector<std::string>& words, const std::vector<OptionRule>& options,
                              const std::string& command);

}  // namespace kestrova::tool
