// The whole exFAT analysis, then a read of every file it lists: it must end without a
// crash or an unbounded allocation, whatever the boot region, FAT, bitmap and directories
// say. An input with its first bit clear is the whole volume (its boot checksum made to
// fit, so that the fuzzer gets past it); with it set, the rest of the input is the FAT
// and the cluster heap of a 1 MiB volume with a sound boot region, so that the fuzzer
// spends its time on the tables and the directories. Directory clusters no walk reached
// are then handed over as the sector scan would.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "filesystems/exfat/exfat_layout.h"
#include "filesystems/exfat/file_system_exfat.h"
#include "fuzz/memory_volume.h"

namespace {

namespace exfat = duzez::filesystems::exfat;

constexpr std::size_t kSector = 512;
constexpr std::size_t kVolumeBytes = 1 << 20;
constexpr std::size_t kFatOffset = 24 * kSector;

void Put(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Sector 11 (of the boot region at `region`) given the checksum of sectors 0 to 10.
void FitBootChecksum(std::vector<std::uint8_t>& bytes, std::size_t region) {
    const std::uint32_t shift = std::clamp<std::uint32_t>(bytes[region + 108], 9, 12);
    const std::size_t sector = std::size_t{1} << shift;
    if (bytes.size() < region + exfat::kBootRegionSectors * sector)
        return;
    const auto view = std::span(bytes).subspan(region);
    const std::uint32_t sum = exfat::BootChecksum(view, static_cast<std::uint32_t>(sector));
    for (std::size_t at = 11 * sector; at < 12 * sector; at += 4)
        Put(bytes, region + at, sum, 4);
}

// 2,048 sectors: FAT at 24 (8 sectors), 252 clusters of 4 KiB from sector 32, the root
// directory at cluster 3.
std::vector<std::uint8_t> FramedVolume(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(kVolumeBytes);
    for (const std::size_t region : {std::size_t{0}, 12 * kSector}) {
        bytes[region] = 0xEB;
        bytes[region + 1] = 0x76;
        bytes[region + 2] = 0x90;
        std::memcpy(bytes.data() + region + 3, "EXFAT   ", 8);
        Put(bytes, region + 72, kVolumeBytes / kSector, 8);
        Put(bytes, region + 80, kFatOffset / kSector, 4);
        Put(bytes, region + 84, 8, 4);
        Put(bytes, region + 88, 32, 4);
        Put(bytes, region + 92, 252, 4);
        Put(bytes, region + 96, 3, 4);
        Put(bytes, region + 104, 0x0100, 2);
        bytes[region + 108] = 9;
        bytes[region + 109] = 3;
        bytes[region + 110] = 1;
        bytes[region + 510] = 0x55;
        bytes[region + 511] = 0xAA;
        FitBootChecksum(bytes, region);
    }
    std::memcpy(bytes.data() + kFatOffset, data, std::min(size, kVolumeBytes - kFatOffset));
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& log = duzez::fuzz::FuzzLog("duzez-fuzz-exfat");
    if (size == 0)
        return 0;
    std::vector<std::uint8_t> bytes;
    if ((data[0] & 1) != 0) {
        bytes = FramedVolume(data + 1, size - 1);
    } else {
        if (size < kSector)
            return 0;
        bytes.assign(data, data + size);
        FitBootChecksum(bytes, 0);
    }
    // The sectors the scan would hand over as directories a walk may not have reached.
    std::vector<std::uint64_t> directoryHits;
    for (std::size_t at = 0; at + kSector <= bytes.size(); at += kSector) {
        if ((bytes[at] & 0x7F) == 0x05)
            directoryHits.push_back(at);
    }
    duzez::fuzz::MemoryVolume volume(std::move(bytes), log);
    duzez::filesystems::CFileSystem_ExFAT analyser(volume);
    analyser.FileSystemId = duzez::filesystems::FileSystemIds::ExFat;
    analyser.Analyse();
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (const duzez::filesystems::FoundObject* object : volume.Tree().ListedObjects()) {
        if (object->Is(duzez::filesystems::ObjectFlags::Folder) ||
            object->Size == duzez::filesystems::kUnknownSize) {
            continue;
        }
        // The first block and the last: the chain is walked to its end.
        duzez::filesystems::ReadDamage damage;
        const auto first =
            static_cast<std::size_t>(std::min<std::uint64_t>(object->Size, buffer.size()));
        analyser.FileRead(*object, std::span(buffer).first(first), 0, damage);
        if (object->Size > buffer.size())
            analyser.FileRead(*object, buffer, object->Size - buffer.size(), damage);
    }
    for (const std::uint64_t start : directoryHits) {
        duzez::filesystems::FoundObject block;
        block.Start = start;
        analyser.ParseFoundBlock(block);
    }
    return 0;
}
