#include "tool/shown_text.h"

#include "simulator/frame_trace.h"

namespace kestrova::tool {

std::string shownText(std::string_view bytes) {
    const std::string_view head = bytes.substr(0, kShownBytes);
    std::string out = simulator::printable(Bytes(head.begin(), head.end()));
    if (bytes.size() > head.size()) {
        out += "... (" + std::to_string(bytes.size()) + " bytes, the first " + std::to_string(head.size()) + " shown)";
    }
    return out;
}

std::string shownText(const Bytes& bytes) {
    return shownText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace kestrova::tool
