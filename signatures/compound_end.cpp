#include "signatures/compound_end.h"

namespace duzez::signatures {
namespace {

constexpr std::uint32_t kMaxRegular = 0xFFFFFFFA;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kFatSector = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint64_t kHeaderDifat = 109;  // FAT sector numbers the header holds

// Sums of a set of sector numbers and of their squares: the sectors the DIFAT lists against
// those the FAT marks, compared without keeping either list.
struct SectorSet {
    std::uint64_t count = 0;
    std::uint64_t sum = 0;
    std::uint64_t squares = 0;
    void Add(std::uint64_t sector) {
        ++count;
        sum += sector;
        squares += sector * sector;
    }
    bool operator==(const SectorSet&) const = default;
};

}  // namespace

std::optional<std::uint64_t> CompoundDocumentEnd(FileBytes& bytes) {
    if (bytes.Big32(0) != 0xD0CF11E0u || bytes.Big32(4) != 0xA1B11AE1u)
        return std::nullopt;
    const auto major = bytes.Little16(26);
    const auto order = bytes.Little16(28);
    const auto shift = bytes.Little16(30);
    const auto miniShift = bytes.Little16(32);
    const auto fatSectors = bytes.Little32(44);
    const auto firstDirectory = bytes.Little32(48);
    const auto firstDifat = bytes.Little32(68);
    const auto difatSectors = bytes.Little32(72);
    if (!major || !shift || !fatSectors || !firstDirectory || !firstDifat || !difatSectors ||
        order != 0xFFFE || miniShift != 6 ||
        !((*major == 3 && *shift == 9) || (*major == 4 && *shift == 12)))
        return std::nullopt;
    const std::uint64_t sectorSize = std::uint64_t{1} << *shift;
    const std::uint64_t perSector = sectorSize / 4;
    // Sectors that fit within the bound after the header's own.
    const std::uint64_t available = bytes.Limit() / sectorSize;
    if (available < 2 || *fatSectors == 0 || *fatSectors > available - 1)
        return std::nullopt;
    const std::uint64_t sectors = available - 1;
    const std::uint64_t overflow = *fatSectors > kHeaderDifat ? *fatSectors - kHeaderDifat : 0;
    if (*difatSectors != (overflow + perSector - 2) / (perSector - 1))
        return std::nullopt;
    const std::uint64_t entries = *fatSectors * perSector;
    const auto offset = [sectorSize](std::uint64_t sector) { return (sector + 1) * sectorSize; };

    // The FAT in order, sector by sector as the DIFAT lists them, nothing of it kept.
    std::optional<std::uint64_t> highest;
    SectorSet fatListed, fatMarked, difatListed, difatMarked;
    std::uint64_t difat = *firstDifat;
    bool directoryInUse = false;
    for (std::uint64_t i = 0; i < *fatSectors; ++i) {
        std::optional<std::uint32_t> sector;
        if (i < kHeaderDifat) {
            sector = bytes.Little32(76 + 4 * i);
        } else {
            const std::uint64_t slot = (i - kHeaderDifat) % (perSector - 1);
            if (slot == 0 && i > kHeaderDifat) {
                // The last slot of a DIFAT sector links to the next.
                const auto next = bytes.Little32(offset(difat) + 4 * (perSector - 1));
                if (!next)
                    return std::nullopt;
                difat = *next;
            }
            if (difat > kMaxRegular || difat >= sectors)
                return std::nullopt;
            if (slot == 0)
                difatListed.Add(difat);
            sector = bytes.Little32(offset(difat) + 4 * slot);
        }
        if (!sector || *sector > kMaxRegular || *sector >= sectors)
            return std::nullopt;
        fatListed.Add(*sector);
        for (std::uint64_t k = 0; k < perSector; ++k) {
            const auto next = bytes.Little32(offset(*sector) + 4 * k);
            if (!next)
                return std::nullopt;
            if (*next == kFree)
                continue;
            const std::uint64_t index = i * perSector + k;
            if (*next == kFatSector)
                fatMarked.Add(index);
            else if (*next == kDifatSector)
                difatMarked.Add(index);
            else if (*next != kEndOfChain && (*next > kMaxRegular || *next >= entries))
                return std::nullopt;  // a link to no sector
            highest = index;
            directoryInUse = directoryInUse || index == *firstDirectory;
        }
    }
    // The FAT marks as its own exactly the sectors the DIFAT lists, and as DIFAT exactly
    // those of the DIFAT chain: a loop or a stray number in either list shows here.
    if (!highest || !(fatListed == fatMarked) || !(difatListed == difatMarked) || !directoryInUse)
        return std::nullopt;
    const std::uint64_t end = offset(*highest + 1);
    if (end > bytes.Limit())
        return std::nullopt;
    return end;
}

}  // namespace duzez::signatures
