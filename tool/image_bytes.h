// Bounded little-endian reading of a Windows image's bytes, in a file or as
// loaded: a read that would leave the bytes gives nothing, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kestrova::tool {

class ImageBytes {
public:
    // Names longer than `longestName` are nothing the tool looks for.
    ImageBytes(const std::uint8_t* bytes, std::size_t size, std::size_t longestName)
        : bytes_(bytes), size_(bytes == nullptr ? 0 : size), longestName_(longestName) {}

    bool has(std::size_t at, std::size_t width) const { return at <= size_ && size_ - at >= width; }
    std::optional<std::uint64_t> number(std::size_t at, std::size_t width) const {
        if (!has(at, width)) return std::nullopt;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value |= static_cast<std::uint64_t>(bytes_[at + i]) << (8 * i);
        return value;
    }
    std::optional<std::uint32_t> u16(std::size_t at) const { return narrow(number(at, 2)); }
    std::optional<std::uint32_t> u32(std::size_t at) const { return narrow(number(at, 4)); }
    // The NUL-ended name at `at`.
    std::optional<std::string> name(std::size_t at) const {
        std::string out;
        for (std::size_t i = at; i < size_ && out.size() <= longestName_; ++i) {
            if (bytes_[i] == 0) return out;
            out.push_back(static_cast<char>(bytes_[i]));
        }
        return std::nullopt;
    }

private:
    static std::optional<std::uint32_t> narrow(std::optional<std::uint64_t> value) {
        if (!value) return std::nullopt;
        return static_cast<std::uint32_t>(*value);
    }

    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t longestName_;
};

}  // namespace kestrova::tool
