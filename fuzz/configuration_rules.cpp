// The configuration file's bytes through the rule reader: any text gives a
// result (never a crash, a hang or unbounded recursion), the same result
// twice, and nothing read from a file over the size bound.
#include "production/configuration.h"
#include "production/job_queue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrova;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CoordinateRules horizontal;
    CoordinateRules vertical;
    const bool loaded = readRules(text, horizontal, vertical);
    if (size > kConfigurationMaxBytes && loaded) std::abort();

    CoordinateRules horizontalAgain;
    CoordinateRules verticalAgain;
    if (readRules(text, horizontalAgain, verticalAgain) != loaded) std::abort();
    if (horizontalAgain != horizontal || verticalAgain != vertical) std::abort();
    return 0;
}
