#pragma once

// The FAT structures as bytes: boot parameters, table entries, directory entries and
// their names and times. Pure functions; every read is bounds-checked.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace duzez::filesystems::fat {

constexpr std::size_t kEntrySize = 32;

struct BootParameters {
    std::uint16_t bytesPerSector = 0;    // 0x0B
    std::uint8_t sectorsPerCluster = 0;  // 0x0D
    std::uint16_t reservedSectors = 0;   // 0x0E
    std::uint8_t fatCount = 0;           // 0x10
    std::uint16_t rootEntries = 0;       // 0x11
    std::uint16_t smallSectors = 0;      // 0x13
    std::uint16_t sectorsPerFat16 = 0;   // 0x16
    std::uint32_t largeSectors = 0;      // 0x20
    std::uint32_t sectorsPerFat32 = 0;   // 0x24
    std::uint32_t rootCluster = 0;       // 0x2C (FAT32)
};

std::optional<BootParameters> ReadBootParameters(std::span<const std::uint8_t> boot);

enum class Variant { Fat12, Fat16, Fat32 };

// The first FAT copy in memory; entries beyond it read as end of chain.
class FatTable {
  public:
    FatTable(Variant variant, std::vector<std::uint8_t> bytes)
        : variant_(variant), bytes_(std::move(bytes)) {}
    // The entry of cluster n; nullopt beyond the table.
    std::optional<std::uint32_t> Entry(std::uint32_t n) const;
    bool IsEndOfChain(std::uint32_t value) const;
    std::uint32_t EntryCount() const;

  private:
    Variant variant_;
    std::vector<std::uint8_t> bytes_;
};

// The data clusters the boot parameters give a volume of `variant`: its sectors after the
// reserved ones, the FATs and the root directory, in whole clusters. Nullopt when the
// fields leave no data area or give more clusters than a FAT can number.
std::optional<std::uint32_t> DataClusterCount(const BootParameters& boot, Variant variant);

// The data clusters (2 to clusterCount + 1) whose entry is 0: free. Nullopt when the table
// holds fewer entries than that, so that a FAT cut short is not taken for free space.
std::optional<std::uint32_t> FreeClusterCount(const FatTable& table, std::uint32_t clusterCount);

// One 32-byte directory entry.
bool IsLongNameEntry(std::span<const std::uint8_t> entry);
bool IsValidShortName(std::span<const std::uint8_t> entry);
bool IsValidEntry(std::span<const std::uint8_t> entry);
bool IsDeletedEntry(std::span<const std::uint8_t> entry);
bool IsDotEntry(std::span<const std::uint8_t> entry);
std::uint32_t FirstCluster(std::span<const std::uint8_t> entry);

// Whether a cluster the sector phase met reads as a directory as a whole, not only at its
// first entry: every entry before the end mark valid, clusters and sizes inside the volume,
// dates real, and "." followed by "..". Photo data that happens to look like one entry
// must not become a folder.
bool PlausibleDirectory(std::span<const std::uint8_t> cluster, std::uint64_t lastCluster,
                        std::uint64_t volumeBytes);

// The checksum of an 8.3 name that its long-name entries carry.
std::uint8_t ShortNameChecksum(std::span<const std::uint8_t> entry);

// The name of the entry at `index` of `directory`: its long name from the long-name
// entries before it when they belong to it whole, else its 8.3 name ('_' for a deleted
// first character).
std::string BuildName(std::span<const std::uint8_t> directory, std::size_t index);

// FAT date and time to FILETIME, without time zone; 0 for an invalid date or time.
std::uint64_t FatTimeToFileTime(std::uint16_t date, std::uint16_t time);

}  // namespace duzez::filesystems::fat
