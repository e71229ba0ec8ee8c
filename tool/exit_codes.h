// What the tool's exit status tells a script.
#pragma once

namespace kestrova::tool::exit_code {

constexpr int Success = 0;
constexpr int Failed = 1;       // the job or request ran and did not succeed; check found problems
constexpr int Usage = 2;        // bad command line
constexpr int BadInput = 3;     // a file that cannot be read (or, for a preview, written)
constexpr int Environment = 4;  // module not loadable, machine or port unreachable
constexpr int Interrupted = 130;

}  // namespace kestrova::tool::exit_code
