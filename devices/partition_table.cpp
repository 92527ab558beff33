#include "devices/partition_table.h"

#include <set>

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

WalkResult WalkPartitionTables(const SectorReader& read, std::uint64_t totalSectors) {
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
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.entries.size()) {
            stack.pop_back();
            continue;
        }
        const MbrEntry entry = level.entries[level.next++];
        if (entry.type == 0 || entry.sectorCount == 0 || entry.firstSector > totalSectors)
            continue;
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
        result.partitions.push_back({level.tableSector + entry.firstSector, entry.sectorCount,
                                     entry.type, level.tableSector});
    }
    return result;
}

}  // namespace duzez::devices
