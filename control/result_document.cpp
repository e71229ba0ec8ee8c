#include "control/result_document.h"

#include "control/well_formed_xml.h"
#include "control/xml_character.h"
#include "platform/platform_calls.h"

#include <boost/property_tree/xml_parser.hpp>

#include <algorithm>
#include <exception>
#include <sstream>
#include <string>

namespace kestrova {

namespace {

const TreeString kResultRoot = L"kx_api.result.";
const TreeString kValueAttribute = L".<xmlattr>.value";

}  // namespace

void putResult(ControlTree& tree, const TreeString& path, const TreeString& value) {
    tree.put(ControlTree::path_type(kResultRoot + path + kValueAttribute, L'.'), xmlCharactersOnly(value));
}

void putResultNumber(ControlTree& tree, const TreeString& path, std::int64_t value) {
    putResult(tree, path, treeDecimal(value));
}

bool writeResultDocument(const ControlTree& tree, std::basic_ostream<TreeChar>& out) {
    try {
        const auto settings = boost::property_tree::xml_writer_make_settings<TreeString>(L' ', 3, L"utf-8");
        boost::property_tree::write_xml(out, tree, settings);
        // The writer looks at the stream before its last output is flushed;
        // a failure that shows only now must count as well.
        out.flush();
        return !out.fail();
    } catch (const std::exception&) {
        // The writer's own error, a stream set to throw, or memory running out.
        return false;
    }
}

std::optional<WideString> serialiseResultDocument(const ControlTree& tree) {
    try {
        std::basic_ostringstream<TreeChar> out;
        if (!writeResultDocument(tree, out)) return std::nullopt;
        WideString document = wideFromTreeText(out.str());
        // The count the caller gets is a DWORD of bytes.
        if (document.size() > MAXDWORD / sizeof(WCHAR)) return std::nullopt;
        return document;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

BOOL copyResultDocument(const WideString& document, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned) {
    const auto needed = static_cast<DWORD>(document.size() * sizeof(WCHAR));
    *lpcbReturned = needed;
    if (cbOutBuffer < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::copy(document.begin(), document.end(), lpOutBuffer);
    return TRUE;
}

BOOL deliverResultDocument(const ControlTree& tree, LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned) {
    const std::optional<WideString> document = serialiseResultDocument(tree);
    if (!document) return FALSE;
    // The request has been carried out by now; this only keeps a broken
    // answer from the client, should the screen or the text rule miss a case.
    if (const auto fault = firstXmlFault(document->data(), document->size())) {
        const WideString message = wideFromAscii(
            ("KestrovaLM: control answer withheld, not well-formed XML at unit " + std::to_string(*fault) + "\n").c_str());
        OutputDebugStringW(message.c_str());
        SetLastError(ERROR_INTERNAL_ERROR);
        return FALSE;
    }
    return copyResultDocument(*document, lpOutBuffer, cbOutBuffer, lpcbReturned);
}

}  // namespace kestrova
