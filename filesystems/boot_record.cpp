#include "filesystems/boot_record.h"

#include <cstring>

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
    fields.fatSerial = *ReadLe<std::uint32_t>(boot, fat32 ? 67 : 39);
    std::string label = platform::Cp437ToUtf8(boot.subspan(fat32 ? 71 : 43, 11));
    while (!label.empty() && (label.back() == ' ' || label.back() == '\0'))
        label.pop_back();
    fields.fatLabel = label;
    fields.ntfsTotalSectors = *ReadLe<std::uint64_t>(boot, 40);
    fields.ntfsSerial = *ReadLe<std::uint64_t>(boot, 72);
    return fields;
}

}  // namespace duzez::filesystems
