#include "filesystems/boot_record.h"

#include <cstring>

#include "filesystems/file_system.h"
#include "platform/byte_order.h"
#include "platform/code_page.h"

namespace duzez::filesystems {
namespace {

bool TextAt(std::span<const std::uint8_t> boot, std::size_t offset, const char (&text)[9]) {
    return boot.size() >= offset + 8 && std::memcmp(boot.data() + offset, text, 8) == 0;
}

}  // namespace

std::uint32_t DetectFileSystem(std::span<const std::uint8_t> boot) {
    std::uint32_t id = 0;
    if (TextAt(boot, 3, "NTFS    "))
        id = 7;  // offset 3: OEM id
    if (TextAt(boot, 3, "EXFAT   ") && boot.size() >= 512 && boot[510] == 0x55 &&
        boot[511] == 0xAA) {
        id = FileSystemIds::ExFat;
    }
    if (TextAt(boot, 82, "FAT32   "))
        id = 11;  // offset 82: FAT32 type text
    if (TextAt(boot, 54, "FAT16   "))
        id = 4;  // offset 54: FAT12/16 type text
    if (TextAt(boot, 54, "FAT12   "))
        id = 1;
    return id;
}

std::optional<BootFields> ReadBootFields(std::span<const std::uint8_t> boot, std::uint32_t id) {
    if (boot.size() < 512)
        return std::nullopt;
    using platform::ReadLe;
    BootFields fields;
    std::memcpy(fields.oemName, boot.data() + 3, 8);
    fields.bytesPerSector = *ReadLe<std::uint16_t>(boot, 11);
    fields.sectorsPerCluster = boot[13];
    fields.smallSectors = *ReadLe<std::uint16_t>(boot, 19);
    fields.largeSectors = *ReadLe<std::uint32_t>(boot, 32);
    const bool fat32 = id == 11;
    if (id == FileSystemIds::ExFat) {
        fields.fatSerial = *ReadLe<std::uint32_t>(boot, 100);
        fields.exfatVolumeLength = *ReadLe<std::uint64_t>(boot, 72);
        fields.exfatSectorShift = boot[108];
        fields.exfatClusterShift = boot[109];
    } else {
        fields.fatSerial = *ReadLe<std::uint32_t>(boot, fat32 ? 67 : 39);
        std::string label = platform::Cp437ToUtf8(boot.subspan(fat32 ? 71 : 43, 11));
        while (!label.empty() && (label.back() == ' ' || label.back() == '\0'))
            label.pop_back();
        fields.fatLabel = label;
    }
    fields.ntfsTotalSectors = *ReadLe<std::uint64_t>(boot, 40);
    fields.ntfsSerial = *ReadLe<std::uint64_t>(boot, 72);
    return fields;
}

std::optional<BootLandmarks> ReadBootLandmarks(std::span<const std::uint8_t> boot,
                                               std::uint32_t id) {
    if (boot.size() < 512 || (id != 11 && id != 7))
        return std::nullopt;
    using platform::ReadLe;
    const std::uint64_t bytesPerSector = *ReadLe<std::uint16_t>(boot, 11);
    if (bytesPerSector < 512 || bytesPerSector > 4096 || (bytesPerSector & (bytesPerSector - 1)))
        return std::nullopt;
    BootLandmarks landmarks;
    if (id == 11) {
        const std::uint64_t reserved = *ReadLe<std::uint16_t>(boot, 14);
        const std::uint64_t backupSector = *ReadLe<std::uint16_t>(boot, 50);
        if (backupSector == 0 || backupSector >= reserved)
            return std::nullopt;
        landmarks.structureOffset = reserved * bytesPerSector;
        landmarks.backupOffset = backupSector * bytesPerSector;
        landmarks.media = boot[21];
        return landmarks;
    }
    // Above 0x80 the byte is a negative power of two of the cluster's bytes.
    const std::uint8_t perCluster = boot[13];
    const std::uint64_t clusterBytes =
        perCluster == 0      ? 0
        : perCluster <= 0x80 ? perCluster * bytesPerSector
                             : (perCluster >= 0xE1 ? std::uint64_t{1} << (256 - perCluster) : 0);
    const std::uint64_t mftCluster = *ReadLe<std::uint64_t>(boot, 48);
    const std::uint64_t totalSectors = *ReadLe<std::uint64_t>(boot, 40);
    if (clusterBytes == 0 || totalSectors == 0 || totalSectors >= (1ull << 48) ||
        mftCluster >= (1ull << 48) / clusterBytes) {
        return std::nullopt;
    }
    landmarks.structureOffset = mftCluster * clusterBytes;
    landmarks.backupOffset = totalSectors * bytesPerSector;
    return landmarks;
}

bool StructureAt(std::span<const std::uint8_t> bytes, std::uint32_t id,
                 const BootLandmarks& landmarks) {
    if (bytes.size() < 8)
        return false;
    if (id == 11) {
        // Entry 1 is end-of-chain but for its two top flag bits (clean shutdown, no error).
        const std::uint32_t second = *platform::ReadLe<std::uint32_t>(bytes, 4);
        return bytes[0] == landmarks.media && bytes[1] == 0xFF && bytes[2] == 0xFF &&
               (bytes[3] & 0x0F) == 0x0F && (second & 0x03FFFFFF) == 0x03FFFFFF;
    }
    return id == 7 && std::memcmp(bytes.data(), "FILE", 4) == 0;
}

}  // namespace duzez::filesystems
