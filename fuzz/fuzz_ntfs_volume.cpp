// The NTFS analysis over an MFT made of the input bytes: record 0 with its runs and
// attribute list, then whatever records follow, on a volume with a fixed boot sector. The
// analysis, the reads of every listed file and a sector-phase pass over the input must end
// without a crash or an allocation driven by a forged size.

#include <cstdint>
#include <cstring>
#include <vector>

#include "filesystems/ntfs/file_system_ntfs.h"
#include "fuzz/memory_volume.h"

namespace {

constexpr std::size_t kMftOffset = 4 * 4096;  // cluster 4 of 4 KiB, where mkntfs puts it
constexpr std::size_t kVolumeBytes = 1 << 20;

std::vector<std::uint8_t> Volume(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(kVolumeBytes);
    std::memcpy(bytes.data() + 3, "NTFS    ", 8);
    bytes[0x0B] = 0x00;  // 512 bytes per sector
    bytes[0x0C] = 0x02;
    bytes[0x0D] = 8;  // 4 KiB clusters
    const std::uint64_t sectors = kVolumeBytes / 512;
    const std::uint64_t mft = 4;
    const std::uint64_t mirror = 2;
    std::memcpy(bytes.data() + 0x28, &sectors, 8);
    std::memcpy(bytes.data() + 0x30, &mft, 8);
    std::memcpy(bytes.data() + 0x38, &mirror, 8);
    bytes[0x40] = 0xF6;
    bytes[0x1FE] = 0x55;
    bytes[0x1FF] = 0xAA;
    std::memcpy(bytes.data() + kMftOffset, data, std::min(size, kVolumeBytes - kMftOffset));
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& log = duzez::fuzz::FuzzLog("duzez-fuzz-ntfs");
    duzez::fuzz::MemoryVolume volume(Volume(data, size), log);
    duzez::filesystems::CFileSystem_NTFS analyser(volume);
    analyser.FileSystemId = 7;
    analyser.Analyse();
    std::vector<std::uint8_t> buffer(65536);
    for (const auto* object : volume.Tree().ListedObjects()) {
        if (object->Size == 0 || object->Size == duzez::filesystems::kUnknownSize)
            continue;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(object->Size, buffer.size()));
        duzez::filesystems::ReadDamage damage;
        analyser.FileRead(*object, std::span(buffer).first(want), 0, damage);
    }
    duzez::filesystems::FoundObject block;
    block.Start = kMftOffset;
    analyser.ParseFoundBlock(block);
    analyser.ParseRecordBuffer(std::span(data, size));
    return 0;
}
