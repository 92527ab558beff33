// The GUID partition table over a disk made of the input bytes (its last sector is where
// the backup header is looked for): it must end after a bounded number of reads, and
// every partition it offers for reading must lie on the disk.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "devices/gpt_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t reads = 0;
    const auto reader = [&](std::uint64_t sector, std::span<std::uint8_t> buffer) {
        ++reads;
        if ((sector + 1) * 512 > size)
            return false;
        std::memcpy(buffer.data(), data + sector * 512, 512);
        return true;
    };
    for (const std::uint32_t sectorSize : {0u, 512u, 4096u}) {
        reads = 0;
        const auto table = duzez::devices::gpt::ReadTable(reader, size, sectorSize);
        // Two copies at two sector sizes, each a header and at most 4 MiB of entries.
        if (reads > 4 * (8 + 4 * 1024 * 1024 / 512))
            std::abort();
        if (!table)
            continue;
        const std::uint64_t sectors = size / table->sectorSize;
        for (const auto& partition : table->partitions) {
            if (!partition.damaged && (partition.entry.lastLba >= sectors ||
                                       partition.entry.firstLba > partition.entry.lastLba))
                std::abort();
        }
    }
    return 0;
}
