// One file record of any bytes through every parser of the NTFS layout: fix-ups, the
// attribute walk, resident values, file names, times, attribute lists and run lists; and
// the same bytes as compressed data.

#include <cstdint>
#include <vector>

#include "filesystems/ntfs/lznt1.h"
#include "filesystems/ntfs/ntfs_layout.h"

namespace ntfs = duzez::filesystems::ntfs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> unit(65536);
    ntfs::DecompressLznt1(std::span(data, size), unit);
    std::vector<std::uint8_t> record(data, data + size);
    ntfs::ApplyFixups(record);
    if (!ntfs::AttributesWalkable(record))
        return 0;
    std::size_t seen = 0;
    for (const std::uint32_t type : {0x10u, 0x20u, 0x30u, 0x80u}) {
        for (auto attribute = ntfs::FindAttribute(record, type); attribute;
             attribute = ntfs::FindNextAttribute(record, *attribute, type)) {
            if (++seen > record.size())
                __builtin_trap();  // a walk that does not move on
            if (const auto value = ntfs::ResidentValue(record, *attribute)) {
                ntfs::ReadFileName(*value);
                ntfs::ReadStandardInformation(*value);
                ntfs::ReadAttributeList(*value);
            }
            if (const auto part = ntfs::ReadNonResident(record, *attribute)) {
                for (const auto& run : ntfs::DecodeRuns(part->runList, part->lowestVcn)) {
                    if (run.length == 0)
                        __builtin_trap();
                }
            }
        }
    }
    return 0;
}
