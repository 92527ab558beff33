#pragma once

// Where a RAR archive ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// RAR 4 and RAR 5: the blocks walked by their header and data sizes, each header's CRC
// checked, to the end-of-archive block; nullopt without one, or when the headers are
// encrypted.
std::optional<std::uint64_t> RarEnd(FileBytes& bytes);

}  // namespace duzez::signatures
