#pragma once

// The verdict on an ISO base media file (HEIC, AVIF, CR3, MP4, MOV, 3GP) from its box
// structure: what a player or viewer needs first is there and every box fits the file.

#include <span>

#include "signatures/photo_verdict.h"

namespace duzez::signatures {

// Intact when the top-level boxes, from `ftyp` on, fill the file exactly and hold the
// index (`moov` for a movie, `meta` for a HEIF image) and the data; truncated when a box
// runs past the end or the index is missing (a camera writes it last); damaged when a box
// header is not one.
VerdictDetail JudgeIsoMedia(std::span<const std::uint8_t> file);

}  // namespace duzez::signatures
