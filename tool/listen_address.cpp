#include "tool/listen_address.h"

#include <cstddef>

namespace kestrova::tool {

namespace {

// Four dotted decimal numbers up to 255; the first in `first`.
bool dottedQuad(const std::string& text, int& first) {
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        const std::size_t start = at;
        int value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) value = value * 10 + (text[at++] - '0');
        if (at == start || value > 255) return false;
        if (part == 0) first = value;
    }
    return at == text.size();
}

}  // namespace

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "::1" || host == "[::1]") return true;
    int first = -1;
    return dottedQuad(host, first) && first == 127;
}

bool checkListenAddress(const std::string& option, const std::string& host, bool allowRemote,
                        const std::string& exposure, std::string& error, std::string& warning) {
    if (isLoopbackHost(host)) return true;
    if (!allowRemote) {
        error = option + ": " + host + " is not a loopback address: anyone who reaches this computer could " +
                exposure + ". Listen on 127.0.0.1 (or localhost, another 127.x.y.z), or add --allow-remote to "
                "listen there all the same";
        return false;
    }
    warning = "warning: " + option + " listens on " + host + " (--allow-remote): anyone who reaches it can " +
              exposure + ", unasked and unchecked";
    return true;
}

}  // namespace kestrova::tool
