// The grammar of the module information text: entries of two length digits
// n, a 3-byte key, n - 3 bytes of text and ';', one after another with
// nothing between them and no white space skipped.
#pragma once

#include "control/module_info_table.h"

#include <boost/fusion/include/std_pair.hpp>
#include <boost/spirit/include/qi.hpp>

#include <cstdint>
#include <string>
#include <utility>

namespace kestrova {

using ModuleInfoIterator = std::string::const_iterator;
using ModuleInfoEntry = std::pair<std::string, std::string>;

// Holds the length of the entry being read, so build one per reading.
struct ModuleInfoGrammar : boost::spirit::qi::grammar<ModuleInfoIterator, ModuleInfoTable()> {
    ModuleInfoGrammar();

    boost::spirit::qi::rule<ModuleInfoIterator, ModuleInfoTable()> infoList;
    boost::spirit::qi::rule<ModuleInfoIterator, ModuleInfoEntry()> infoEntry;
    boost::spirit::qi::rule<ModuleInfoIterator, std::string()> infoKey;
    boost::spirit::qi::rule<ModuleInfoIterator, std::string()> infoText;
    std::uint32_t entryLength = 0;
};

}  // namespace kestrova
