#pragma once

// Where a JPEG ends: its markers to the first end mark, then what the file itself declares
// after it (the further images of a Multi-Picture file, a motion photo's video).

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// The end of the first image, extended only by the images its MPF index lists and the
// trailing media its XMP declares, each checked where it is said to lie; nullopt when the
// markers break or run past the bound.
std::optional<std::uint64_t> JpegEnd(FileBytes& bytes);

}  // namespace duzez::signatures
