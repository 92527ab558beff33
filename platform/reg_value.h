#pragma once

// A typed value of the per-user store, held as the bytes the type defines (UTF-16LE with
// a terminator for text, little-endian for numbers), as the stored records expect.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace duzez::platform {

enum class RegType : std::uint32_t {
    None = 0,
    String = 1,        // REG_SZ
    ExpandString = 2,  // REG_EXPAND_SZ
    Binary = 3,        // REG_BINARY
    Dword = 4,         // REG_DWORD
    MultiString = 7,   // REG_MULTI_SZ
    Qword = 11,        // REG_QWORD
};

struct RegValue {
    RegType type = RegType::None;
    std::vector<std::uint8_t> data;

    static RegValue FromDword(std::uint32_t value);
    static RegValue FromString(std::string_view utf8);
    static RegValue FromBinary(std::span<const std::uint8_t> bytes);

    // Typed views; nullopt when the type or size does not fit.
    std::optional<std::uint32_t> AsDword() const;
    std::optional<std::string> AsString() const;  // REG_SZ and REG_EXPAND_SZ, up to the first NUL

    bool operator==(const RegValue&) const = default;
};

}  // namespace duzez::platform
