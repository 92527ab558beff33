#pragma once

// The partition tables of a disk, walked over a sector reader so that it can run on a
// disk, an image or memory: the classic MBR with its chain of extended partitions, or the
// GUID partition table a protective MBR points to. The walk ends on every input: each
// table sector is read at most once, and at most kMaxTables are read.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
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
    std::uint64_t startSector = 0;  // on the walked volume, in 512-byte sectors
    std::uint64_t sectorCount = 0;  // 512-byte sectors
    std::uint8_t type = 0;          // the MBR type; 0 for a GPT partition
    std::uint64_t tableSector = 0;  // the table that listed it
    // GPT: the type's name ("Microsoft basic data", or the GUID), the partition's own name,
    // and whether its entry lies outside the disk or the usable area (shown, never read).
    std::string typeName;
    std::string name;
    bool damaged = false;
};

enum class TableKind { None, Mbr, Gpt };

struct WalkResult {
    std::vector<FoundPartition> partitions;  // in the order the tables list them
    bool oversizedEntry = false;             // an entry larger than the volume
    bool cutShort = false;                   // a cycle or the table limit ended the walk
    TableKind kind = TableKind::None;
    // GPT: the primary header or its array was damaged and the backup copy was read, or
    // both were damaged and only the MBR's other entries are left.
    bool gptFromBackup = false;
    bool gptUnreadable = false;
    std::uint32_t logicalSectorSize = 512;
};

using SectorReader = std::function<bool(std::uint64_t sector, std::span<std::uint8_t> buffer)>;

constexpr std::size_t kMaxTables = 1024;

// Depth first, as the tables nest: an extended entry's chain is walked before the next
// entry of the same table. A protective MBR (an entry of type 0xEE, hybrid or not) leads
// to the GUID partition table; `logicalSectorSize` is the disk's, or 0 when unknown.
WalkResult WalkPartitionTables(const SectorReader& read, std::uint64_t totalSectors,
                               std::uint32_t logicalSectorSize = 0);

}  // namespace duzez::devices
