// The module information text through the grammar, against a plain reading
// of the same format: two digits n, a 3-byte key, n - 3 bytes of text and
// ';', entry after entry; the first malformed entry ends the reading and the
// first text of a key wins.
#include "control/module_info_grammar.h"
#include "control/module_info_table.h"
#include "link/bytes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool digit(std::uint8_t byte) { return byte >= '0' && byte <= '9'; }

kestrova::ModuleInfoTable plainReading(const std::uint8_t* data, std::size_t size) {
    kestrova::ModuleInfoTable table;
    std::size_t at = 0;
    while (at + 2 <= size && digit(data[at]) && digit(data[at + 1])) {
        const std::size_t length = std::size_t(data[at] - '0') * 10 + std::size_t(data[at + 1] - '0');
        if (length < 3 || at + 2 + length + 1 > size || data[at + 2 + length] != ';') break;
        const char* entry = reinterpret_cast<const char*>(data + at + 2);
        table.emplace(std::string(entry, 3), std::string(entry + 3, length - 3));
        at += 2 + length + 1;
    }
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrova::Bytes payload(data, data + size);
    if (kestrova::readModuleInfo(payload) != plainReading(data, size)) std::abort();
    return 0;
}
