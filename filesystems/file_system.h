#pragma once

// The file-system analyser slot of a volume. A volume starts with this generic analyser,
// which only knows the file system's id and name; the FAT and NTFS analysers take its
// place in the file-system phase.

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace duzez::filesystems {

struct FoundObject;

// MBR partition-type codes used as file-system ids.
namespace FileSystemIds {
constexpr std::uint32_t None = 0;
constexpr std::uint32_t Fat12 = 1;
constexpr std::uint32_t Fat16 = 4;
constexpr std::uint32_t Fat16Large = 6;
constexpr std::uint32_t Ntfs = 7;
constexpr std::uint32_t Fat32 = 11;
constexpr std::uint32_t Fat32Lba = 12;
constexpr std::uint32_t NtfsAlternative = 128;
// exFAT shares MBR type 0x07 with NTFS, so it gets an id of its own.
constexpr std::uint32_t ExFat = 0x107;
}  // namespace FileSystemIds

struct SectorRange {
    std::uint64_t firstSector = 0;
    std::uint64_t sectorCount = 0;
};

// What reading a file's data could not do faithfully: sectors that stayed unreadable (read
// as zeros), and an end taken on trust because the file system's map stopped short.
struct ReadDamage {
    std::uint64_t sectorsRead = 0;  // asked for, readable or not
    std::uint64_t unreadableSectors = 0;
    bool endGuessed = false;

    bool NothingReadable() const { return sectorsRead != 0 && unreadableSectors == sectorsRead; }
};

class CFileSystem {
  public:
    virtual ~CFileSystem() = default;

    // The display name for an id: "FAT12", "FAT16", "FAT32", "NTFS", "exFAT", else "Unknown".
    static std::string NameForId(std::uint32_t id);
    virtual void SetFileSystemName(std::uint32_t id) { FileSystemName = NameForId(id); }
    // Lists the volume's objects; the generic analyser knows none.
    virtual int Analyse() { return 0; }
    // A block the sector scan found that belongs to this file system (a directory sector,
    // a file record); the generic analyser ignores it.
    virtual void ParseFoundBlock(const FoundObject& /*block*/) {}
    // Reads an object's data where the file system knows better than one extent;
    // kNotSupported when it does not. Unreadable sectors read as zeros and are added to
    // `damage`, so a bad sector costs that sector, not the file.
    virtual std::uint32_t FileRead(const FoundObject& /*object*/,
                                   std::span<std::uint8_t> /*buffer*/, std::uint64_t /*offset*/,
                                   ReadDamage& /*damage*/) {
        return kNotSupported;
    }
    // The file system's own bookkeeping (NTFS $MFT, $Bitmap, $Extend...): listed, but not
    // a user's file to recover unless asked for.
    virtual bool IsSystemObject(const FoundObject& /*object*/) const { return false; }
    // The file-system id the boot bytes describe.
    virtual std::uint32_t Detect(std::span<const std::uint8_t> boot) const;

    static constexpr std::uint32_t kNotSupported = 0x80004005;

    std::vector<SectorRange> UsedAreas;
    std::uint32_t FileSystemId = FileSystemIds::None;
    std::string FileSystemName = "Unknown";
};

}  // namespace duzez::filesystems
