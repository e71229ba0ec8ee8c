// Runs kestrova's commands in this process, as the tests of the tool do:
// the words, the exit status and both outputs; the platform stand-in is
// reset after each run.
#pragma once

#include "simulator/socket.h"
#include "standin/platform_standin.h"
#include "tool/tool_commands.h"

#include <sstream>
#include <string>
#include <vector>

namespace kestrova::testing {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline ToolRun kestrova(const std::vector<std::string>& words) {
    std::ostringstream out;
    std::ostringstream err;
    ToolRun run;
    run.status = tool::runTool(words, {out, err, false});
    run.out = out.str();
    run.err = err.str();
    standin::reset();
    return run;
}

inline std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const std::size_t start = text.rfind('\n', end);
    const std::size_t first = start == std::string::npos ? 0 : start + 1;
    return text.substr(first, end + 1 - first);
}

// A loopback port free a moment ago.
inline std::uint16_t freePort() {
    std::string error;
    const simulator::net::Socket probe = simulator::net::listenOn({"127.0.0.1", 0}, error);
    return simulator::net::localPort(probe);
}

}  // namespace kestrova::testing
