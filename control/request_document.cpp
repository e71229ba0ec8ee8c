#include "control/request_document.h"

#include "control/request_text.h"

#include <boost/property_tree/xml_parser.hpp>

#include <sstream>

namespace kestrova {

namespace {

bool onlyWhitespace(const TreeString& text) {
    for (TreeChar c : text) {
        if (c != L' ' && c != L'\t' && c != L'\n' && c != L'\r') return false;
    }
    return true;
}

bool hasOneRoot(const ControlTree& tree) {
    int elements = 0;
    for (const auto& child : tree) {
        if (child.first == L"<xmlcomment>") continue;
        if (child.first == L"<xmltext>") {
            if (!onlyWhitespace(child.second.data())) return false;
            continue;
        }
        ++elements;
    }
    return elements == 1 && onlyWhitespace(tree.data());
}

}  // namespace

std::optional<ControlTree> readRequestDocument(const WCHAR* text) {
    const ScreenedRequest screened = screenRequestText(text);
    if (screened.verdict != RequestVerdict::Accepted) return std::nullopt;
    try {
        std::basic_istringstream<TreeChar> in(screened.text);
        ControlTree tree;
        boost::property_tree::read_xml(in, tree);
        // The reader accepts several top-level elements (or text beside
        // them), which no XML document has; answering such a request would
        // echo them all and hand the client something that is not one
        // document, so it is not a control request.
        if (!hasOneRoot(tree)) return std::nullopt;
        return tree;
    } catch (const boost::property_tree::ptree_error&) {
        return std::nullopt;
    }
}

TreeString requestCommand(const ControlTree& tree) {
    return tree.get<TreeString>(ControlTree::path_type(L"kx_api.command.<xmlattr>.value", L'.'), TreeString());
}

}  // namespace kestrova
