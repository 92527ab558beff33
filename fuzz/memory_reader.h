#pragma once

// Sectors of the fuzz input for the end walks and probes: the last one padded with zeros,
// nothing from past the end, never more than the caller's buffer holds.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "signatures/probes.h"

namespace duzez::fuzz {

inline signatures::SectorReader MemoryReader(std::span<const std::uint8_t> bytes) {
    return [bytes](std::span<std::uint8_t> buffer, std::uint64_t sector,
                   std::uint64_t count) -> std::uint32_t {
        if (sector >= (bytes.size() + 511) / 512 || count * 512 > buffer.size() ||
            count > 0xFFFFFFFFu / 512) {
            return 0;
        }
        const std::uint64_t at = sector * 512;
        std::memset(buffer.data(), 0, static_cast<std::size_t>(count * 512));
        std::memcpy(
            buffer.data(), bytes.data() + at,
            static_cast<std::size_t>(std::min<std::uint64_t>(count * 512, bytes.size() - at)));
        return static_cast<std::uint32_t>(count * 512);
    };
}

}  // namespace duzez::fuzz
