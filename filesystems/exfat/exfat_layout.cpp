#include "filesystems/exfat/exfat_layout.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "filesystems/fat/fat_layout.h"
#include "platform/byte_order.h"
#include "platform/text_encoding.h"

namespace duzez::filesystems::exfat {
namespace {

using platform::ReadLe;

constexpr std::uint8_t kDeletedFile = EntryTypes::File & ~EntryTypes::InUse;
constexpr std::uint64_t kTicksPerSecond = 10000000;

bool IsSecondary(std::uint8_t type, bool inUse) {
    return (type & EntryTypes::Secondary) != 0 && ((type & EntryTypes::InUse) != 0) == inUse;
}

std::uint8_t TypeAs(std::uint8_t inUseType, bool inUse) {
    return inUse ? inUseType : static_cast<std::uint8_t>(inUseType & ~EntryTypes::InUse);
}

}  // namespace

const char* BootProblemText(BootProblem problem) {
    switch (problem) {
        case BootProblem::None:
            return "none";
        case BootProblem::TooShort:
            return "sector unreadable or too short";
        case BootProblem::NoSignature:
            return "no 0x55AA signature";
        case BootProblem::NotExFat:
            return "no EXFAT name";
        case BootProblem::NotZeroed:
            return "bytes 11-63 not zero";
        case BootProblem::SectorSize:
            return "bytes per sector out of range";
        case BootProblem::ClusterSize:
            return "cluster size out of range";
        case BootProblem::FatCount:
            return "number of FATs not 1 or 2";
        case BootProblem::Layout:
            return "FAT or cluster heap misplaced";
        case BootProblem::ClusterCount:
            return "cluster count does not fit the volume";
        case BootProblem::RootCluster:
            return "root directory cluster out of range";
        case BootProblem::VolumeLength:
            return "volume length out of range";
        case BootProblem::Revision:
            return "unknown revision";
        case BootProblem::Checksum:
            return "boot region checksum mismatch";
    }
    return "unknown";
}

std::optional<BootParameters> ParseBootSector(std::span<const std::uint8_t> sector,
                                              BootProblem* problem) {
    const auto fail = [problem](BootProblem what) {
        if (problem != nullptr)
            *problem = what;
        return std::nullopt;
    };
    if (sector.size() < 512)
        return fail(BootProblem::TooShort);
    if (sector[510] != 0x55 || sector[511] != 0xAA)
        return fail(BootProblem::NoSignature);
    if (std::memcmp(sector.data() + 3, "EXFAT   ", 8) != 0)
        return fail(BootProblem::NotExFat);
    // Where FAT keeps its parameter block: zero, so that no FAT driver mounts the volume.
    if (std::any_of(sector.begin() + 11, sector.begin() + 64, [](std::uint8_t b) { return b; }))
        return fail(BootProblem::NotZeroed);
    BootParameters p;
    p.partitionOffset = *ReadLe<std::uint64_t>(sector, 64);
    p.volumeLength = *ReadLe<std::uint64_t>(sector, 72);
    p.fatOffset = *ReadLe<std::uint32_t>(sector, 80);
    p.fatLength = *ReadLe<std::uint32_t>(sector, 84);
    p.clusterHeapOffset = *ReadLe<std::uint32_t>(sector, 88);
    p.clusterCount = *ReadLe<std::uint32_t>(sector, 92);
    p.rootCluster = *ReadLe<std::uint32_t>(sector, 96);
    p.serial = *ReadLe<std::uint32_t>(sector, 100);
    p.revision = *ReadLe<std::uint16_t>(sector, 104);
    p.volumeFlags = *ReadLe<std::uint16_t>(sector, 106);
    p.bytesPerSectorShift = sector[108];
    p.sectorsPerClusterShift = sector[109];
    p.fatCount = sector[110];
    p.percentInUse = sector[112];

    if (p.bytesPerSectorShift < 9 || p.bytesPerSectorShift > 12)
        return fail(BootProblem::SectorSize);
    // Clusters of at most 32 MiB.
    if (p.sectorsPerClusterShift > 25 - p.bytesPerSectorShift)
        return fail(BootProblem::ClusterSize);
    if (p.fatCount != 1 && p.fatCount != 2)
        return fail(BootProblem::FatCount);
    if ((p.revision >> 8) != 1)
        return fail(BootProblem::Revision);
    // At least 1 MiB, and a byte count that fits 64 bits.
    if (p.volumeLength < ((1u << 20) >> p.bytesPerSectorShift) ||
        p.volumeLength > (~std::uint64_t{0} >> p.bytesPerSectorShift)) {
        return fail(BootProblem::VolumeLength);
    }
    const std::uint64_t fatsEnd =
        std::uint64_t{p.fatOffset} + std::uint64_t{p.fatLength} * p.fatCount;
    const std::uint64_t fatBytesNeeded = (std::uint64_t{p.clusterCount} + 2) * 4;
    if (p.fatOffset < 2 * kBootRegionSectors || p.fatLength == 0 ||
        (std::uint64_t{p.fatLength} << p.bytesPerSectorShift) < fatBytesNeeded ||
        fatsEnd > p.clusterHeapOffset || p.clusterHeapOffset > p.volumeLength) {
        return fail(BootProblem::Layout);
    }
    const std::uint64_t heapClusters =
        (p.volumeLength - p.clusterHeapOffset) >> p.sectorsPerClusterShift;
    if (p.clusterCount == 0 || p.clusterCount > heapClusters || p.clusterCount > 0xFFFFFFF5u)
        return fail(BootProblem::ClusterCount);
    if (p.rootCluster < 2 || std::uint64_t{p.rootCluster} > std::uint64_t{p.clusterCount} + 1)
        return fail(BootProblem::RootCluster);
    if (problem != nullptr)
        *problem = BootProblem::None;
    return p;
}

std::uint32_t BootChecksum(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector) {
    const std::size_t length =
        std::min<std::size_t>(region.size(), 11 * std::size_t{bytesPerSector});
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (i == 106 || i == 107 || i == 112)
            continue;
        sum = ((sum & 1) != 0 ? 0x80000000u : 0u) + (sum >> 1) + region[i];
    }
    return sum;
}

bool BootRegionChecksumOk(std::span<const std::uint8_t> region, std::uint32_t bytesPerSector) {
    const std::size_t sector = bytesPerSector;
    if (sector < 512 || region.size() < kBootRegionSectors * sector)
        return false;
    const std::uint32_t sum = BootChecksum(region, bytesPerSector);
    for (std::size_t at = 11 * sector; at < 12 * sector; at += 4) {
        if (*ReadLe<std::uint32_t>(region, at) != sum)
            return false;
    }
    return true;
}

std::uint32_t UsableClusters(const BootParameters& boot, std::uint64_t volumeBytes) {
    const std::uint64_t sectors = volumeBytes >> boot.bytesPerSectorShift;
    if (sectors <= boot.clusterHeapOffset)
        return 0;
    const std::uint64_t fit = (sectors - boot.clusterHeapOffset) >> boot.sectorsPerClusterShift;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(fit, boot.clusterCount));
}

std::uint32_t TableChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes)
        sum = ((sum & 1) != 0 ? 0x80000000u : 0u) + (sum >> 1) + b;
    return sum;
}

std::uint16_t EntrySetChecksum(std::span<const std::uint8_t> entries, bool asInUse) {
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i == 2 || i == 3)
            continue;
        std::uint8_t b = entries[i];
        if (asInUse && i % kEntrySize == 0)
            b |= EntryTypes::InUse;
        sum = static_cast<std::uint16_t>(((sum & 1) != 0 ? 0x8000u : 0u) + (sum >> 1) + b);
    }
    return sum;
}

std::uint64_t TimestampToFileTime(std::uint32_t timestamp, std::uint8_t tenMs,
                                  std::uint8_t utcOffset) {
    std::uint64_t time = fat::FatTimeToFileTime(static_cast<std::uint16_t>(timestamp >> 16),
                                                static_cast<std::uint16_t>(timestamp & 0xFFFF));
    if (time == 0)
        return 0;
    // Up to 1.99 s past the even second the time field holds.
    if (tenMs < 200)
        time += std::uint64_t{tenMs} * (kTicksPerSecond / 100);
    if ((utcOffset & 0x80) != 0) {
        const int quarters = (utcOffset & 0x40) != 0 ? (utcOffset & 0x7F) - 128 : utcOffset & 0x7F;
        // Written as local time, `quarters` quarter hours ahead of UTC.
        const std::int64_t shift = std::int64_t{quarters} * 15 * 60 * std::int64_t{kTicksPerSecond};
        time = static_cast<std::uint64_t>(static_cast<std::int64_t>(time) - shift);
    }
    return time;
}

std::string NameToUtf8(std::span<const char16_t> units) {
    std::u16string clean(units.begin(), units.end());
    for (char16_t& unit : clean) {
        if (unit < 0x20)
            unit = 0xFFFD;
    }
    return platform::Utf16ToUtf8(clean);
}

std::optional<UpcaseTable> UpcaseTable::Decode(std::span<const std::uint8_t> stored) {
    if (stored.size() % 2 != 0 || stored.empty())
        return std::nullopt;
    UpcaseTable table;
    const std::size_t units = stored.size() / 2;
    table.map_.reserve(std::min<std::size_t>(units, 0x10000));
    for (std::size_t i = 0; i < units; ++i) {
        const char16_t unit = static_cast<char16_t>(*ReadLe<std::uint16_t>(stored, i * 2));
        if (unit == 0xFFFF && i + 1 < units) {
            const std::size_t identical = *ReadLe<std::uint16_t>(stored, (i + 1) * 2);
            if (table.map_.size() + identical > 0x10000)
                return std::nullopt;
            for (std::size_t k = 0; k < identical; ++k)
                table.map_.push_back(static_cast<char16_t>(table.map_.size()));
            ++i;
            continue;
        }
        if (table.map_.size() >= 0x10000)
            return std::nullopt;
        table.map_.push_back(unit);
    }
    return table;
}

std::uint16_t NameHash(std::span<const char16_t> units, const UpcaseTable* upcase) {
    std::uint16_t hash = 0;
    for (const char16_t raw : units) {
        const char16_t unit = upcase != nullptr ? upcase->Map(raw) : raw;
        for (const unsigned b : {unit & 0xFFu, static_cast<unsigned>(unit >> 8)})
            hash = static_cast<std::uint16_t>(((hash & 1) != 0 ? 0x8000u : 0u) + (hash >> 1) + b);
    }
    return hash;
}

std::optional<FileSet> ParseFileSet(std::span<const std::uint8_t> entries) {
    const std::size_t available = entries.size() / kEntrySize;
    if (available < 3 || (entries[0] & ~EntryTypes::InUse) != kDeletedFile)
        return std::nullopt;
    FileSet set;
    set.inUse = (entries[0] & EntryTypes::InUse) != 0;
    set.secondaryCount = entries[1];
    if (set.secondaryCount < 2)
        return std::nullopt;
    const auto entry = [&](std::size_t i) { return entries.subspan(i * kEntrySize, kEntrySize); };
    const auto stream = entry(1);
    if (stream[0] != TypeAs(EntryTypes::StreamExtension, set.inUse))
        return std::nullopt;
    set.nameLength = stream[3];
    const std::size_t names = (std::size_t{set.nameLength} + 14) / 15;
    if (set.nameLength == 0 || names > std::size_t{set.secondaryCount} - 1 ||
        2 + names > available) {
        return std::nullopt;
    }
    for (std::size_t k = 0; k < names; ++k) {
        if (entry(2 + k)[0] != TypeAs(EntryTypes::FileName, set.inUse))
            return std::nullopt;
    }
    // The secondaries that really follow, up to the count: a newer set written over the
    // tail of a deleted one starts with a primary entry.
    std::size_t follow = 0;
    while (follow < set.secondaryCount && 1 + follow < available &&
           IsSecondary(entry(1 + follow)[0], set.inUse)) {
        ++follow;
    }
    set.entryCount = 1 + follow;
    set.storedChecksum = *ReadLe<std::uint16_t>(entries, 2);
    set.checksumOk = follow == set.secondaryCount &&
                     EntrySetChecksum(entries.first(set.entryCount * kEntrySize), !set.inUse) ==
                         set.storedChecksum;

    const auto primary = entry(0);
    set.attributes = *ReadLe<std::uint16_t>(primary, 4);
    set.created = TimestampToFileTime(*ReadLe<std::uint32_t>(primary, 8), primary[20], primary[22]);
    set.modified =
        TimestampToFileTime(*ReadLe<std::uint32_t>(primary, 12), primary[21], primary[23]);
    set.accessed = TimestampToFileTime(*ReadLe<std::uint32_t>(primary, 16), 0, primary[24]);
    set.utcTimes = (primary[23] & 0x80) != 0;

    set.streamFlags = stream[1];
    set.nameHash = *ReadLe<std::uint16_t>(stream, 4);
    // Without AllocationPossible the cluster and lengths mean nothing.
    if ((set.streamFlags & 0x01) != 0) {
        set.noFatChain = (set.streamFlags & 0x02) != 0;
        set.validDataLength = *ReadLe<std::uint64_t>(stream, 8);
        set.firstCluster = *ReadLe<std::uint32_t>(stream, 20);
        set.dataLength = *ReadLe<std::uint64_t>(stream, 24);
    }
    set.name.reserve(set.nameLength);
    for (std::size_t k = 0; k < names; ++k) {
        const auto part = entry(2 + k);
        for (std::size_t u = 0; u < 15 && set.name.size() < set.nameLength; ++u)
            set.name.push_back(static_cast<char16_t>(*ReadLe<std::uint16_t>(part, 2 + 2 * u)));
    }
    return set;
}

std::optional<DataPlace> PlaceData(const FileSet& set, std::uint32_t clusterCount,
                                   std::uint64_t clusterBytes) {
    DataPlace place;
    if (set.firstCluster == 0) {
        place.clipped = set.dataLength != 0;
        return place;
    }
    if (set.firstCluster < 2 || set.firstCluster - 2 >= clusterCount)
        return std::nullopt;
    place.firstCluster = set.firstCluster;
    // A chain may wander over the whole heap; a run only goes on from its first cluster.
    const std::uint64_t clusters =
        set.noFatChain ? std::uint64_t{clusterCount} - (set.firstCluster - 2) : clusterCount;
    std::uint64_t room = clusters * clusterBytes;
    if (set.IsFolder())
        room = std::min(room, kMaxDirectoryBytes);
    place.size = std::min(set.dataLength, room);
    place.clipped = place.size != set.dataLength;
    place.validSize = std::min(set.validDataLength, place.size);
    return place;
}

std::optional<std::string> VolumeLabelText(std::span<const std::uint8_t> entry) {
    if (entry.size() < kEntrySize || entry[0] != EntryTypes::VolumeLabel || entry[1] > 11)
        return std::nullopt;
    std::u16string units;
    for (std::size_t u = 0; u < entry[1]; ++u)
        units.push_back(static_cast<char16_t>(*ReadLe<std::uint16_t>(entry, 2 + 2 * u)));
    return NameToUtf8(units);
}

TableEntry ReadTableEntry(std::span<const std::uint8_t> entry) {
    TableEntry table;
    if (entry.size() < kEntrySize)
        return table;
    table.flags = entry[1];
    table.checksum = *ReadLe<std::uint32_t>(entry, 4);
    table.firstCluster = *ReadLe<std::uint32_t>(entry, 20);
    table.dataLength = *ReadLe<std::uint64_t>(entry, 24);
    return table;
}

std::optional<std::uint64_t> FreeClustersInBitmap(std::span<const std::uint8_t> bitmap,
                                                  std::uint64_t clusterCount) {
    if (bitmap.size() < (clusterCount + 7) / 8)
        return std::nullopt;
    const std::size_t whole = static_cast<std::size_t>(clusterCount / 8);
    std::uint64_t used = 0;
    for (std::size_t i = 0; i < whole; ++i)
        used += static_cast<std::uint64_t>(std::popcount(bitmap[i]));
    // The last byte's bits beyond the heap belong to no cluster.
    if (const unsigned rest = clusterCount % 8; rest != 0) {
        const auto mask = static_cast<std::uint8_t>((1u << rest) - 1);
        used += static_cast<std::uint64_t>(
            std::popcount(static_cast<std::uint8_t>(bitmap[whole] & mask)));
    }
    return clusterCount - used;
}

std::optional<std::uint32_t> FatEntry(std::span<const std::uint8_t> fat, std::uint32_t n) {
    return ReadLe<std::uint32_t>(fat, std::size_t{n} * 4);
}

}  // namespace duzez::filesystems::exfat
