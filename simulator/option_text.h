// Small text helpers shared by the parsers of command-line options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::simulator::option_text {

std::string trim(const std::string& text);
std::string lower(std::string text);
// Splits at every separator; empty pieces are kept.
std::vector<std::string> split(const std::string& text, char separator);
// Decimal digits only, no sign, at most `max`.
std::optional<std::uint64_t> parseUnsigned(const std::string& text, std::uint64_t max);

}  // namespace kestrova::simulator::option_text
