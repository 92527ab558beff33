#pragma once

// What libblkid reads from a device's superblock. The probe opens the device read-only.

#include <filesystem>
#include <optional>
#include <string>

namespace duzez::platform {

struct FileSystemProbe {
    std::string type;     // "vfat", "ntfs", "exfat", "ext4", ...
    std::string version;  // "FAT12", "FAT16", "FAT32" for vfat
    std::string label;
    std::string uuid;           // "ABCD-1234" for FAT, 16 hex digits for NTFS
    std::string partitionType;  // "0x83" (MBR) or a GUID, when the entry could be read
};

std::optional<FileSystemProbe> ProbeFileSystem(const std::filesystem::path& device);

}  // namespace duzez::platform
