#pragma once

// What the photo verdicts of every format share: how a verdict is built, the clock they
// stop by and the image size past which they refuse to look.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "signatures/photo_verdict.h"

namespace duzez::signatures::verdict {

using Clock = std::chrono::steady_clock;
using Bytes = std::span<const std::uint8_t>;

// Larger images are refused before anything is allocated for them: a recovered header can
// claim any size.
inline constexpr std::uint64_t kMaxPixels = 100'000'000;
inline constexpr std::uint64_t kMaxSide = 16384;

inline bool TooLarge(std::uint64_t width, std::uint64_t height) {
    return width > kMaxSide || height > kMaxSide || width * height > kMaxPixels;
}

inline VerdictDetail Make(PhotoVerdict verdict, std::uint64_t goodBytes, std::string reason,
                          std::uint32_t goodRows = 0) {
    VerdictDetail detail;
    detail.verdict = verdict;
    detail.goodBytes = goodBytes;
    detail.goodRows = goodRows;
    detail.reason = std::move(reason);
    return detail;
}

inline VerdictDetail OutOfTime(std::uint64_t at) {
    return Make(PhotoVerdict::Unchecked, at, "took longer than the time allowed");
}

inline std::string Sized(std::uint64_t width, std::uint64_t height) {
    return "too large to check (" + std::to_string(width) + "x" + std::to_string(height) + ")";
}

}  // namespace duzez::signatures::verdict
