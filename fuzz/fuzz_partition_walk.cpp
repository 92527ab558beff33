// The partition walk over a disk made of the input bytes: it must end, read each table
// at most once, and list only partitions that start inside the disk's tables.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "devices/partition_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Sectors repeat the input, so links anywhere on a large disk find tables.
    const std::uint64_t totalSectors = 1ull << 32;
    std::size_t reads = 0;
    const auto reader = [&](std::uint64_t sector, std::span<std::uint8_t> buffer) {
        ++reads;
        if (size == 0)
            return false;
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            buffer[i] = data[(sector * 512 + i) % size];
        }
        return true;
    };
    const auto walk = duzez::devices::WalkPartitionTables(reader, totalSectors);
    // The MBR chain reads each table once; a GPT adds its two copies at two sector sizes.
    if (reads > duzez::devices::kMaxTables + 1 + 4 * (8 + 4 * 1024 * 1024 / 512))
        std::abort();
    for (const auto& partition : walk.partitions) {
        const bool gpt = walk.kind == duzez::devices::TableKind::Gpt;
        if ((!gpt && (partition.sectorCount == 0 || partition.type == 0)) ||
            (gpt && !partition.damaged && partition.sectorCount == 0))
            std::abort();
    }
    return 0;
}
