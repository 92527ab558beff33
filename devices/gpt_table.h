#pragma once

// The GUID partition table: the header a protective MBR points to, checked by its CRCs,
// with the backup copy at the disk's last logical sector taken when the primary one is
// damaged. Read over a 512-byte sector reader; every count and offset from the disk is
// bounded, so no on-disk number drives an unbounded read or allocation.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "devices/partition_table.h"

namespace duzez::devices::gpt {

constexpr std::uint32_t kMaxEntries = 1024;
constexpr std::uint32_t kMaxEntrySize = 4096;
constexpr std::size_t kHeaderMinimum = 92;

using Guid = std::array<std::uint8_t, 16>;

// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7": the first three fields are little-endian.
std::string GuidText(const Guid& guid);
// "Microsoft basic data", "EFI system", ...; the GUID's text for a type it does not know.
std::string TypeName(const Guid& type);

struct Header {
    std::uint32_t revision = 0;
    std::uint32_t headerSize = 0;
    std::uint64_t myLba = 0;
    std::uint64_t alternateLba = 0;
    std::uint64_t firstUsableLba = 0;
    std::uint64_t lastUsableLba = 0;
    Guid diskGuid{};
    std::uint64_t entriesLba = 0;
    std::uint32_t entryCount = 0;
    std::uint32_t entrySize = 0;
    std::uint32_t entriesCrc = 0;
};

// The header in `sector` (one logical sector) when its signature, size, fields and CRC
// are sound for a disk of `diskSectors` logical sectors of `sectorSize` bytes.
std::optional<Header> ParseHeader(std::span<const std::uint8_t> sector, std::uint32_t sectorSize,
                                  std::uint64_t diskSectors);

struct Entry {
    Guid type{};
    Guid unique{};
    std::uint64_t firstLba = 0;
    std::uint64_t lastLba = 0;
    std::uint64_t attributes = 0;
    std::string name;  // UTF-8 from UTF-16LE, up to 36 units
};

// One entry of `entrySize` bytes; nothing for an unused one (type GUID all zero).
std::optional<Entry> ParseEntry(std::span<const std::uint8_t> bytes);

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

struct Partition {
    Entry entry;
    std::uint32_t index = 0;  // in the entry array, from 0
    // Outside the disk or the usable area: shown, never read.
    bool damaged = false;
};

struct Table {
    std::uint32_t sectorSize = 512;  // logical sector size the table is written for
    bool usedBackup = false;         // the primary header or its array was damaged
    bool primaryDamaged = false;
    Header header;
    std::vector<Partition> partitions;  // in entry order
};

// The table of a disk of `totalBytes`, read through 512-byte sectors. `sectorSize` is the
// disk's logical sector size, or 0 when unknown (an image): 512 is tried, then 4096.
// Nothing when neither the primary nor the backup copy is sound.
std::optional<Table> ReadTable(const SectorReader& read, std::uint64_t totalBytes,
                               std::uint32_t sectorSize);

// Whether the MBR in `sector` is a protective (or hybrid) one: an entry of type 0xEE.
bool HasProtectiveEntry(std::span<const std::uint8_t> sector);

}  // namespace duzez::devices::gpt
