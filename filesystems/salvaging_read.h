#pragma once

// Reads of file data that lose only the sectors that cannot be read, not the whole block.

#include <cstdint>
#include <span>
#include <vector>

#include "filesystems/file_system.h"
#include "filesystems/tree_volume.h"

namespace duzez::filesystems {

// Reads `count` sectors from `first` one at a time; the sectors that fail are zeros and
// come back as ranges.
std::vector<SectorRange> SalvageSectors(TreeVolume& volume, std::span<std::uint8_t> block,
                                        std::uint64_t first, std::uint64_t count);

// One read of `count` sectors; when it fails, the block is salvaged sector by sector.
// The sectors asked for and those that stayed unreadable are added to `damage`.
void ReadSectorsSalvaging(TreeVolume& volume, std::span<std::uint8_t> block, std::uint64_t first,
                          std::uint64_t count, ReadDamage& damage);

}  // namespace duzez::filesystems
