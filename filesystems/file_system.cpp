#include "filesystems/file_system.h"

#include "filesystems/boot_record.h"

namespace duzez::filesystems {

std::string CFileSystem::NameForId(std::uint32_t id) {
    switch (id) {
        case FileSystemIds::Fat12:
            return "FAT12";
        case FileSystemIds::Fat16:
        case FileSystemIds::Fat16Large:
            return "FAT16";
        case FileSystemIds::Ntfs:
        case FileSystemIds::NtfsAlternative:
            return "NTFS";
        case FileSystemIds::Fat32:
        case FileSystemIds::Fat32Lba:
            return "FAT32";
        case FileSystemIds::ExFat:
            return "exFAT";
        default:
            return "Unknown";
    }
}

std::uint32_t CFileSystem::Detect(std::span<const std::uint8_t> boot) const {
    return DetectFileSystem(boot);
}

}  // namespace duzez::filesystems
