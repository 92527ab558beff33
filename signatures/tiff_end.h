#pragma once

// Where a TIFF, or a camera RAW photo built on TIFF, ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// The furthest end of what the IFD chain, SubIFDs, Exif and GPS IFDs reference (strips,
// tiles, the JPEG preview, out-of-line values); nullopt without image data, or when image
// data lies beyond the bound.
std::optional<std::uint64_t> TiffEnd(FileBytes& bytes);

}  // namespace duzez::signatures
