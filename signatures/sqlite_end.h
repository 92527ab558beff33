#pragma once

// Where an SQLite database ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// Page size times the page count of the 100-byte header, when that count is known to be
// current (its version-valid-for number equals the change counter).
std::optional<std::uint64_t> SqliteEnd(FileBytes& bytes);

}  // namespace duzez::signatures
