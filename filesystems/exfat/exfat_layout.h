#pragma once

// The exFAT structures as bytes: the boot region and its checksum, FAT entries, directory
// entry sets and their checksums, names, timestamps and the up-case table. Pure functions;
// every read is bounds-checked and every on-disk number is treated as hostile.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace duzez::filesystems::exfat {

constexpr std::size_t kEntrySize = 32;
// Sectors of one boot region (boot sector, 8 extended, OEM, reserved, checksum); the
// backup region follows it.
constexpr std::uint32_t kBootRegionSectors = 12;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFF;
constexpr std::uint32_t kBadCluster = 0xFFFFFFF7;
// The largest directory the format allows (2^23 entries).
constexpr std::uint64_t kMaxDirectoryBytes = 256ull << 20;
constexpr std::size_t kMaxNameUnits = 255;

namespace EntryTypes {
constexpr std::uint8_t EndOfDirectory = 0x00;
constexpr std::uint8_t InUse = 0x80;
constexpr std::uint8_t AllocationBitmap = 0x81;
constexpr std::uint8_t UpcaseTable = 0x82;
constexpr std::uint8_t VolumeLabel = 0x83;
constexpr std::uint8_t File = 0x85;
constexpr std::uint8_t StreamExtension = 0xC0;
constexpr std::uint8_t FileName = 0xC1;
constexpr std::uint8_t Secondary = 0x40;  // the category bit
}  // namespace EntryTypes

namespace Attributes {
constexpr std::uint16_t Directory = 0x10;
}

// What is wrong with a boot sector, for the log.
enum class BootProblem {
    None,
    TooShort,
    NoSignature,
    NotExFat,
    NotZeroed,
    SectorSize,
    ClusterSize,
    FatCount,
    Layout,
    ClusterCount,
    RootCluster,
    VolumeLength,
    Revision,
    Checksum,
};
const char* BootProblemText(BootProblem problem);

struct BootParameters {
    std::uint64_t partitionOffset = 0;        // 64
    std::uint64_t volumeLength = 0;           // 72, in its own sectors
    std::uint32_t fatOffset = 0;              // 80
    std::uint32_t fatLength = 0;              // 84
    std::uint32_t clusterHeapOffset = 0;      // 88
    std::uint32_t clusterCount = 0;           // 92
    std::uint32_t rootCluster = 0;            // 96
    std::uint32_t serial = 0;                 // 100
    std::uint16_t revision = 0;               // 104
    std::uint16_t volumeFlags = 0;            // 106
    std::uint8_t bytesPerSectorShift = 0;     // 108
    std::uint8_t sectorsPerClusterShift = 0;  // 109
    std::uint8_t fatCount = 0;                // 110
    std::uint8_t percentInUse = 0;            // 112

    std::uint32_t BytesPerSector() const { return 1u << bytesPerSectorShift; }
    std::uint32_t SectorsPerCluster() const { return 1u << sectorsPerClusterShift; }
    std::uint64_t ClusterBytes() const {
        return std::uint64_t{1} << (bytesPerSectorShift + sectorsPerClusterShift);
    }
    // The FAT in use: the second one when there are two and the volume says so.
    std::uint64_t ActiveFatOffset() const {
        return fatOffset + ((fatCount == 2 && (volumeFlags & 1) != 0) ? fatLength : 0);
    }
    std::uint32_t ActiveFat() const { return (fatCount == 2 && (volumeFlags & 1) != 0) ? 1 : 0; }
};

// The fields of a boot sector (at least 512 bytes), checked against each other; nullopt
// with `problem` set when any rule fails.
std::optional<BootParameters> ParseBootSector(std::span<const std::uint8_t> sector,
                                              BootProblem* problem = nullptr);

// The 32-bit checksum of a boot region's first 11 sectors (`region` holds them), leaving
// out the volume flags and percent-in-use bytes, which change without a new checksum.
std::uint32_t BootChecksum(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector);

// Whether a whole boot region (12 sectors) carries its own checksum in every 32-bit word of
// its last sector.
bool BootRegionChecksumOk(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector);

// The clusters of the heap the volume really holds: fewer than the boot sector says when
// the volume (an image, a partition) ends early; 0 when the heap starts beyond it.
std::uint32_t UsableClusters(const BootParameters& boot, std::uint64_t volumeBytes);

// The same rotating checksum over any bytes (up-case table).
std::uint32_t TableChecksum(std::span<const std::uint8_t> bytes);

// The checksum of an entry set (the primary entry and its secondaries), leaving out the
// checksum field itself. `asInUse` computes it as the set was written, before deletion
// cleared the in-use bit of every entry type.
std::uint16_t EntrySetChecksum(std::span<const std::uint8_t> entries, bool asInUse = false);

// A date and time field (FAT layout: date in the high half, time in the low), its 10 ms
// increments (0..199) and its UTC offset byte (bit 7 valid, 7-bit signed quarter hours) to
// FILETIME; UTC when the offset is valid, else as written. 0 for an invalid date or time.
std::uint64_t TimestampToFileTime(std::uint32_t timestamp, std::uint8_t tenMs,
                                  std::uint8_t utcOffset);

// UTF-16 name units to UTF-8: control units and unpaired surrogates become U+FFFD.
std::string NameToUtf8(std::span<const char16_t> units);

// The up-case table, expanded: 0xFFFF n in the stored table stands for n characters that
// map to themselves.
class UpcaseTable {
  public:
    // Nullopt when the stored bytes do not expand to a table (odd length, a run past the
    // 65,536 characters).
    static std::optional<UpcaseTable> Decode(std::span<const std::uint8_t> stored);
    char16_t Map(char16_t unit) const { return unit < map_.size() ? map_[unit] : unit; }
    std::size_t Size() const { return map_.size(); }

  private:
    std::vector<char16_t> map_;
};

// The hash of a name the stream extension keeps: over its up-cased units.
std::uint16_t NameHash(std::span<const char16_t> units, const UpcaseTable* upcase);

// One file or folder's entry set, parsed.
struct FileSet {
    bool inUse = false;
    std::uint8_t secondaryCount = 0;
    std::uint16_t storedChecksum = 0;
    bool checksumOk = false;
    std::uint16_t attributes = 0;
    std::uint64_t created = 0;  // FILETIME
    std::uint64_t modified = 0;
    std::uint64_t accessed = 0;
    bool utcTimes = false;  // the modification time recorded its zone, so all are UTC
    std::uint8_t streamFlags = 0;
    bool noFatChain = false;
    std::uint8_t nameLength = 0;
    std::uint16_t nameHash = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::u16string name;
    // Entries the set takes in its directory, the primary one included: the secondary
    // count when the checksum holds, else the secondaries that really follow.
    std::size_t entryCount = 1;

    bool IsFolder() const { return (attributes & Attributes::Directory) != 0; }
};

// The entry set starting at `entries[0]` (a file entry, in use or deleted); `entries` runs
// to the end of its directory or further. Nullopt when it is no file entry or its stream
// and names do not hold together (no stream right after it, a name length of 0, fewer
// name entries than the name needs, or more than the secondary count holds).
std::optional<FileSet> ParseFileSet(std::span<const std::uint8_t> entries);

// Where a set's data lies on a heap of `clusterCount` clusters: nullopt when its first
// cluster is outside the heap. A length the heap cannot hold (from the first cluster on,
// for a contiguous file) is cut to what it holds and `clipped`; so is one without a first
// cluster, whose bytes are nowhere.
struct DataPlace {
    std::uint32_t firstCluster = 0;
    std::uint64_t size = 0;
    std::uint64_t validSize = 0;  // written bytes; the rest reads as zeros
    bool clipped = false;
};
std::optional<DataPlace> PlaceData(const FileSet& set, std::uint32_t clusterCount,
                                   std::uint64_t clusterBytes);

// A volume label entry's text (up to 11 units).
std::optional<std::string> VolumeLabelText(std::span<const std::uint8_t> entry);

// An allocation bitmap or up-case table entry: first cluster and length.
struct TableEntry {
    std::uint8_t flags = 0;
    std::uint32_t checksum = 0;  // up-case table only
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
};
TableEntry ReadTableEntry(std::span<const std::uint8_t> entry);

// The clusters an allocation bitmap (bit n, lowest first, for cluster n + 2) leaves free
// among the first `clusterCount`; nullopt when the bitmap is shorter than that.
std::optional<std::uint64_t> FreeClustersInBitmap(std::span<const std::uint8_t> bitmap,
                                                  std::uint64_t clusterCount);

// FAT entry `n` of the table bytes; nullopt beyond them.
std::optional<std::uint32_t> FatEntry(std::span<const std::uint8_t> fat, std::uint32_t n);

}  // namespace duzez::filesystems::exfat
