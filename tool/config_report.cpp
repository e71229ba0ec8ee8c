#include "tool/config_report.h"

#include "production/configuration.h"
#include "tool/job_file.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <sstream>

namespace kestrova::tool {

namespace pt = boost::property_tree;

namespace {

const char* const kHorizontalPath = "KestrovaLM/replace-coordinates/horizontal";
const char* const kVerticalPath = "KestrovaLM/replace-coordinates/vertical";

// The module's integer form: blanks, an optional sign, digits in int32, blanks.
std::optional<std::int32_t> readInteger(const std::string& text, std::string& why) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t digits = at;
    std::int64_t magnitude = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > std::int64_t{INT32_MAX} + 1) {
            why = "is outside the 32-bit range";
            return std::nullopt;
        }
        ++at;
    }
    if (at == digits) {
        why = text.empty() ? "is empty" : "does not start with digits";
        return std::nullopt;
    }
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) ++at;
    if (at != text.size()) {
        why = "has '" + text.substr(at) + "' after its digits";
        return std::nullopt;
    }
    if (!negative && magnitude > INT32_MAX) {
        why = "is outside the 32-bit range";
        return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

// The first child of each name counts; later ones are noted as ignored.
const pt::ptree* child(const pt::ptree& parent, const std::string& name, const std::string& where,
                       std::vector<std::string>& notes) {
    const pt::ptree* first = nullptr;
    for (const auto& [key, value] : parent) {
        if (key != name) continue;
        if (first == nullptr) {
            first = &value;
        } else {
            std::string note = "a second <" + name;
            note += "> in " + where + " is ignored: only the first counts";
            notes.push_back(std::move(note));
        }
    }
    return first;
}

// Walks one rule container as the module does; false at the rule that stops it.
bool explainDirection(const pt::ptree& container, const char* direction, const char* coordinate,
                      ConfigReport& report) {
    std::map<std::int32_t, std::pair<std::size_t, std::int32_t>> seen;  // value -> (rule number, replace_with)
    std::size_t number = 0;
    for (const auto& [name, rule] : container) {
        ++number;
        const std::string label = std::string(direction) + " rule " + std::to_string(number) + " <" + name + ">";
        if (name == "<xmlattr>") {
            report.errors.push_back(std::string("the <") + direction +
                                    "> element has attributes of its own; the module reads them as a first rule "
                                    "without value and stops there (move them to a rule element)");
            return false;
        }
        std::int32_t values[2] = {0, 0};
        const char* attributes[2] = {"value", "replace_with"};
        for (int i = 0; i < 2; ++i) {
            const auto text = rule.get_optional<std::string>(pt::ptree::path_type(std::string("<xmlattr>.") + attributes[i], '.'));
            if (!text) {
                report.errors.push_back(label + " has no attribute " + attributes[i] +
                                        "; the module stops reading rules here");
                return false;
            }
            std::string why;
            const auto value = readInteger(*text, why);
            if (!value) {
                std::string problem = label + ": " + attributes[i];
                problem += "=\"" + *text + "\" " + why;
                problem += " (an integer is optional blanks, an optional sign and decimal digits); "
                           "the module stops reading rules here";
                report.errors.push_back(std::move(problem));
                return false;
            }
            values[i] = *value;
        }
        const auto earlier = seen.find(values[0]);
        if (earlier != seen.end()) {
            report.notes.push_back(label + " (" + std::to_string(values[0]) + " -> " + std::to_string(values[1]) +
                                   ") is ignored: rule " + std::to_string(earlier->second.first) + " already replaces " +
                                   coordinate + " " + std::to_string(values[0]) + " by " +
                                   std::to_string(earlier->second.second));
            continue;
        }
        seen.emplace(values[0], std::make_pair(number, values[1]));
    }
    // Rules do not chain: a replaced value is not looked up again.
    for (const auto& [value, rule] : seen) {
        const auto next = seen.find(rule.second);
        if (next != seen.end() && rule.second != value) {
            report.notes.push_back(std::string(direction) + " rules do not chain: " + coordinate + " " +
                                   std::to_string(value) + " becomes " + std::to_string(rule.second) +
                                   " and stays so, although another rule replaces " + std::to_string(rule.second));
        }
    }
    return true;
}

}  // namespace

ConfigReport explainConfiguration(const std::string& path) {
    std::string contents;
    std::string error;
    if (!readWholeFile(path, contents, error)) {
        ConfigReport report;
        report.errors.push_back(error + "; the module would run without coordinate rules");
        return report;
    }
    return explainConfigurationText(contents);
}

ConfigReport explainConfigurationText(const std::string& contents) {
    ConfigReport report;
    report.found = true;
    report.moduleReadsIt = readRules(contents, report.horizontal, report.vertical);

    if (contents.size() > kConfigurationMaxBytes) {
        report.errors.push_back("the file is " + std::to_string(contents.size()) + " bytes; the module reads at most " +
                                std::to_string(kConfigurationMaxBytes));
        return report;
    }
    // Nothing to read is its own problem, not a missing element.
    if (contents.find_first_not_of(" \t\r\n") == std::string::npos) {
        report.errors.push_back(contents.empty() ? std::string("the file is empty (0 bytes)")
                                                 : "the file holds only white space (" +
                                                       std::to_string(contents.size()) + " bytes)");
        return report;
    }
    pt::ptree tree;
    try {
        std::istringstream stream(contents);
        pt::read_xml(stream, tree, pt::xml_parser::no_comments | pt::xml_parser::trim_whitespace);
    } catch (const pt::xml_parser_error& e) {
        report.errors.push_back("not well-formed XML at line " + std::to_string(e.line()) + ": " + e.message());
        return report;
    } catch (const pt::ptree_error& e) {
        report.errors.push_back(std::string("not readable as XML: ") + e.what());
        return report;
    }

    const pt::ptree* root = child(tree, "KestrovaLM", "the document", report.notes);
    if (root == nullptr) {
        std::string found;
        for (const auto& entry : tree) {
            if (entry.first != "<xmlcomment>") found = entry.first;
        }
        report.errors.push_back("the top-level element must be <KestrovaLM>" +
                                (found.empty() ? std::string() : " (found <" + found + ">)") +
                                "; element names are case-sensitive");
        return report;
    }
    const pt::ptree* replace = child(*root, "replace-coordinates", "<KestrovaLM>", report.notes);
    if (replace == nullptr) {
        report.errors.push_back("element KestrovaLM/replace-coordinates is missing");
        return report;
    }
    const pt::ptree* horizontal = child(*replace, "horizontal", "<replace-coordinates>", report.notes);
    if (horizontal == nullptr) {
        report.errors.push_back(std::string("element ") + kHorizontalPath + " is missing; no rule is read");
        return report;
    }
    if (!explainDirection(*horizontal, "horizontal", "x", report)) {
        report.notes.push_back("vertical rules are not read after a failed horizontal rule");
        return report;
    }
    const pt::ptree* vertical = child(*replace, "vertical", "<replace-coordinates>", report.notes);
    if (vertical == nullptr) {
        report.errors.push_back(std::string("element ") + kVerticalPath +
                                " is missing; the horizontal rules stay in force");
        return report;
    }
    explainDirection(*vertical, "vertical", "y", report);
    if (report.errors.empty() && !report.moduleReadsIt) {
        report.errors.push_back("the module's reader refuses the file (for instance elements nested deeper than " +
                                std::to_string(kConfigurationMaxDepth) + " levels)");
    }
    return report;
}

}  // namespace kestrova::tool
