#include "filesystems/ntfs/lznt1.h"

#include <algorithm>
#include <cstring>

namespace duzez::filesystems::ntfs {
namespace {

constexpr std::size_t kChunkBytes = 4096;

}  // namespace

std::optional<std::size_t> DecompressLznt1(std::span<const std::uint8_t> in,
                                           std::span<std::uint8_t> out) {
    std::size_t at = 0;
    std::size_t produced = 0;
    while (at + 2 <= in.size() && produced < out.size()) {
        const unsigned header = in[at] | (in[at + 1] << 8);
        at += 2;
        if (header == 0)
            break;  // the end of the compressed data
        const std::size_t size = (header & 0x0FFF) + 1;
        if (size > in.size() - at)
            return std::nullopt;
        const std::size_t chunkStart = produced;
        const std::size_t chunkEnd = std::min(out.size(), chunkStart + kChunkBytes);
        const std::size_t end = at + size;
        if ((header & 0x8000) == 0) {
            const std::size_t take = std::min(size, chunkEnd - produced);
            std::memcpy(out.data() + produced, in.data() + at, take);
            produced += take;
            at = end;
            continue;
        }
        while (at < end && produced < chunkEnd) {
            const std::uint8_t flags = in[at++];
            for (int bit = 0; bit < 8 && at < end && produced < chunkEnd; ++bit) {
                if (((flags >> bit) & 1) == 0) {
                    out[produced++] = in[at++];
                    continue;
                }
                if (end - at < 2)
                    return std::nullopt;
                const unsigned token = in[at] | (in[at + 1] << 8);
                at += 2;
                // The further into the chunk, the more bits the distance needs.
                unsigned lengthMask = 0x0FFF;
                unsigned distanceShift = 12;
                for (std::size_t i = produced - chunkStart - 1; i >= 0x10 && i < kChunkBytes;
                     i >>= 1) {
                    lengthMask >>= 1;
                    --distanceShift;
                }
                const std::size_t length = (token & lengthMask) + 3;
                const std::size_t distance = (token >> distanceShift) + 1;
                if (distance > produced - chunkStart)
                    return std::nullopt;
                // Overlapping copies repeat what was just written, byte by byte.
                for (std::size_t i = 0; i < length && produced < chunkEnd; ++i, ++produced)
                    out[produced] = out[produced - distance];
            }
        }
        at = end;
        // A chunk stands for 4 KiB; one that gave less is followed by zeros.
        if (at + 2 <= in.size() && (in[at] | (in[at + 1] << 8)) != 0 && produced < chunkEnd) {
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(produced),
                      out.begin() + static_cast<std::ptrdiff_t>(chunkEnd), std::uint8_t{0});
            produced = chunkEnd;
        }
    }
    return produced;
}

}  // namespace duzez::filesystems::ntfs
