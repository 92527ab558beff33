#pragma once

// What libblkid reads from a device's superblock. The probe opens the device read-only.

#include <cstdint>
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

// The file system in `size` bytes from `offset` of a device or image (a partition the
// kernel has no node for, a volume found in an image); superblocks only.
std::optional<FileSystemProbe> ProbeFileSystemAt(const std::filesystem::path& path,
                                                 std::uint64_t offset, std::uint64_t size);

// What a person calls the file system blkid names: "FAT32", "ext4", "Btrfs", "ISO 9660",
// "Linux swap", "LUKS"...; the blkid name for one it does not know.
std::string FileSystemDisplayName(const FileSystemProbe& probe);

}  // namespace duzez::platform
