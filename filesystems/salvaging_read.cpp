#include "filesystems/salvaging_read.h"

#include <algorithm>

namespace duzez::filesystems {
namespace {

constexpr std::size_t kSector = 512;

}  // namespace

std::vector<SectorRange> SalvageSectors(TreeVolume& volume, std::span<std::uint8_t> block,
                                        std::uint64_t first, std::uint64_t count) {
    std::vector<SectorRange> bad;
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto sector = block.subspan(static_cast<std::size_t>(i) * kSector, kSector);
        if (volume.ReadVolumeSectors(sector, first + i, 1) != 0)
            continue;
        std::fill(sector.begin(), sector.end(), std::uint8_t{0});
        if (!bad.empty() && bad.back().firstSector + bad.back().sectorCount == first + i) {
            ++bad.back().sectorCount;
        } else {
            bad.push_back({first + i, 1});
        }
    }
    return bad;
}

void ReadSectorsSalvaging(TreeVolume& volume, std::span<std::uint8_t> block, std::uint64_t first,
                          std::uint64_t count, ReadDamage& damage) {
    damage.sectorsRead += count;
    if (count == 0)
        return;
    // A short count is a read that stopped at a bad sector or at the end of the device: the
    // zeros after it are not data. What follows is tried sector by sector.
    const std::uint64_t got = volume.ReadVolumeSectors(block, first, count) / kSector;
    if (got >= count)
        return;
    const auto rest = block.subspan(static_cast<std::size_t>(got) * kSector);
    for (const SectorRange& range : SalvageSectors(volume, rest, first + got, count - got))
        damage.unreadableSectors += range.sectorCount;
}

}  // namespace duzez::filesystems
