// How deep a request document may nest before the XML reader the control
// interface uses exhausts a 1 MiB thread stack (the usual stack of a
// Windows thread). The probe reads a document of the given depth exactly as
// the control interface reads a request, on such a thread, bypassing the
// nesting bound the interface checks first. It returns 0 when the reader got
// through (whether or not it accepted the text) and ends the process with
// kStackOverflowExit when the stack ran out; run.sh searches the depth.
#pragma once

#include <cstddef>

namespace kestrova::wine_check {

constexpr std::size_t kSpoolerThreadStack = 1024 * 1024;

int probeReaderDepth(std::size_t levels);

}  // namespace kestrova::wine_check
