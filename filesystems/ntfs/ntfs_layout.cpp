#include "filesystems/ntfs/ntfs_layout.h"

#include <cstring>
#include <limits>

#include "platform/byte_order.h"
#include "platform/text_encoding.h"

namespace duzez::filesystems::ntfs {
namespace {

using platform::ReadLe;

template <typename T>
T Le(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return ReadLe<T>(bytes, offset).value_or(T{});
}

std::optional<Attribute> AttributeAt(std::span<const std::uint8_t> record, std::size_t offset) {
    const auto type = ReadLe<std::uint32_t>(record, offset);
    if (!type || *type == AttributeType::End)
        return std::nullopt;
    const auto length = ReadLe<std::uint32_t>(record, offset + 4);
    // A header is at least 16 bytes; a length that runs past the record ends the walk.
    if (!length || *length < 16 || *length > record.size() - offset)
        return std::nullopt;
    Attribute attribute;
    attribute.offset = static_cast<std::uint32_t>(offset);
    attribute.type = *type;
    attribute.length = *length;
    attribute.nonResident = record[offset + 8] != 0;
    attribute.nameLength = record[offset + 9];
    attribute.flags = Le<std::uint16_t>(record, offset + 0x0C);
    return attribute;
}

std::optional<Attribute> FindFrom(std::span<const std::uint8_t> record, std::size_t offset,
                                  std::uint32_t type) {
    // Every step moves on by at least 16 bytes, so the walk ends within the record.
    while (const auto attribute = AttributeAt(record, offset)) {
        if (attribute->type == type)
            return attribute;
        offset += attribute->length;
    }
    return std::nullopt;
}

}  // namespace

std::optional<BootParameters> ReadBootParameters(std::span<const std::uint8_t> boot) {
    if (boot.size() < 0x50)
        return std::nullopt;
    BootParameters p;
    p.bytesPerSector = Le<std::uint16_t>(boot, 0x0B);
    p.sectorsPerCluster = boot[0x0D];
    p.totalSectors = Le<std::uint64_t>(boot, 0x28);
    p.mftCluster = Le<std::uint64_t>(boot, 0x30);
    p.mirrorCluster = Le<std::uint64_t>(boot, 0x38);
    p.clustersPerRecord = Le<std::uint32_t>(boot, 0x40);
    p.serialNumber = Le<std::uint64_t>(boot, 0x48);
    return p;
}

std::optional<std::uint32_t> RecordSizeFromBoot(std::uint32_t clustersPerRecord,
                                                std::uint32_t clusterSize) {
    const auto low = static_cast<std::int8_t>(clustersPerRecord & 0xFF);
    std::uint64_t size = 0;
    if (low < 0) {
        if (-low >= 32)
            return std::nullopt;
        size = std::uint64_t{1} << -low;
    } else {
        size = std::uint64_t{static_cast<std::uint8_t>(low)} * clusterSize;
    }
    if (size < kMinRecordSize || size > kMaxRecordSize)
        return std::nullopt;
    return static_cast<std::uint32_t>(size);
}

bool HasFileSignature(std::span<const std::uint8_t> record) {
    return record.size() >= 4 && std::memcmp(record.data(), "FILE", 4) == 0;
}

std::optional<RecordHeader> ReadRecordHeader(std::span<const std::uint8_t> record) {
    if (record.size() < 0x30 || !HasFileSignature(record))
        return std::nullopt;
    RecordHeader h;
    h.updateSequenceOffset = Le<std::uint16_t>(record, 0x04);
    h.updateSequenceCount = Le<std::uint16_t>(record, 0x06);
    h.firstAttribute = Le<std::uint16_t>(record, 0x14);
    h.flags = Le<std::uint16_t>(record, 0x16);
    h.bytesAllocated = Le<std::uint32_t>(record, 0x1C);
    h.recordNumber = Le<std::uint32_t>(record, 0x2C);
    return h;
}

bool ApplyFixups(std::span<std::uint8_t> record) {
    // The update sequence protects every 512 bytes of a record, whatever the sector size:
    // each stride's last two bytes must hold the sequence number, and get back what the
    // array saved for them. A stride that does not hold it was torn in writing.
    constexpr std::size_t kStride = 512;
    const auto header = ReadRecordHeader(record);
    if (!header)
        return false;
    const std::size_t array = header->updateSequenceOffset;
    if (header->updateSequenceCount == 0 || array + 2 > record.size())
        return false;
    const std::uint16_t sequence = Le<std::uint16_t>(record, array);
    for (std::size_t i = 1; i < header->updateSequenceCount; ++i) {
        const std::size_t entry = array + 2 * i;
        const std::size_t target = i * kStride - 2;
        if (entry + 2 > record.size() || target + 2 > record.size())
            break;
        if (Le<std::uint16_t>(record, target) != sequence)
            return false;
        std::memmove(record.data() + target, record.data() + entry, 2);
    }
    return true;
}

bool AttributesWalkable(std::span<const std::uint8_t> record) {
    const auto header = ReadRecordHeader(record);
    return header && header->firstAttribute >= 0x18 &&
           std::size_t{header->firstAttribute} + 4 <= record.size();
}

std::optional<Attribute> FindAttribute(std::span<const std::uint8_t> record, std::uint32_t type) {
    if (!AttributesWalkable(record))
        return std::nullopt;
    return FindFrom(record, Le<std::uint16_t>(record, 0x14), type);
}

std::optional<Attribute> FindNextAttribute(std::span<const std::uint8_t> record,
                                           const Attribute& after, std::uint32_t type) {
    return FindFrom(record, std::size_t{after.offset} + after.length, type);
}

std::optional<std::uint32_t> ResidentValueOffset(std::span<const std::uint8_t> record,
                                                 const Attribute& attribute) {
    if (attribute.nonResident || attribute.length < 0x18)
        return std::nullopt;
    const auto length = Le<std::uint32_t>(record, attribute.offset + 0x10);
    const auto offset = Le<std::uint16_t>(record, attribute.offset + 0x14);
    if (offset > attribute.length || length > attribute.length - offset)
        return std::nullopt;
    return attribute.offset + offset;
}

std::optional<std::span<const std::uint8_t>> ResidentValue(std::span<const std::uint8_t> record,
                                                           const Attribute& attribute) {
    const auto start = ResidentValueOffset(record, attribute);
    if (!start)
        return std::nullopt;
    return record.subspan(*start, Le<std::uint32_t>(record, attribute.offset + 0x10));
}

std::optional<NonResidentHeader> ReadNonResident(std::span<const std::uint8_t> record,
                                                 const Attribute& attribute) {
    if (!attribute.nonResident || attribute.length < 0x40)
        return std::nullopt;
    const std::size_t at = attribute.offset;
    const auto runs = Le<std::uint16_t>(record, at + 0x20);
    if (runs >= attribute.length)
        return std::nullopt;
    NonResidentHeader h;
    h.lowestVcn = Le<std::uint64_t>(record, at + 0x10);
    h.compressionUnit = Le<std::uint16_t>(record, at + 0x22);
    h.realSize = Le<std::uint64_t>(record, at + 0x30);
    h.initializedSize = Le<std::uint64_t>(record, at + 0x38);
    h.runList = record.subspan(at + runs, attribute.length - runs);
    return h;
}

std::vector<DataRun> DecodeRuns(std::span<const std::uint8_t> runList, std::uint64_t firstVcn,
                                std::size_t maxRuns) {
    std::vector<DataRun> runs;
    constexpr auto kMaxLcn = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::size_t at = 0;
    std::int64_t lcn = 0;
    std::uint64_t vcn = firstVcn;
    while (at < runList.size() && runs.size() < maxRuns) {
        const std::uint8_t header = runList[at];
        if (header == 0)
            break;
        const unsigned lengthBytes = header & 0x0F;
        const unsigned offsetBytes = header >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 ||
            at + 1 + lengthBytes + offsetBytes > runList.size()) {
            break;
        }
        std::uint64_t length = 0;
        for (unsigned i = 0; i < lengthBytes; ++i)
            length |= std::uint64_t{runList[at + 1 + i]} << (8 * i);
        std::uint64_t rawOffset = 0;
        for (unsigned i = 0; i < offsetBytes; ++i)
            rawOffset |= std::uint64_t{runList[at + 1 + lengthBytes + i]} << (8 * i);
        if (offsetBytes != 0 && offsetBytes < 8 && (rawOffset >> (8 * offsetBytes - 1)) != 0)
            rawOffset |= ~std::uint64_t{0} << (8 * offsetBytes);  // sign-extend
        const auto offset = static_cast<std::int64_t>(rawOffset);
        if (length == 0 || length > kMaxLcn || vcn > kMaxLcn - length)
            break;
        DataRun run;
        run.length = length;
        run.firstVcn = vcn;
        if (offsetBytes == 0) {
            run.sparse = true;
            run.lcn = static_cast<std::uint64_t>(lcn);
        } else {
            // Overflow-safe: both are within the 63-bit range.
            if ((offset > 0 && lcn > std::numeric_limits<std::int64_t>::max() - offset) ||
                lcn + offset < 0) {
                break;
            }
            lcn += offset;
            run.lcn = static_cast<std::uint64_t>(lcn);
        }
        runs.push_back(run);
        vcn += length;
        at += 1 + lengthBytes + offsetBytes;
    }
    return runs;
}

std::optional<FileNameValue> ReadFileName(std::span<const std::uint8_t> value) {
    if (value.size() < 0x42)
        return std::nullopt;
    const std::size_t units = value[0x40];
    if (0x42 + 2 * units > value.size())
        return std::nullopt;
    FileNameValue name;
    name.parent = Le<std::uint32_t>(value, 0x00);
    name.realSize = Le<std::uint64_t>(value, 0x30);
    name.nameSpace = value[0x41];
    name.name = platform::Utf16LeToUtf8(value.subspan(0x42, 2 * units));
    return name;
}

std::optional<StandardTimes> ReadStandardInformation(std::span<const std::uint8_t> value) {
    if (value.size() < 0x20)
        return std::nullopt;
    return StandardTimes{Le<std::uint64_t>(value, 0x00), Le<std::uint64_t>(value, 0x08),
                         Le<std::uint64_t>(value, 0x18)};
}

std::vector<AttributeListEntry> ReadAttributeList(std::span<const std::uint8_t> value) {
    std::vector<AttributeListEntry> entries;
    std::size_t at = 0;
    while (at + 0x18 <= value.size()) {
        const auto type = Le<std::uint32_t>(value, at);
        const auto length = Le<std::uint16_t>(value, at + 4);
        if (type == AttributeType::End || length == 0)
            break;
        entries.push_back(
            {type, Le<std::uint64_t>(value, at + 0x08), Le<std::uint32_t>(value, at + 0x10)});
        at += length;
    }
    return entries;
}

}  // namespace duzez::filesystems::ntfs
