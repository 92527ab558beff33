#pragma once

// The NTFS structures as bytes: boot parameters, file-record headers and their fix-ups,
// attributes, run lists, file names, times and attribute lists. Pure functions over spans;
// every offset and length read from a record is checked against the record before use.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace duzez::filesystems::ntfs {

namespace AttributeType {
constexpr std::uint32_t StandardInformation = 0x10;
constexpr std::uint32_t AttributeList = 0x20;
constexpr std::uint32_t FileName = 0x30;
constexpr std::uint32_t Data = 0x80;
constexpr std::uint32_t End = 0xFFFFFFFF;
}  // namespace AttributeType

namespace RecordFlags {
constexpr std::uint16_t InUse = 0x0001;
constexpr std::uint16_t Directory = 0x0002;
}  // namespace RecordFlags

struct BootParameters {
    std::uint16_t bytesPerSector = 0;     // 0x0B
    std::uint8_t sectorsPerCluster = 0;   // 0x0D
    std::uint64_t totalSectors = 0;       // 0x28
    std::uint64_t mftCluster = 0;         // 0x30
    std::uint64_t mirrorCluster = 0;      // 0x38
    std::uint32_t clustersPerRecord = 0;  // 0x40, read as u32
    std::uint64_t serialNumber = 0;       // 0x48
};

std::optional<BootParameters> ReadBootParameters(std::span<const std::uint8_t> boot);

// Bytes per file record from the boot field: a negative byte n means 2^-n bytes (0xF6 is
// 1024), a positive one that many clusters. Nullopt for sizes no volume uses.
std::optional<std::uint32_t> RecordSizeFromBoot(std::uint32_t clustersPerRecord,
                                                std::uint32_t clusterSize);

constexpr std::uint32_t kMinRecordSize = 256;
constexpr std::uint32_t kMaxRecordSize = 65536;

bool HasFileSignature(std::span<const std::uint8_t> record);

struct RecordHeader {
    std::uint16_t updateSequenceOffset = 0;  // 0x04
    std::uint16_t updateSequenceCount = 0;   // 0x06
    std::uint16_t firstAttribute = 0;        // 0x14
    std::uint16_t flags = 0;                 // 0x16
    std::uint32_t bytesAllocated = 0;        // 0x1C
    std::uint32_t recordNumber = 0;          // 0x2C
};

std::optional<RecordHeader> ReadRecordHeader(std::span<const std::uint8_t> record);

// Puts the saved last two bytes of every 512 bytes back, after checking that each held the
// sequence number; false for a record torn in writing (or no record). Entries beyond the
// array or strides beyond the record are left alone.
bool ApplyFixups(std::span<std::uint8_t> record);

// An attribute inside a record: its offset and the header fields every attribute has.
struct Attribute {
    std::uint32_t offset = 0;
    std::uint32_t type = 0;
    std::uint32_t length = 0;
    bool nonResident = false;
    std::uint8_t nameLength = 0;  // 0 = unnamed
    std::uint16_t flags = 0;      // 0x0C: compressed (0x00FF), encrypted (0x4000), sparse
};

constexpr std::uint16_t kCompressedMask = 0x00FF;
constexpr std::uint16_t kEncrypted = 0x4000;

// Whether the attribute walk can start: the first attribute lies inside the record.
bool AttributesWalkable(std::span<const std::uint8_t> record);
// The first attribute of `type`; the walk stops at the end marker, a length of 0 or one
// that runs past the record.
std::optional<Attribute> FindAttribute(std::span<const std::uint8_t> record, std::uint32_t type);
std::optional<Attribute> FindNextAttribute(std::span<const std::uint8_t> record,
                                           const Attribute& after, std::uint32_t type);

// A resident attribute's value; nullopt when it does not fit inside the attribute.
std::optional<std::span<const std::uint8_t>> ResidentValue(std::span<const std::uint8_t> record,
                                                           const Attribute& attribute);
// Where a resident value starts, from the start of the record.
std::optional<std::uint32_t> ResidentValueOffset(std::span<const std::uint8_t> record,
                                                 const Attribute& attribute);

struct NonResidentHeader {
    std::uint64_t lowestVcn = 0;        // 0x10
    std::uint16_t compressionUnit = 0;  // 0x22: log2 of the clusters in a compression unit
    std::uint64_t realSize = 0;         // 0x30
    std::uint64_t initializedSize = 0;  // 0x38: the bytes beyond it read as zeros
    std::span<const std::uint8_t> runList;
};

std::optional<NonResidentHeader> ReadNonResident(std::span<const std::uint8_t> record,
                                                 const Attribute& attribute);

struct DataRun {
    std::uint64_t lcn = 0;
    std::uint64_t length = 0;  // clusters
    bool sparse = false;
    std::uint64_t firstVcn = 0;
    std::uint64_t LastVcn() const { return firstVcn + length - 1; }
};

// Decodes a run list whose first run starts at `firstVcn`. Offsets are signed and relative
// to the previous run; a run without offset bytes is sparse. Decoding stops at the end
// byte, at a malformed header, at the end of the bytes, at an LCN that would leave the
// 63-bit range, or after `maxRuns` runs.
std::vector<DataRun> DecodeRuns(std::span<const std::uint8_t> runList, std::uint64_t firstVcn,
                                std::size_t maxRuns = 65536);

struct FileNameValue {
    std::uint64_t parent = 0;    // low 32 bits of the parent reference
    std::uint64_t realSize = 0;  // 0x30
    std::uint8_t nameSpace = 0;  // 0x41: 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    std::string name;            // UTF-8
};

std::optional<FileNameValue> ReadFileName(std::span<const std::uint8_t> value);

struct StandardTimes {
    std::uint64_t created = 0;  // FILETIME, as stored
    std::uint64_t modified = 0;
    std::uint64_t accessed = 0;
};

std::optional<StandardTimes> ReadStandardInformation(std::span<const std::uint8_t> value);

struct AttributeListEntry {
    std::uint32_t type = 0;
    std::uint64_t lowestVcn = 0;
    std::uint64_t record = 0;  // low 32 bits of the reference
};

// The entries of an attribute list, up to an end-type entry, a length of 0 or the end.
std::vector<AttributeListEntry> ReadAttributeList(std::span<const std::uint8_t> value);

}  // namespace duzez::filesystems::ntfs
