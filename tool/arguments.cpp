#include "tool/arguments.h"

namespace kestrova::tool {

namespace {

std::string unknownOption(const std::string& command, const std::string& name) {
    std::string text = "'" + command;
    text += "' has no option --" + name;
    text += " (see kestrova " + command + " --help)";
    return text;
}

}  // namespace

std::optional<std::string> Arguments::value(const std::string& name) const {
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

ArgumentsParse parseArguments(const std::vector<std::string>& words, const std::vector<OptionRule>& options,
                              const std::string& command) {
    Arguments out;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-' || (word[1] != '-' && word != "-h")) {
            out.positionals.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word == "-h" ? "help" : word.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& option : options) {
            if (name == option.name) rule = &option;
        }
        if (rule == nullptr) return {std::nullopt, unknownOption(command, name)};
        if (!rule->takesValue) {
            if (inlineValue) return {std::nullopt, "--" + name + " takes no value"};
            out.flags.insert(name);
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= words.size()) return {std::nullopt, "--" + name + " needs a value"};
            inlineValue = words[++i];
        }
        out.values[name] = *inlineValue;
    }
    return {out, {}};
}

}  // namespace kestrova::tool
