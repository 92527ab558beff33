#include "signatures/structure_probes.h"

#include "signatures/end_walks.h"
#include "signatures/file_bytes.h"

namespace duzez::signatures {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

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
