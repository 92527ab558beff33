#pragma once

// Where an Ogg file (Vorbis, Opus, FLAC, Theora) ends.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// Past the page that ends the last of the logical streams begun in the file, every page
// on the way checked by its CRC and its stream's page sequence; nullopt at a broken page.
std::optional<std::uint64_t> OggEnd(FileBytes& bytes);

}  // namespace duzez::signatures
