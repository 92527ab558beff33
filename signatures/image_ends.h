#pragma once

// Where a PNG ends (its chunks to IEND) and where a GIF ends (its blocks to the trailer).

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

std::optional<std::uint64_t> PngEnd(FileBytes& bytes);
std::optional<std::uint64_t> GifEnd(FileBytes& bytes);

}  // namespace duzez::signatures
