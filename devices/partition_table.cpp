#include "devices/partition_table.h"

#include <set>

#include "devices/gpt_table.h"
#include "platform/byte_order.h"

namespace duzez::devices {
namespace {

constexpr std::size_t kTableOffset = 446;
constexpr std::size_t kEntrySize = 16;

struct Level {
    std::uint64_t tableSector;
    std::uint64_t extendedBase;
    std::array<MbrEntry, 4> entries;
    std::size_t next = 0;
};

}  // namespace

std::optional<std::array<MbrEntry, 4>> ParseMbr(std::span<const std::uint8_t> sector) {
    using platform::ReadLe;
    if (ReadLe<std::uint16_t>(sector, 510) != 0xAA55)
        return std::nullopt;
    std::array<MbrEntry, 4> entries{};
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = kTableOffset + i * kEntrySize;
        entries[i].type = sector[at + 4];
        entries[i].firstSector = *ReadLe<std::uint32_t>(sector, at + 8);
        entries[i].sectorCount = *ReadLe<std::uint32_t>(sector, at + 12);
    }
    return entries;
}

bool IsExtendedType(std::uint8_t type) {
    return type == 0x05 || type == 0x0F;
}

namespace {

constexpr std::uint8_t kProtectiveType = 0xEE;

void AddGptPartitions(const gpt::Table& table, WalkResult& result) {
    result.kind = TableKind::Gpt;
    result.gptFromBackup = table.usedBackup;
    result.logicalSectorSize = table.sectorSize;
    const std::uint64_t scale = table.sectorSize / 512;
    for (const gpt::Partition& partition : table.partitions) {
        const gpt::Entry& entry = partition.entry;
        FoundPartition found;
        found.startSector = entry.firstLba * scale;
        found.sectorCount = partition.damaged ? 0 : (entry.lastLba - entry.firstLba + 1) * scale;
        found.tableSector = (table.usedBackup ? table.header.myLba : 1) * scale;
        found.typeName = gpt::TypeName(entry.type);
        found.name = entry.name;
        found.damaged = partition.damaged;
        result.partitions.push_back(std::move(found));
    }
}

}  // namespace

WalkResult WalkPartitionTables(const SectorReader& read, std::uint64_t totalSectors,
                               std::uint32_t logicalSectorSize) {
    WalkResult result;
    std::set<std::uint64_t> visited;
    std::vector<Level> stack;
    std::array<std::uint8_t, 512> buffer{};

    const auto enter = [&](std::uint64_t table, std::uint64_t base) {
        if (visited.size() >= kMaxTables || !visited.insert(table).second) {
            result.cutShort = true;
            return;
        }
        if (!read(table, buffer))
            return;
        const auto entries = ParseMbr(buffer);
        if (!entries)
            return;
        stack.push_back({table, base, *entries, 0});
    };

    enter(0, 0);
    if (!stack.empty() && gpt::HasProtectiveEntry(buffer)) {
        if (const auto table = gpt::ReadTable(read, totalSectors * 512, logicalSectorSize)) {
            AddGptPartitions(*table, result);
            return result;
        }
        // Both copies are gone: a hybrid MBR's other entries are all that is left.
        result.gptUnreadable = true;
    }
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.entries.size()) {
            stack.pop_back();
            continue;
        }
        const MbrEntry entry = level.entries[level.next++];
        if (entry.type == 0 || entry.type == kProtectiveType || entry.sectorCount == 0 ||
            entry.firstSector > totalSectors)
            continue;
        if (result.kind == TableKind::None)
            result.kind = TableKind::Mbr;
        if (entry.sectorCount > totalSectors)
            result.oversizedEntry = true;
        if (IsExtendedType(entry.type)) {
            // Links inside the chain count from the start of the outermost extended
            // partition, which the table at sector 0 names.
            const std::uint64_t table = entry.firstSector + level.extendedBase;
            const std::uint64_t base = level.tableSector == 0 ? table : level.extendedBase;
            enter(table, base);  // may invalidate `level`
            continue;
        }
        FoundPartition found;
        found.startSector = level.tableSector + entry.firstSector;
        found.sectorCount = entry.sectorCount;
        found.type = entry.type;
        found.tableSector = level.tableSector;
        result.partitions.push_back(std::move(found));
    }
    return result;
}

}  // namespace duzez::devices
