#include "devices/gpt_table.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/text_encoding.h"

namespace duzez::devices::gpt {
namespace {

using platform::ReadLe;

constexpr std::uint64_t kReadUnit = 512;
constexpr std::uint32_t kRevision1 = 0x00010000;
constexpr std::size_t kNameOffset = 56;
constexpr std::size_t kNameBytes = 72;
constexpr std::size_t kEntryMinimum = 128;

template <typename T>
T Le(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return ReadLe<T>(bytes, offset).value_or(0);
}

Guid GuidAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    Guid guid{};
    if (offset + guid.size() <= bytes.size())
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), guid.size(), guid.begin());
    return guid;
}

// One logical sector (or a run of them) through the 512-byte reader.
bool ReadBytes(const SectorReader& read, std::uint64_t byteOffset, std::span<std::uint8_t> out) {
    for (std::size_t done = 0; done < out.size(); done += kReadUnit) {
        if (!read((byteOffset + done) / kReadUnit, out.subspan(done, kReadUnit)))
            return false;
    }
    return true;
}

struct KnownType {
    const char* guid;
    const char* name;
};

constexpr KnownType kKnownTypes[] = {
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system"},
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
    {"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "Windows LDM metadata"},
    {"AF9B60A0-1431-4F62-BC68-3311714A69AD", "Windows LDM data"},
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux root (x86-64)"},
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home"},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
    {"CA7D7CCB-63ED-4C53-861C-1742536059CC", "Linux LUKS"},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS+"},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
    {"426F6F74-0000-11AA-AA11-00306543ECAC", "Apple boot"},
};

struct Candidate {
    Header header;
    std::vector<std::uint8_t> entries;
};

// A header at `lba` and its entry array, both sound.
std::optional<Candidate> ReadCopy(const SectorReader& read, std::uint64_t lba,
                                  std::uint32_t sectorSize, std::uint64_t diskSectors) {
    std::vector<std::uint8_t> sector(sectorSize);
    if (!ReadBytes(read, lba * sectorSize, sector))
        return std::nullopt;
    auto header = ParseHeader(sector, sectorSize, diskSectors);
    if (!header || header->myLba != lba)
        return std::nullopt;
    const std::uint64_t arrayBytes = std::uint64_t{header->entryCount} * header->entrySize;
    const std::uint64_t arraySectors = (arrayBytes + sectorSize - 1) / sectorSize;
    // The array lies on the disk, and not over the header it belongs to.
    if (header->entriesLba >= diskSectors || arraySectors > diskSectors - header->entriesLba ||
        (lba >= header->entriesLba && lba < header->entriesLba + arraySectors)) {
        return std::nullopt;
    }
    Candidate copy{*header, std::vector<std::uint8_t>(arraySectors * sectorSize)};
    if (!ReadBytes(read, header->entriesLba * sectorSize, copy.entries))
        return std::nullopt;
    if (Crc32(std::span(copy.entries).first(arrayBytes)) != header->entriesCrc)
        return std::nullopt;
    copy.entries.resize(arrayBytes);
    return copy;
}

std::optional<Table> ReadWithSectorSize(const SectorReader& read, std::uint64_t totalBytes,
                                        std::uint32_t sectorSize) {
    const std::uint64_t diskSectors = totalBytes / sectorSize;
    if (diskSectors < 3)
        return std::nullopt;
    Table table;
    table.sectorSize = sectorSize;
    auto copy = ReadCopy(read, 1, sectorSize, diskSectors);
    if (!copy) {
        table.primaryDamaged = true;
        copy = ReadCopy(read, diskSectors - 1, sectorSize, diskSectors);
        if (!copy)
            return std::nullopt;
        table.usedBackup = true;
    }
    table.header = copy->header;
    const Header& header = table.header;
    // The header sectors and the entry arrays lie outside the usable area.
    for (std::uint32_t index = 0; index < header.entryCount; ++index) {
        const auto bytes = std::span<const std::uint8_t>(copy->entries)
                               .subspan(std::size_t{index} * header.entrySize, header.entrySize);
        auto entry = ParseEntry(bytes);
        if (!entry)
            continue;
        Partition partition{std::move(*entry), index, false};
        const Entry& e = partition.entry;
        partition.damaged = e.firstLba > e.lastLba || e.firstLba < header.firstUsableLba ||
                            e.lastLba > header.lastUsableLba || e.lastLba >= diskSectors;
        table.partitions.push_back(std::move(partition));
    }
    return table;
}

}  // namespace

std::string GuidText(const Guid& g) {
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return text;
}

std::string TypeName(const Guid& type) {
    const std::string text = GuidText(type);
    for (const KnownType& known : kKnownTypes) {
        if (text == known.guid)
            return known.name;
    }
    return text;
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(::crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
}

std::optional<Header> ParseHeader(std::span<const std::uint8_t> sector, std::uint32_t sectorSize,
                                  std::uint64_t diskSectors) {
    if (sector.size() < sectorSize || sectorSize < kHeaderMinimum ||
        std::memcmp(sector.data(), "EFI PART", 8) != 0) {
        return std::nullopt;
    }
    Header header;
    header.revision = Le<std::uint32_t>(sector, 8);
    header.headerSize = Le<std::uint32_t>(sector, 12);
    if (header.revision < kRevision1 || header.headerSize < kHeaderMinimum ||
        header.headerSize > sectorSize) {
        return std::nullopt;
    }
    // The CRC covers the header with its own CRC field read as zero.
    std::vector<std::uint8_t> copy(sector.begin(), sector.begin() + header.headerSize);
    std::fill_n(copy.begin() + 16, 4, 0);
    if (Crc32(copy) != Le<std::uint32_t>(sector, 16))
        return std::nullopt;
    header.myLba = Le<std::uint64_t>(sector, 24);
    header.alternateLba = Le<std::uint64_t>(sector, 32);
    header.firstUsableLba = Le<std::uint64_t>(sector, 40);
    header.lastUsableLba = Le<std::uint64_t>(sector, 48);
    header.diskGuid = GuidAt(sector, 56);
    header.entriesLba = Le<std::uint64_t>(sector, 72);
    header.entryCount = Le<std::uint32_t>(sector, 80);
    header.entrySize = Le<std::uint32_t>(sector, 84);
    header.entriesCrc = Le<std::uint32_t>(sector, 88);
    const bool sizeSound = header.entrySize >= kEntryMinimum && header.entrySize <= kMaxEntrySize &&
                           (header.entrySize & (header.entrySize - 1)) == 0;
    if (!sizeSound || header.entryCount == 0 || header.entryCount > kMaxEntries ||
        header.myLba >= diskSectors || header.firstUsableLba > header.lastUsableLba ||
        header.lastUsableLba >= diskSectors) {
        return std::nullopt;
    }
    return header;
}

std::optional<Entry> ParseEntry(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kEntryMinimum)
        return std::nullopt;
    Entry entry;
    entry.type = GuidAt(bytes, 0);
    if (std::all_of(entry.type.begin(), entry.type.end(), [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    entry.unique = GuidAt(bytes, 16);
    entry.firstLba = Le<std::uint64_t>(bytes, 32);
    entry.lastLba = Le<std::uint64_t>(bytes, 40);
    entry.attributes = Le<std::uint64_t>(bytes, 48);
    // The name ends at its first NUL unit.
    auto name = bytes.subspan(kNameOffset, kNameBytes);
    std::size_t length = 0;
    while (length + 1 < name.size() && (name[length] != 0 || name[length + 1] != 0))
        length += 2;
    entry.name = platform::Utf16LeToUtf8(name.first(length));
    return entry;
}

std::optional<Table> ReadTable(const SectorReader& read, std::uint64_t totalBytes,
                               std::uint32_t sectorSize) {
    if (sectorSize != 0) {
        if (sectorSize < kReadUnit || sectorSize > 4096 || sectorSize % kReadUnit != 0)
            return std::nullopt;
        return ReadWithSectorSize(read, totalBytes, sectorSize);
    }
    // An image says nothing of its sector size: a sound header at LBA 1 tells.
    std::optional<Table> fromBackup;
    for (const std::uint32_t size : {512u, 4096u}) {
        auto table = ReadWithSectorSize(read, totalBytes, size);
        if (table && !table->usedBackup)
            return table;
        if (table && !fromBackup)
            fromBackup = std::move(table);
    }
    return fromBackup;
}

bool HasProtectiveEntry(std::span<const std::uint8_t> sector) {
    const auto entries = ParseMbr(sector);
    return entries && std::any_of(entries->begin(), entries->end(),
                                  [](const MbrEntry& entry) { return entry.type == 0xEE; });
}

}  // namespace duzez::devices::gpt
