#pragma once

// Names from an analysed volume made safe to create below the destination: a name never
// climbs out of its folder, never holds a separator or control character, and fits the
// 255-byte limit of Linux file systems.

#include <string>
#include <string_view>

namespace duzez::recovery {

constexpr std::size_t kMaxNameBytes = 255;

// One path component: '/', NUL and control characters become '_', "." and ".." and the
// empty name get a leading '_', and a name too long is shortened keeping its extension.
std::string CleanComponent(std::string_view name);

// "name (n).ext" for a clean `name`, shortened in the same way when it would be too long.
std::string NumberedName(const std::string& name, unsigned number);

}  // namespace duzez::recovery
