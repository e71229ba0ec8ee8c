#include "control/module_info_grammar.h"

#include <boost/phoenix/bind/bind_function.hpp>
#include <boost/phoenix/core.hpp>
#include <boost/phoenix/fusion/at.hpp>
#include <boost/phoenix/operator.hpp>
#include <boost/phoenix/stl/container.hpp>

namespace kestrova {

namespace qi = boost::spirit::qi;
namespace phx = boost::phoenix;

namespace {

// The text holds exactly what the length digits promised. When the text
// cannot be taken (a length below 3, or one that runs past the payload),
// the counted repeat leaves whatever it examined in the text; such an entry
// is malformed and ends the reading rather than carrying those bytes.
bool textMatchesLength(const ModuleInfoEntry& entry, std::uint32_t entryLength) {
    return entryLength >= 3 && entry.second.size() == entryLength - 3;
}

}  // namespace

ModuleInfoGrammar::ModuleInfoGrammar() : ModuleInfoGrammar::base_type(infoList) {
    const qi::uint_parser<std::uint32_t, 10, 2, 2> twoDigits;

    infoKey %= qi::repeat(3)[qi::byte_];
    // The count is taken when the rule starts, in unsigned arithmetic.
    infoText %= qi::repeat(phx::ref(entryLength) - 3U)[qi::byte_];
    infoEntry %= qi::omit[twoDigits[phx::ref(entryLength) = qi::_1]] >> infoKey >> -infoText >> qi::lit(';') >>
                qi::eps(phx::bind(&textMatchesLength, qi::_val, phx::ref(entryLength)));
    // map::insert keeps the entry already there: the first text of a key wins.
    infoList = *(infoEntry[phx::insert(qi::_val, qi::_1)]);
}

ModuleInfoTable readModuleInfo(const Bytes& payload) {
    const std::string text(payload.begin(), payload.end());
    ModuleInfoGrammar grammar;
    ModuleInfoTable table;
    ModuleInfoIterator at = text.begin();
    qi::parse(at, text.cend(), grammar, table);
    return table;
}

}  // namespace kestrova
