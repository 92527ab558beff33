#pragma once

// Where a 7z archive ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// The end of the header that the start header points to, once both CRCs match; nullopt
// when that header is larger than a bounded read.
std::optional<std::uint64_t> SevenZipEnd(FileBytes& bytes);

}  // namespace duzez::signatures
