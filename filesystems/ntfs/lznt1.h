#pragma once

// LZNT1, the compression of NTFS compressed files: a compression unit's stored clusters
// hold 4 KiB chunks, each stored plainly or as LZ77 tokens whose length and distance
// fields share 16 bits by how far into the chunk they stand.

#include <cstdint>
#include <optional>
#include <span>

namespace duzez::filesystems::ntfs {

// Decompresses `in` into `out`; the bytes produced, or nullopt when the data is not
// valid LZNT1 (a token that reaches before the chunk, a chunk cut short). Output beyond
// `out` is never written.
std::optional<std::size_t> DecompressLznt1(std::span<const std::uint8_t> in,
                                           std::span<std::uint8_t> out);

}  // namespace duzez::filesystems::ntfs
