#include "control/request_document.h"

#include "control/request_text.h"

#include <boost/property_tree/xml_parser.hpp>

#include <sstream>
#include <string>

namespace kestrova {

std::optional<ControlTree> readRequestDocument(const WCHAR* text) {
    // The reader takes much that is no XML document (several roots, text
    // beside the root, characters and names XML does not allow, repeated
    // attributes), and the answer echoes the request: such a text is not a
    // control request.
    const ScreenedRequest screened = screenRequestText(text);
    if (screened.verdict != RequestVerdict::Accepted) return std::nullopt;
    try {
        std::basic_istringstream<TreeChar> in(screened.text);
        ControlTree tree;
        boost::property_tree::read_xml(in, tree);
        return tree;
    } catch (const boost::property_tree::ptree_error&) {
        return std::nullopt;
    }
}

TreeString requestCommand(const ControlTree& tree) {
    return tree.get<TreeString>(ControlTree::path_type(L"kx_api.command.<xmlattr>.value", L'.'), TreeString());
}

}  // namespace kestrova
