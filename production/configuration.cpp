#include "production/configuration.h"

#include "platform/platform_calls.h"
#include "platform/wide_string.h"
#include "production/xml_nesting.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

namespace kestrova {

#ifdef _WIN32
const char* const kConfigurationPath = "spool\\drivers\\W32X86\\3\\KestrovaLM.cfg";
#else
const char* const kConfigurationPath = "spool/drivers/W32X86/3/KestrovaLM.cfg";
#endif

namespace {

namespace pt = boost::property_tree;

bool isSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Optional whitespace, an optional sign, digits within int32, optional whitespace.
bool readInteger(const std::wstring& text, std::int32_t& value) {
    std::size_t at = 0;
    const std::size_t size = text.size();
    while (at < size && isSpace(text[at])) ++at;
    bool negative = false;
    if (at < size && (text[at] == L'+' || text[at] == L'-')) negative = text[at++] == L'-';
    const std::size_t digits = at;
    std::int64_t magnitude = 0;
    while (at < size && text[at] >= L'0' && text[at] <= L'9') {
        magnitude = magnitude * 10 + (text[at] - L'0');
        if (magnitude > std::int64_t{INT32_MAX} + 1) return false;
        ++at;
    }
    if (at == digits) return false;
    while (at < size && isSpace(text[at])) ++at;
    if (at != size) return false;
    if (!negative && magnitude > INT32_MAX) return false;
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

bool readAttribute(const pt::wptree& rule, const wchar_t* path, std::int32_t& value) {
    const auto attribute = rule.get_child_optional(pt::wptree::path_type(path, L'.'));
    return attribute && readInteger(attribute->data(), value);
}

bool readDirection(const pt::wptree& tree, const wchar_t* path, CoordinateRules& rules) {
    const auto container = tree.get_child_optional(pt::wptree::path_type(path, L'.'));
    if (!container) return false;
    for (const auto& child : *container) {
        std::int32_t value = 0;
        std::int32_t replaceWith = 0;
        if (!readAttribute(child.second, L"<xmlattr>.value", value)) return false;
        if (!readAttribute(child.second, L"<xmlattr>.replace_with", replaceWith)) return false;
        rules.emplace(value, replaceWith);  // keeps an earlier rule for the same value
    }
    return true;
}

// The whole file, or false when it cannot be opened or read or is too large.
bool readFile(const char* path, std::string& bytes) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) return false;
    char buffer[16 * 1024];
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, got);
        if (bytes.size() > kConfigurationMaxBytes) return false;
        if (got < sizeof buffer) return std::ferror(file.get()) == 0;
    }
}

}  // namespace

bool readRules(std::string_view bytes, CoordinateRules& horizontal, CoordinateRules& vertical) {
    if (bytes.size() > kConfigurationMaxBytes || !xmlNestingWithin(bytes, kConfigurationMaxDepth)) return false;
    // Widened byte by byte: a wide file stream in the "C" locale would
    // refuse the bytes above 0x7F.
    std::wstring text;
    text.reserve(bytes.size());
    for (const char byte : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    std::wistringstream stream(text);
    pt::wptree tree;
    try {
        pt::read_xml(stream, tree, pt::xml_parser::no_comments | pt::xml_parser::trim_whitespace);
    } catch (const pt::ptree_error&) {
        return false;
    }
    return readDirection(tree, L"KestrovaLM.replace-coordinates.horizontal", horizontal) &&
           readDirection(tree, L"KestrovaLM.replace-coordinates.vertical", vertical);
}

CoordinateRuleSet readConfiguration() {
    CoordinateRuleSet rules;
    std::string bytes;
    rules.read = readFile(kConfigurationPath, bytes) && readRules(bytes, rules.horizontal, rules.vertical);
    return rules;
}

void reportConfigurationNotFound() {
    static constexpr WideText kNotFound("KestrovaLM.cfg not found\n");
    OutputDebugStringW(kNotFound.text);
}

void JobQueue::loadRules() {
    CoordinateRuleSet rules = readConfiguration();
    if (!rules.read) reportConfigurationNotFound();
    setRules(std::move(rules));
}

void JobQueue::setRules(CoordinateRuleSet&& rules) noexcept {
    horizontalRules.swap(rules.horizontal);
    verticalRules.swap(rules.vertical);
}

}  // namespace kestrova
