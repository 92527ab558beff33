#pragma once

// The OEM code page of FAT short names and labels (CP437), to UTF-8.

#include <cstdint>
#include <span>
#include <string>

namespace duzez::platform {

// Bytes up to the first NUL; through iconv, with a built-in table when iconv lacks CP437.
std::string Cp437ToUtf8(std::span<const std::uint8_t> bytes);

}  // namespace duzez::platform
