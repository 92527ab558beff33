#include "signatures/structure_probes.h"

#include "signatures/end_walks.h"
#include "signatures/file_bytes.h"
#include "signatures/jpeg_end.h"
#include "signatures/tiff_end.h"

namespace duzez::signatures {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

std::optional<std::uint64_t> PngEnd(FileBytes& bytes) {
    std::uint64_t at = 8;
    for (int chunks = 0; chunks < 1000000; ++chunks) {
        const auto length = bytes.Big32(at);
        const auto type = bytes.Big32(at + 4);
        if (!length || !type || *length > 0x7FFFFFFF)
            return std::nullopt;
        for (int i = 0; i < 4; ++i) {
            const auto c = static_cast<char>((*type >> (24 - 8 * i)) & 0xFF);
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return std::nullopt;
        }
        at += 12 + std::uint64_t{*length};
        if (at > bytes.Limit())
            return std::nullopt;  // a chunk that runs past the volume
        if (*type == 0x49454E44)
            return at;  // IEND
    }
    return std::nullopt;
}

std::optional<std::uint64_t> SkipSubBlocks(FileBytes& bytes, std::uint64_t at) {
    while (true) {
        const auto size = bytes.At(at);
        if (!size)
            return std::nullopt;
        at += 1 + *size;
        if (*size == 0)
            return at;
    }
}

std::optional<std::uint64_t> GifEnd(FileBytes& bytes) {
    const auto flags = bytes.At(10);
    if (!flags)
        return std::nullopt;
    std::uint64_t at = 13;
    if (*flags & 0x80)
        at += 3ull << ((*flags & 7) + 1);
    while (true) {
        const auto block = bytes.At(at);
        if (!block)
            return std::nullopt;
        if (*block == 0x3B)
            return at + 1;
        if (*block == 0x21) {
            const auto end = SkipSubBlocks(bytes, at + 2);
            if (!end)
                return std::nullopt;
            at = *end;
        } else if (*block == 0x2C) {
            const auto local = bytes.At(at + 9);
            if (!local)
                return std::nullopt;
            at += 10;
            if (*local & 0x80)
                at += 3ull << ((*local & 7) + 1);
            const auto end = SkipSubBlocks(bytes, at + 1);  // after the LZW code size
            if (!end)
                return std::nullopt;
            at = *end;
        } else {
            return std::nullopt;
        }
    }
}

// Top-level boxes from the start; the end of the last box that reads as one.
std::optional<std::uint64_t> IsoMediaEnd(FileBytes& bytes, std::uint64_t limit) {
    std::uint64_t at = 0;
    bool sawMedia = false;
    for (int boxes = 0; boxes < 100000; ++boxes) {
        const auto size32 = bytes.Big32(at);
        const auto type = bytes.Big32(at + 4);
        if (!size32 || !type)
            break;
        bool printable = true;
        for (int i = 0; i < 4; ++i) {
            const auto c = static_cast<unsigned>((*type >> (24 - 8 * i)) & 0xFF);
            printable = printable && c >= 0x20 && c < 0x7F;
        }
        if (!printable)
            break;
        std::uint64_t size = *size32;
        if (size == 1) {
            const auto high = bytes.Big32(at + 8);
            const auto low = bytes.Big32(at + 12);
            if (!high || !low)
                break;
            size = (std::uint64_t{*high} << 32) | *low;
        }
        if (size < 8 || size > limit - at)
            break;  // 0 ("to the end") cannot be checked
        if (*type == 0x6D646174 || *type == 0x6D6F6F76)
            sawMedia = true;  // mdat, moov
        at += size;
        if (at == limit)
            break;
    }
    if (!sawMedia || at == 0)
        return std::nullopt;
    return at;
}

std::optional<std::uint64_t> WalkToEnd(std::int32_t formatId, std::uint64_t start,
                                       std::uint64_t volumeSize, const SectorReader& read) {
    const std::uint64_t room = volumeSize - start;
    const auto bounded = [room](std::uint64_t limit) { return std::min(room, limit); };
    switch (formatId) {
        case 300: {  // JPEG: its scan data is searched for the end marker
            FileBytes bytes(start, bounded(256 * kMiB), read, kSearchFetchBudget);
            return JpegEnd(bytes);
        }
        case 301: {  // PNG
            FileBytes bytes(start, bounded(512 * kMiB), read);
            return PngEnd(bytes);
        }
        case 302: {  // GIF
            FileBytes bytes(start, bounded(256 * kMiB), read);
            return GifEnd(bytes);
        }
        case 303:    // TIFF, NEF, ARW, PEF, DNG
        case 310:    // CR2
        case 312:    // ORF
        case 313: {  // RW2
            FileBytes bytes(start, bounded(1024 * kMiB), read);
            return TiffEnd(bytes);
        }
        case 403:    // AVI
        case 410: {  // WAVE
            FileBytes bytes(start, bounded(12), read);
            const auto size = bytes.Little32(4);
            if (!size || std::uint64_t{*size} + 8 > room)
                return std::nullopt;
            return std::uint64_t{*size} + 8;
        }
        case 400:    // MPEG-4
        case 401:    // QuickTime
        case 402:    // 3GPP
        case 317: {  // HEIF
            const std::uint64_t limit = bounded(64ull * 1024 * kMiB);
            FileBytes bytes(start, limit, read);
            return IsoMediaEnd(bytes, limit);
        }
        default:
            if (const EndWalkEntry* entry = FindEndWalk(formatId)) {
                FileBytes bytes(start, bounded(entry->bound), read, entry->fetchBudget);
                return entry->walk(bytes);
            }
            return std::nullopt;
    }
}

}  // namespace

std::optional<std::uint64_t> FindStructuralEnd(std::int32_t formatId, std::uint64_t start,
                                               std::uint64_t volumeSize, const SectorReader& read) {
    if (start >= volumeSize)
        return std::nullopt;
    const auto end = WalkToEnd(formatId, start, volumeSize, read);
    // Whatever a walk concludes, a file cannot end beyond the volume.
    if (end && *end > volumeSize - start)
        return std::nullopt;
    return end;
}

}  // namespace duzez::signatures
