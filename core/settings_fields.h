#pragma once

// The 32-bit fields of the settings record with their defaults, in record order. The
// defaults are made from this table, and `settings show` decodes the record with it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace duzez::core {

struct SettingsField {
    enum class Kind { Flag, Unsigned, Signed, Reserved };
    std::string_view name;
    std::size_t offset;
    Kind kind;
    std::uint32_t defaultValue;
};

std::span<const SettingsField> SettingsFields();

}  // namespace duzez::core
