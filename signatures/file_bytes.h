#pragma once

// What the end-of-file walks of carved files read through.

#include <cstdint>
#include <optional>
#include <vector>

#include "signatures/probes.h"

namespace duzez::signatures {

// The volume's bytes from a file's start, read a window of sectors at a time.
class FileBytes {
  public:
    // `fetchBudget` bounds the bytes read in all, for walks that search byte by byte (for an
    // end marker, a descriptor) through what may be empty space far beyond a broken file.
    FileBytes(std::uint64_t start, std::uint64_t limit, const SectorReader& read,
              std::uint64_t fetchBudget = ~std::uint64_t{0})
        : start_(start), limit_(limit), fetchBudget_(fetchBudget), read_(read) {}

    // The byte at `offset` from the file's start; nullopt beyond the limit, past the fetch
    // budget or on a read error.
    std::optional<std::uint8_t> At(std::uint64_t offset) {
        if (offset >= limit_)
            return std::nullopt;
        const std::uint64_t absolute = start_ + offset;
        if (absolute < windowStart_ || absolute >= windowStart_ + window_.size()) {
            if (fetchBudget_ < kWindow) {
                window_.clear();
                return std::nullopt;
            }
            fetchBudget_ -= kWindow;
            windowStart_ = absolute / 512 * 512;
            window_.resize(kWindow);
            if (read_(window_, windowStart_ / 512, kWindow / 512) == 0) {
                window_.clear();
                return std::nullopt;
            }
        }
        return window_[absolute - windowStart_];
    }
    std::optional<std::uint32_t> Big32(std::uint64_t offset) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto b = At(offset + static_cast<std::uint64_t>(i));
            if (!b)
                return std::nullopt;
            value = (value << 8) | *b;
        }
        return value;
    }
    std::optional<std::uint16_t> Big16(std::uint64_t offset) {
        const auto hi = At(offset);
        const auto lo = At(offset + 1);
        if (!hi || !lo)
            return std::nullopt;
        return static_cast<std::uint16_t>((*hi << 8) | *lo);
    }
    std::uint64_t Limit() const { return limit_; }
    std::optional<std::uint16_t> Little16(std::uint64_t offset) {
        const auto lo = At(offset);
        const auto hi = offset < limit_ ? At(offset + 1) : std::nullopt;
        if (!lo || !hi)
            return std::nullopt;
        return static_cast<std::uint16_t>((*hi << 8) | *lo);
    }
    std::optional<std::uint64_t> Little64(std::uint64_t offset) {
        if (offset >= limit_)
            return std::nullopt;
        const auto lo = Little32(offset);
        const auto hi = Little32(offset + 4);
        if (!lo || !hi)
            return std::nullopt;
        return (std::uint64_t{*hi} << 32) | *lo;
    }
    std::optional<std::uint32_t> Little32(std::uint64_t offset) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            const auto b = At(offset + static_cast<std::uint64_t>(i));
            if (!b)
                return std::nullopt;
            value = (value << 8) | *b;
        }
        return value;
    }

  private:
    static constexpr std::size_t kWindow = 65536;
    std::uint64_t start_;
    std::uint64_t limit_;
    std::uint64_t fetchBudget_;
    const SectorReader& read_;
    std::vector<std::uint8_t> window_;
    std::uint64_t windowStart_ = 0;
};

}  // namespace duzez::signatures
