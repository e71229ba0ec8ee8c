#include "production/record_grammar.h"

#include <boost/phoenix/bind/bind_function.hpp>
#include <boost/phoenix/bind/bind_member_variable.hpp>
#include <boost/phoenix/core.hpp>
#include <boost/phoenix/operator.hpp>
#include <boost/range/iterator_range.hpp>
#include <boost/spirit/include/qi.hpp>

#include <string_view>

namespace kestrova {
namespace {

namespace qi = boost::spirit::qi;
namespace ascii = boost::spirit::ascii;
namespace phx = boost::phoenix;

using Iterator = const char*;
using Range = boost::iterator_range<Iterator>;

// The pieces both field sets are made of. The ascii character sets test a
// byte's range before looking it up, so bytes above 0x7F are never
// whitespace and never a quote: they are safe in every rule here.
struct Lexicon {
    Lexicon() {
        whitespace = ascii::char_(" \t\n\v\f\r");
        gap = *whitespace;
        // Sign and digits adjacent; out-of-range values fail to match.
        integer = qi::int_parser<std::int32_t, 10, 1, -1>();
        word = +(~ascii::char_(" \t\n\v\f\r"));
        // No escape: the text runs to the next quote and must not be empty.
        quoted = gap >> qi::lit('"') >> +(~ascii::char_('"')) >> qi::lit('"');
    }

    qi::rule<Iterator> whitespace;
    qi::rule<Iterator> gap;
    qi::rule<Iterator, std::int32_t()> integer;
    qi::rule<Iterator, std::string()> word;
    qi::rule<Iterator, std::string()> quoted;
};

const Lexicon& lexicon() {
    static const Lexicon instance;
    return instance;
}

struct HeaderRules {
    HeaderRules() {
        const Lexicon& lex = lexicon();
        using qi::_1;
        using qi::_r1;
        using qi::lit;
        bracketF = lex.gap >> lit(']') >> lex.gap >> lit('F') >> lex.gap >> lex.integer;
        fn = lex.gap >> lit("FN=") >> lex.word;
        sy = lex.gap >> lit("SY") >> lex.gap >> lex.integer;
        sx = lex.gap >> lit("SX") >> lex.gap >> lex.integer;
        u = lex.gap >> lit('U') >> lex.gap >> lex.integer;
        // The permutation takes each field at most once, so a repeated key
        // ends the set; it matches when at least one field did.
        set = (bracketF[phx::bind(&HeaderFields::bracketF, _r1) = _1] ^
               fn[phx::bind(&HeaderFields::fn, _r1) = _1] ^
               sy[phx::bind(&HeaderFields::sy, _r1) = _1] ^
               sx[phx::bind(&HeaderFields::sx, _r1) = _1] ^
               u[phx::bind(&HeaderFields::u, _r1) = _1]) >>
              lex.gap;
    }

    qi::rule<Iterator, std::int32_t()> bracketF, sy, sx, u;
    qi::rule<Iterator, std::string()> fn;
    qi::rule<Iterator, void(HeaderFields&)> set;
};

struct ItemRules {
    ItemRules() {
        const Lexicon& lex = lexicon();
        using qi::_1;
        using qi::_r1;
        using qi::lit;
        n = lex.gap >> lit("N=") >> lex.word;
        y = lex.gap >> lit('Y') >> lex.gap >> lex.integer;
        x = lex.gap >> lit('X') >> lex.gap >> lex.integer;
        f = lex.gap >> lit('F') >> lex.gap >> lex.integer;
        ci = lex.gap >> lit("CI") >> lex.gap >> lex.integer;
        cs = lex.gap >> lit("CS") >> lex.gap >> lex.integer;
        b = lex.gap >> lit('B') >> lex.gap >> lex.integer;
        set = (n[phx::bind(&JobItem::n, _r1) = _1] ^
               y[phx::bind(&JobItem::y, _r1) = _1] ^
               x[phx::bind(&JobItem::x, _r1) = _1] ^
               f[phx::bind(&JobItem::f, _r1) = _1] ^
               ci[phx::bind(&JobItem::ci, _r1) = _1] ^
               cs[phx::bind(&JobItem::cs, _r1) = _1] ^
               b[phx::bind(&JobItem::b, _r1) = _1] ^
               lex.quoted[phx::bind(&JobItem::text, _r1) = _1]) >>
              lex.gap;
    }

    qi::rule<Iterator, std::int32_t()> y, x, f, ci, cs, b;
    qi::rule<Iterator, std::string()> n;
    qi::rule<Iterator, void(JobItem&)> set;
};

void appendLine(CardLines& lines, const Range& range) {
    lines.push_back(std::string_view(range.begin(), range.size()));
}

struct DataRules {
    DataRules() {
        using qi::_1;
        using qi::_r1;
        using qi::lit;
        line = qi::raw[*(~ascii::char_("\r\n"))];
        lineBreak = lit("\r\n") | lit('\r') | lit('\n');
        // Always matches the whole text: a line may be empty.
        lines = line[phx::bind(&appendLine, _r1, _1)] % lineBreak;
    }

    qi::rule<Iterator, Range()> line;
    qi::rule<Iterator> lineBreak;
    qi::rule<Iterator, void(CardLines&)> lines;
};

}  // namespace

bool parseHeaderSet(const char*& first, const char* last, HeaderFields& fields) {
    static const HeaderRules rules;
    Iterator position = first;
    if (!qi::parse(position, last, rules.set(phx::ref(fields)))) return false;
    first = position;
    return true;
}

bool parseItemSet(const char*& first, const char* last, JobItem& item) {
    static const ItemRules rules;
    Iterator position = first;
    if (!qi::parse(position, last, rules.set(phx::ref(item)))) return false;
    first = position;
    return true;
}

void splitLines(const char* first, const char* last, CardLines& lines) {
    static const DataRules rules;
    Iterator position = first;
    qi::parse(position, last, rules.lines(phx::ref(lines)));
}

}  // namespace kestrova
