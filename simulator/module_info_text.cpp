#include "simulator/module_info_text.h"

#include <cstdio>

namespace kestrova::simulator {

namespace {
constexpr std::size_t kKeySize = 3;
constexpr std::size_t kMaxText = 96;  // the length field holds at most 99
}  // namespace

Bytes moduleInfoText(const ModuleInfoEntries& entries) {
    Bytes out;
    for (const auto& [key, text] : entries) {
        if (key.size() != kKeySize) continue;
        const std::string body = text.substr(0, kMaxText);
        char length[3];
        std::snprintf(length, sizeof length, "%02zu", kKeySize + body.size());
        out.insert(out.end(), length, length + 2);
        out.insert(out.end(), key.begin(), key.end());
        out.insert(out.end(), body.begin(), body.end());
        out.push_back(';');
    }
    return out;
}

}  // namespace kestrova::simulator
