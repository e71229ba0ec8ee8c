#include "tests/wine/reader_probe.h"

#include "control/control_tree.h"
#include "tests/wine/module_host.h"

#include <boost/property_tree/xml_parser.hpp>

#include <cstdio>
#include <sstream>

namespace kestrova::wine_check {

int probeReaderDepth(std::size_t levels) {
    TreeString text;
    text.reserve(levels * 7 + 64);
    for (std::size_t i = 0; i < levels; ++i) text += L"<a>";
    for (std::size_t i = 0; i < levels; ++i) text += L"</a>";

    exitOnStackOverflow();
    bool read = false;
    const bool ran = runOnThread(kSpoolerThreadStack, [&] {
        // The same reading as a control request's: a wide string stream into
        // the control tree with the reader's default flags.
        try {
            std::basic_istringstream<TreeChar> in(text);
            ControlTree tree;
            boost::property_tree::read_xml(in, tree);
            read = true;
        } catch (const boost::property_tree::ptree_error&) {
            read = false;
        }
    });
    if (!ran) {
        std::fprintf(stderr, "reader probe: no thread with a %zu-byte stack\n", kSpoolerThreadStack);
        return 2;
    }
    std::printf("reader probe: %zu levels %s\n", levels, read ? "read" : "refused");
    return 0;
}

}  // namespace kestrova::wine_check
