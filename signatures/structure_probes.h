#pragma once

// The true end of a carved photo, video or sound file, found by walking the file's own
// structure on the volume: JPEG markers to the end mark, PNG chunks to IEND, GIF blocks to
// the trailer, RIFF and ISO base media box sizes, BMP's size field, and for TIFF-based
// camera RAW the furthest extent its IFDs reference. Each walk has a bound
// and never trusts a length it cannot check against it.

#include <cstdint>
#include <optional>

#include "signatures/probes.h"

namespace duzez::signatures {

// The file's size in bytes from its start, or nullopt when the structure is broken or
// the format is not one of these.
std::optional<std::uint64_t> FindStructuralEnd(std::int32_t formatId, std::uint64_t start,
                                               std::uint64_t volumeSize, const SectorReader& read);

}  // namespace duzez::signatures
