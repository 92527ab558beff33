#pragma once

// Little-endian loads and stores for on-disk and stored records. Every access is
// bounds-checked by the caller through the span size; nothing is ever cast over a buffer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace duzez::platform {

template <typename T>
std::optional<T> ReadLe(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        return std::nullopt;
    }
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value |= static_cast<T>(static_cast<T>(bytes[offset + i]) << (8 * i));
    }
    return value;
}

template <typename T>
bool WriteLe(std::span<std::uint8_t> bytes, std::size_t offset, T value) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        return false;
    }
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return true;
}

}  // namespace duzez::platform
