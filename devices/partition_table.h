#pragma once

// The classic MBR partition table and the chain of extended partitions, walked over a
// sector reader so that it can run on a disk, an image or memory. The walk ends on every
// input: each table sector is read at most once, and at most kMaxTables are read.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace duzez::devices {

struct MbrEntry {
    std::uint8_t type = 0;          // byte 4
    std::uint32_t firstSector = 0;  // u32 at byte 8, relative
    std::uint32_t sectorCount = 0;  // u32 at byte 12
};

// The four entries at byte 446, or nullopt when the sector lacks the 0xAA55 signature.
std::optional<std::array<MbrEntry, 4>> ParseMbr(std::span<const std::uint8_t> sector);

bool IsExtendedType(std::uint8_t type);

struct FoundPartition {
    std::uint64_t startSector = 0;  // on the walked volume
    std::uint32_t sectorCount = 0;
    std::uint8_t type = 0;
    std::uint64_t tableSector = 0;  // the table that listed it
};

struct WalkResult {
    std::vector<FoundPartition> partitions;  // in the order the tables list them
    bool oversizedEntry = false;             // an entry larger than the volume
    bool cutShort = false;                   // a cycle or the table limit ended the walk
};

using SectorReader = std::function<bool(std::uint64_t sector, std::span<std::uint8_t> buffer)>;

constexpr std::size_t kMaxTables = 1024;

// Depth first, as the tables nest: an extended entry's chain is walked before the next
// entry of the same table.
WalkResult WalkPartitionTables(const SectorReader& read, std::uint64_t totalSectors);

}  // namespace duzez::devices
