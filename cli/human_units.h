#pragma once

// Sizes and durations as a person reads them, and sizes as a person types them. One rule
// everywhere: powers of ten with kB, MB, GB and TB, as drive makers label their drives.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace duzez::cli {

// "512 bytes", "1.5 kB", "21.4 MB", "137 GB": three significant digits at most.
std::string HumanSize(std::uint64_t bytes);

// "1,048,576": exact byte counts a person can still read.
std::string GroupedDigits(std::uint64_t value);

// "4096", "10MB", "10 MB", "1.5GB", "64k", "2MiB": a size with an optional unit (B, k/kB,
// M/MB, G/GB, T/TB in powers of ten; KiB, MiB, GiB, TiB in powers of two; case
// ignored). Nothing for text that is no size or does not fit 64 bits.
std::optional<std::uint64_t> ParseSize(std::string_view text);

// "00:42", "12:05", "1:02:13" (hours only when there are any).
std::string ClockText(double seconds);

}  // namespace duzez::cli
