#include "signatures/probes.h"

#include <string_view>
#include <vector>

#include "platform/byte_order.h"
#include "signatures/signature.h"

namespace duzez::signatures {
namespace {

using platform::ReadLe;

constexpr std::size_t kDirectoryEntry = 128;
constexpr std::size_t kDirectorySectors = 25;  // room for 100 entries
constexpr std::uint64_t kIsoDescriptorOffset = 32768;

struct Subtype {
    std::u16string_view name;
    std::int16_t type;
    bool prefix;
};

// In the order they are tried against each entry.
constexpr Subtype kSubtypes[] = {
    {u"Workbook", 101, false}, {u"WordDocument", 109, false}, {u"PowerPoint Document", 105, false},
    {u"Scene", 501, false},    {u"Props", 106, false},        {u"VisioDocument", 107, false},
    {u"Envelope", 104, false}, {u"Symbol ", 500, true},       {u"DocumentViewStyles", 520, false},
    {u"BodyText", 521, false},
};

char16_t Lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// The zero-terminated UTF-16 name at the start of an entry, within the bytes read.
std::u16string EntryName(std::span<const std::uint8_t> entries, std::size_t offset) {
    std::u16string name;
    for (std::size_t at = offset; at + 1 < entries.size(); at += 2) {
        const char16_t unit = static_cast<char16_t>(entries[at] | (entries[at + 1] << 8));
        if (unit == 0)
            return name;
        name.push_back(unit);
    }
    return u"\uFFFF";  // ran past what was read: matches nothing
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

void ProbeCompoundDocument(filesystems::FoundObject& item,
                           std::span<const std::uint8_t, 512> sector, const SectorReader& read) {
    const std::uint16_t shift = *ReadLe<std::uint16_t>(sector, 30) % 32;
    const std::uint64_t sectorSize = std::uint64_t{1} << shift;
    const std::uint64_t fatSectors = *ReadLe<std::uint32_t>(sector, 44);
    const std::uint64_t firstDirectory = *ReadLe<std::uint32_t>(sector, 48);
    item.Size = (sectorSize / 4) * (fatSectors * sectorSize);
    const std::uint64_t directory = (firstDirectory + 1) * sectorSize;
    std::vector<std::uint8_t> entries(kDirectorySectors * 512);
    if (read(entries, (item.Start + directory) / 512, kDirectorySectors) == 0)
        return;
    if (!SameIgnoringCase(EntryName(entries, 0), u"Root Entry"))
        return;
    for (std::size_t index = 0; index < 100; ++index) {
        const std::u16string name = EntryName(entries, index * kDirectoryEntry);
        for (const Subtype& subtype : kSubtypes) {
            const bool match =
                subtype.prefix
                    ? name.size() >= subtype.name.size() &&
                          SameIgnoringCase(std::u16string_view(name).substr(0, subtype.name.size()),
                                           subtype.name)
                    : SameIgnoringCase(name, subtype.name);
            if (match) {
                item.SignatureId = subtype.type;
                return;
            }
        }
    }
}

void ProbeItem(filesystems::FoundObject& item, std::span<const std::uint8_t, 512> sector,
               const SectorReader& read) {
    switch (item.SignatureId) {
        case FormatIds::CompoundDocument:
            ProbeCompoundDocument(item, sector, read);
            break;
        case FormatIds::SizeAtByte4:
            item.Size = std::uint64_t{*ReadLe<std::uint32_t>(sector, 4)} + 2048;
            break;
        case FormatIds::SizeAtByte2:
            item.Size = *ReadLe<std::uint32_t>(sector, 2);
            break;
        case FormatIds::StartsBefore32K:
            // The descriptor lies 32 KiB into the file; a hit closer to the volume's start
            // than that keeps its own offset rather than a start before the volume.
            if (item.Start >= kIsoDescriptorOffset)
                item.Start -= kIsoDescriptorOffset;
            break;
        default:
            break;
    }
}

}  // namespace duzez::signatures
