#pragma once

// Where an MP3 file that starts with an ID3v2 tag ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// Past the ID3v2 tag, the chain of MPEG audio frames of one version, layer and sample rate,
// and an APEv2 and/or ID3v1 tag right after it; nullopt for a chain shorter than 8 frames,
// a free-format stream, or a frame that runs past the bound.
std::optional<std::uint64_t> Mp3End(FileBytes& bytes);

}  // namespace duzez::signatures
