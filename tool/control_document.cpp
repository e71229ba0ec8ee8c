#include "tool/control_document.h"

#include "control/request_document.h"
#include "tool/text_encoding.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <sstream>

namespace kestrova::tool {

namespace pt = boost::property_tree;

namespace {

std::optional<std::string> textAt(const pt::ptree& tree, const char* path) {
    const auto text = tree.get_optional<std::string>(pt::ptree::path_type(path, '.'));
    if (!text) return std::nullopt;
    return *text;
}

template <typename T>
std::optional<T> valueAt(const pt::ptree& tree, const char* path) {
    const auto text = tree.get_optional<std::string>(pt::ptree::path_type(path, '.'));
    if (!text) return std::nullopt;
    try {
        std::size_t used = 0;
        const long long value = std::stoll(*text, &used);
        if (used != text->size()) return std::nullopt;
        return static_cast<T>(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

const std::vector<std::string>& controlCommands() {
    static const std::vector<std::string> commands{"delete_job", "restore", "pause", "continue", "step", "get_info"};
    return commands;
}

bool isControlCommand(const std::string& command) {
    for (const std::string& known : controlCommands()) {
        if (known == command) return true;
    }
    return false;
}

std::string controlRequestText(const std::string& command) {
    return "<kx_api><command value=\"" + command + "\"/></kx_api>";
}

std::optional<std::string> requestedCommand(const std::string& utf8) {
    const WideString text = utf16FromUtf8(utf8);
    const auto tree = readRequestDocument(text.c_str());
    if (!tree) return std::nullopt;
    const TreeString command = requestCommand(*tree);
    if (command.empty()) return std::nullopt;
    return utf8FromUtf16(wideFromTreeText(command));
}

ResultValues readResultDocument(const std::string& utf8) {
    ResultValues out;
    pt::ptree tree;
    try {
        std::istringstream stream(utf8);
        pt::read_xml(stream, tree);
    } catch (const pt::ptree_error&) {
        return out;
    }
    const auto root = tree.get_child_optional("kx_api");
    if (!root) return out;
    out.wellFormed = true;
    const auto result = root->get_child_optional("result");
    if (!result) return out;
    out.hasResult = true;
    out.jobId = valueAt<std::uint32_t>(*result, "job.id.<xmlattr>.value");
    out.docName = textAt(*result, "job.doc_name.<xmlattr>.value");
    out.toProduce = valueAt<std::uint32_t>(*result, "job.to_produce.<xmlattr>.value");
    out.state = textAt(*result, "machine.state.<xmlattr>.value");
    out.hwErrorCode = valueAt<std::int32_t>(*result, "machine.hw_error_code.<xmlattr>.value");
    out.swErrorCode = valueAt<std::int32_t>(*result, "sw_error_code.<xmlattr>.value");
    out.startDocPort = valueAt<std::uint32_t>(*result, "start_doc_port.<xmlattr>.value");
    if (const auto info = result->get_child_optional(pt::ptree::path_type("machine.module_info", '.'))) {
        for (const auto& entry : *info) {
            if (const auto text = entry.second.get_optional<std::string>("<xmlattr>.value")) {
                out.moduleInfo[entry.first] = *text;
            }
        }
    }
    return out;
}

std::string describeErrorCode(std::int32_t code) {
    switch (code) {
        case 0: return "no error";
        case -1: return "writing a frame to the port failed";
        case -2: return "no complete reply within the read time-out";
        case -3: return "an unexpected reply";
        case -4: return "the machine said ready while an operation was in progress";
        case -5: return "the card to be loaded has no items";
        default: break;
    }
    if (code >= 0x1500 && code <= 0x15FF) {
        return "the machine refused a command, reject code " + std::to_string(code - 0x1500);
    }
    if (code > 0 && code < 256) {
        const char c = static_cast<char>(code);
        const std::string shown = c >= 0x20 && c < 0x7F ? std::string("'") + c + "'" : std::to_string(code);
        return "the machine completed a command with code " + shown;
    }
    return "error " + std::to_string(code);
}

}  // namespace kestrova::tool
