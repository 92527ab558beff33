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
    if (count == 0 || volume.ReadVolumeSectors(block, first, count) != 0)
        return;
    for (const SectorRange& range : SalvageSectors(volume, block, first, count))
        damage.unreadableSectors += range.sectorCount;
}

}  // namespace duzez::filesystems
