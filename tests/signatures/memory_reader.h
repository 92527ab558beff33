#pragma once

// What the end-walk tests read volumes in memory through: a sector reader over bytes,
// noise to put around the files, and numbers as bytes.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "signatures/probes.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {

// Reads 512-byte sectors of `bytes` (a std::string or a vector of bytes); past the end
// reads as zeros, from past the end nothing. Counts what was asked for.
template <typename Bytes>
signatures::SectorReader MemoryReader(const Bytes& bytes, std::uint64_t* bytesRead = nullptr,
                                      std::uint64_t* sectorsRead = nullptr) {
    return [&bytes, bytesRead, sectorsRead](std::span<std::uint8_t> buffer, std::uint64_t sector,
                                            std::uint64_t count) -> std::uint32_t {
        if (sectorsRead != nullptr)
            *sectorsRead += count;
        if (sector * 512 >= bytes.size() || count * 512 > buffer.size())
            return 0;
        const std::size_t take = std::min<std::size_t>(count * 512, bytes.size() - sector * 512);
        std::fill(buffer.begin(), buffer.end(), 0);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512), take,
                    buffer.begin());
        if (bytesRead != nullptr)
            *bytesRead += take;
        return static_cast<std::uint32_t>(count * 512);
    };
}

inline std::string Noise(std::size_t size, unsigned seed) {
    return RandomBytes(size, seed);
}

// `value` as `width` bytes, least significant first (Le) or most significant first (Be).
inline std::string Le(std::uint64_t value, int width) {
    std::string out;
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}
inline std::string Be(std::uint64_t value, int width) {
    std::string out = Le(value, width);
    std::reverse(out.begin(), out.end());
    return out;
}

// A JPEG marker segment: FF, the marker, its length (the payload's and its own) and the payload.
inline std::string Segment(std::uint8_t marker, const std::string& payload) {
    return std::string{'\xFF', static_cast<char>(marker)} + Be(payload.size() + 2, 2) + payload;
}

}  // namespace duzez::test
