#pragma once

// The boot sector fields the system reads, from the first bytes of a volume. Pure
// functions over bytes; offsets are those of the FAT and NTFS boot sectors.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace duzez::filesystems {

// The file-system id the boot bytes describe: 7 NTFS, 0x107 exFAT, 11 FAT32, 4 FAT16,
// 1 FAT12, 0 none. When several type texts are present the later test wins: FAT12 over
// FAT16 over FAT32 over exFAT over NTFS.
std::uint32_t DetectFileSystem(std::span<const std::uint8_t> boot);

struct BootFields {
    std::uint16_t bytesPerSector = 0;    // offset 11
    std::uint8_t sectorsPerCluster = 0;  // offset 13
    std::uint16_t smallSectors = 0;      // offset 19
    std::uint32_t largeSectors = 0;      // offset 32
    std::uint32_t fatSerial = 0;         // offset 39 (FAT12/16), 67 (FAT32) or 100 (exFAT)
    std::string fatLabel;                // offset 43 or 71, 11 bytes CP437, trailing blanks cut;
                                         // empty for exFAT, whose label is in its root
    std::uint64_t ntfsTotalSectors = 0;  // offset 40, in the boot sector's own sectors
    std::uint64_t ntfsSerial = 0;        // offset 72
    char oemName[9] = {};                // offset 3, 8 bytes
    // exFAT: offsets 11-63 are zero; its geometry is in powers of two further on.
    std::uint64_t exfatVolumeLength = 0;  // offset 72, in the boot sector's own sectors
    std::uint8_t exfatSectorShift = 0;    // offset 108: bytes per sector = 1 << shift
    std::uint8_t exfatClusterShift = 0;   // offset 109: sectors per cluster = 1 << shift
};

// The fields for the file system `id`; nullopt when fewer than 512 bytes are given.
std::optional<BootFields> ReadBootFields(std::span<const std::uint8_t> boot, std::uint32_t id);

// Where a boot sector's file system keeps a structure that only the real volume start
// finds, so that a copy of the boot sector can be told from the original: the byte
// offsets, from the volume start, of the first FAT (FAT32) or of the MFT (NTFS), and how
// far behind the volume start the file system keeps its backup copy of the boot sector
// (FAT32: its backup sector field; NTFS: right after its last sector). Nullopt when the
// fields are not those of a sane FAT32 or NTFS boot sector.
struct BootLandmarks {
    std::uint64_t structureOffset = 0;
    std::uint64_t backupOffset = 0;
    std::uint8_t media = 0;  // FAT32: the media byte the first FAT entry repeats
};
std::optional<BootLandmarks> ReadBootLandmarks(std::span<const std::uint8_t> boot,
                                               std::uint32_t id);

// Whether `bytes` begin the structure the landmarks name: a FAT32 table's first entry
// (the media byte, then 0xFFFFFF) and its second (end of chain), or an MFT record.
bool StructureAt(std::span<const std::uint8_t> bytes, std::uint32_t id,
                 const BootLandmarks& landmarks);

}  // namespace duzez::filesystems
