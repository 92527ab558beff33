#include "filesystems/fat/fat_layout.h"

#include <cstring>

#include "platform/byte_order.h"
#include "platform/code_page.h"
#include "platform/text_encoding.h"

namespace duzez::filesystems::fat {
namespace {

using platform::ReadLe;

constexpr std::uint8_t kAttributeLongName = 0x0F;
constexpr std::uint8_t kAttributeDirectory = 0x10;
constexpr std::uint8_t kDeletedMark = 0xE5;
constexpr std::uint8_t kDeletedKanji = 0x05;

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysSince1601(int year, unsigned month, unsigned day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t daysSince1970 = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return daysSince1970 + 134774;  // 1601-01-01 .. 1970-01-01
}

bool LeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

std::optional<BootParameters> ReadBootParameters(std::span<const std::uint8_t> boot) {
    if (boot.size() < 512)
        return std::nullopt;
    BootParameters p;
    p.bytesPerSector = *ReadLe<std::uint16_t>(boot, 0x0B);
    p.sectorsPerCluster = boot[0x0D];
    p.reservedSectors = *ReadLe<std::uint16_t>(boot, 0x0E);
    p.fatCount = boot[0x10];
    p.rootEntries = *ReadLe<std::uint16_t>(boot, 0x11);
    p.smallSectors = *ReadLe<std::uint16_t>(boot, 0x13);
    p.sectorsPerFat16 = *ReadLe<std::uint16_t>(boot, 0x16);
    p.largeSectors = *ReadLe<std::uint32_t>(boot, 0x20);
    p.sectorsPerFat32 = *ReadLe<std::uint32_t>(boot, 0x24);
    p.rootCluster = *ReadLe<std::uint32_t>(boot, 0x2C);
    return p;
}

std::optional<std::uint32_t> FatTable::Entry(std::uint32_t n) const {
    switch (variant_) {
        case Variant::Fat12: {
            const std::uint64_t at = std::uint64_t{n} * 3 / 2;
            const auto word = ReadLe<std::uint16_t>(bytes_, static_cast<std::size_t>(at));
            if (!word)
                return std::nullopt;
            return (n % 2 == 0) ? (*word & 0x0FFFu) : (*word >> 4);
        }
        case Variant::Fat16: {
            const auto word = ReadLe<std::uint16_t>(bytes_, std::size_t{n} * 2);
            if (!word)
                return std::nullopt;
            return *word;
        }
        case Variant::Fat32: {
            const auto word = ReadLe<std::uint32_t>(bytes_, std::size_t{n} * 4);
            if (!word)
                return std::nullopt;
            return *word & 0x0FFFFFFFu;
        }
    }
    return std::nullopt;
}

bool FatTable::IsEndOfChain(std::uint32_t value) const {
    switch (variant_) {
        case Variant::Fat12:
            return value >= 0xFF8 && value <= 0xFFF;
        case Variant::Fat16:
            return value >= 0xFFF8 && value <= 0xFFFF;
        case Variant::Fat32:
            return value >= 0x0FFFFFF8 && value <= 0x0FFFFFFF;
    }
    return true;
}

std::uint32_t FatTable::EntryCount() const {
    switch (variant_) {
        case Variant::Fat12:
            return static_cast<std::uint32_t>(bytes_.size() * 2 / 3);
        case Variant::Fat16:
            return static_cast<std::uint32_t>(bytes_.size() / 2);
        case Variant::Fat32:
            return static_cast<std::uint32_t>(bytes_.size() / 4);
    }
    return 0;
}

std::optional<std::uint32_t> DataClusterCount(const BootParameters& boot, Variant variant) {
    if (boot.bytesPerSector == 0 || boot.sectorsPerCluster == 0)
        return std::nullopt;
    const std::uint64_t total = boot.smallSectors != 0 ? boot.smallSectors : boot.largeSectors;
    const std::uint64_t perFat =
        variant == Variant::Fat32 ? boot.sectorsPerFat32 : boot.sectorsPerFat16;
    const std::uint64_t rootSectors =
        (std::uint64_t{boot.rootEntries} * kEntrySize + boot.bytesPerSector - 1) /
        boot.bytesPerSector;
    const std::uint64_t overhead = boot.reservedSectors + perFat * boot.fatCount + rootSectors;
    if (total <= overhead)
        return std::nullopt;
    const std::uint64_t clusters = (total - overhead) / boot.sectorsPerCluster;
    // Entries 0x0FFFFFF7 and up mark bad clusters and chain ends: no cluster has them.
    if (clusters == 0 || clusters > 0x0FFFFFF5)
        return std::nullopt;
    return static_cast<std::uint32_t>(clusters);
}

std::optional<std::uint32_t> FreeClusterCount(const FatTable& table, std::uint32_t clusterCount) {
    const std::uint64_t end = std::uint64_t{clusterCount} + 2;
    if (end > table.EntryCount())
        return std::nullopt;
    std::uint32_t free = 0;
    for (std::uint32_t n = 2; n < end; ++n) {
        if (table.Entry(n).value_or(1) == 0)
            ++free;
    }
    return free;
}

bool IsLongNameEntry(std::span<const std::uint8_t> entry) {
    return entry.size() >= kEntrySize && entry[0x0B] == kAttributeLongName;
}

bool IsValidShortName(std::span<const std::uint8_t> entry) {
    if (entry.size() < kEntrySize)
        return false;
    if (entry[0] == kDeletedKanji)
        return true;
    if (entry[0] == 0x00 || entry[0] == 0x20)
        return false;
    static constexpr char kForbidden[] = "\"*+,/:;<=>?[\\]|";
    for (std::size_t i = 0; i < 11; ++i) {
        const std::uint8_t c = entry[i];
        if (c < 0x20 || (c >= 'a' && c <= 'z'))
            return false;
        if (c < 0x80 && std::memchr(kForbidden, c, sizeof kForbidden - 1) != nullptr)
            return false;
    }
    return true;
}

bool IsValidEntry(std::span<const std::uint8_t> entry) {
    if (entry.size() < kEntrySize)
        return false;
    const std::uint8_t attributes = entry[0x0B];
    if ((attributes & 0xC0) != 0)
        return false;
    if ((attributes & 0x0F) == 0x0F) {
        return (attributes & 0xF0) == 0 && *ReadLe<std::uint16_t>(entry, 0x1A) == 0;
    }
    return IsValidShortName(entry) && entry[0x0D] <= 199;
}

namespace {

// A date field: zero (never set) or a real day from 1980 on.
bool PlausibleDate(std::uint16_t date) {
    const unsigned day = date & 0x1F;
    const unsigned month = (date >> 5) & 0x0F;
    return date == 0 || (day >= 1 && month >= 1 && month <= 12);
}

bool PlausibleTime(std::uint16_t time) {
    return (time & 0x1F) < 30 && ((time >> 5) & 0x3F) < 60 && (time >> 11) < 24;
}

}  // namespace

bool PlausibleDirectory(std::span<const std::uint8_t> cluster, std::uint64_t lastCluster,
                        std::uint64_t volumeBytes) {
    std::size_t entries = 0;
    for (std::size_t at = 0; at + kEntrySize <= cluster.size(); at += kEntrySize) {
        const auto entry = cluster.subspan(at, kEntrySize);
        if (entry[0] == 0x00)
            break;  // the end mark: what follows was never written
        if (!IsValidEntry(entry))
            return false;
        ++entries;
        if (entry[0x0B] == kAttributeLongName)
            continue;
        const std::uint32_t first = FirstCluster(entry);
        const std::uint32_t size = *ReadLe<std::uint32_t>(entry, 0x1C);
        const bool folder = (entry[0x0B] & kAttributeDirectory) != 0;
        if ((first != 0 && (first < 2 || first > lastCluster)) || size > volumeBytes ||
            (folder && size != 0) || !PlausibleDate(*ReadLe<std::uint16_t>(entry, 0x18)) ||
            !PlausibleTime(*ReadLe<std::uint16_t>(entry, 0x16)) ||
            !PlausibleDate(*ReadLe<std::uint16_t>(entry, 0x10))) {
            return false;
        }
        // A subdirectory's first cluster starts with "." and ".." in that order.
        if (at == 0 && entry[0] == '.' &&
            (cluster.size() < 2 * kEntrySize || cluster[kEntrySize] != '.' ||
             cluster[kEntrySize + 1] != '.')) {
            return false;
        }
    }
    return entries != 0;
}

bool IsDeletedEntry(std::span<const std::uint8_t> entry) {
    return entry[0] == kDeletedMark || entry[0] == kDeletedKanji;
}

bool IsDotEntry(std::span<const std::uint8_t> entry) {
    return (entry[0x0B] & kAttributeDirectory) != 0 && entry[0] == '.';
}

std::uint32_t FirstCluster(std::span<const std::uint8_t> entry) {
    return (std::uint32_t{*ReadLe<std::uint16_t>(entry, 0x14)} << 16) |
           *ReadLe<std::uint16_t>(entry, 0x1A);
}

std::uint8_t ShortNameChecksum(std::span<const std::uint8_t> entry) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 11; ++i)
        sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + entry[i]);
    return sum;
}

namespace {

constexpr std::size_t kLongNameChecksum = 0x0D;
constexpr std::uint8_t kLastLongNamePart = 0x40;
constexpr std::size_t kMaxLongNameParts = 20;  // 255 characters, 13 a part

// Whether the long-name entries `run` (nearest the short entry first) belong whole to
// `shortEntry`. A live run must carry the short name's checksum and the parts 1, 2, ... n
// with n marked last. A deleted run has lost its part numbers (and the short name its
// first character), so its parts must agree on one checksum and the farthest must end
// the name: a run cut by a newer entry would otherwise yield a name cut short.
bool LongNameRunIsWhole(const std::vector<std::span<const std::uint8_t>>& run,
                        std::span<const std::uint8_t> shortEntry, bool deleted) {
    if (run.empty() || run.size() > kMaxLongNameParts)
        return false;
    const std::uint8_t checksum = ShortNameChecksum(shortEntry);
    for (std::size_t k = 0; k < run.size(); ++k) {
        const auto part = run[k];
        if (part[kLongNameChecksum] != run.front()[kLongNameChecksum])
            return false;
        if (deleted)
            continue;
        const bool last = k + 1 == run.size();
        if (part[kLongNameChecksum] != checksum || (part[0] & 0x1F) != k + 1 ||
            ((part[0] & kLastLongNamePart) != 0) != last) {
            return false;
        }
    }
    if (!deleted)
        return true;
    // The farthest part holds the end of the name: a 0x0000 after it (0xFFFF pads the rest).
    const auto last = run.back();
    for (const std::size_t at :
         {0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E}) {
        if (*ReadLe<std::uint16_t>(last, at) == 0)
            return true;
    }
    // A name of exactly 13, 26... characters fills its last part: then it must end in the
    // extension the 8.3 name keeps, which a name cut short has lost.
    std::u16string units;
    for (const auto part : run) {
        for (const std::size_t at :
             {0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E}) {
            units.push_back(static_cast<char16_t>(*ReadLe<std::uint16_t>(part, at)));
        }
    }
    std::string extension;
    for (std::size_t i = 8; i < 11 && shortEntry[i] != ' '; ++i)
        extension.push_back(static_cast<char>(shortEntry[i]));
    if (extension.empty())
        return false;
    const std::size_t dot = units.rfind(u'.');
    if (dot == std::u16string::npos || units.size() - dot - 1 < extension.size())
        return false;
    for (std::size_t i = 0; i < extension.size(); ++i) {
        const char16_t unit = units[dot + 1 + i];
        const char16_t upper = unit >= u'a' && unit <= u'z' ? unit - u'a' + u'A' : unit;
        if (upper != static_cast<unsigned char>(extension[i]))
            return false;
    }
    return true;
}

}  // namespace

std::string BuildName(std::span<const std::uint8_t> directory, std::size_t index) {
    // Long-name entries stand before their short entry, the last part first.
    const auto shortEntry = directory.subspan(index * kEntrySize, kEntrySize);
    std::vector<std::span<const std::uint8_t>> run;
    for (std::size_t i = index; i > 0 && run.size() <= kMaxLongNameParts; --i) {
        const auto entry = directory.subspan((i - 1) * kEntrySize, kEntrySize);
        if (entry[0x0B] != kAttributeLongName)
            break;
        run.push_back(entry);
    }
    std::u16string units;
    if (LongNameRunIsWhole(run, shortEntry, IsDeletedEntry(shortEntry))) {
        for (const auto entry : run) {
            for (const std::size_t at :
                 {0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E}) {
                units.push_back(static_cast<char16_t>(*ReadLe<std::uint16_t>(entry, at)));
            }
        }
    }
    if (!units.empty()) {
        const std::size_t end = units.find(u'\0');
        if (end != std::u16string::npos)
            units.resize(end);
        // 0xFFFF pads the last part of a name.
        while (!units.empty() && units.back() == 0xFFFF)
            units.pop_back();
        if (!units.empty())
            return platform::Utf16ToUtf8(units);
    }
    const auto entry = directory.subspan(index * kEntrySize, kEntrySize);
    std::vector<std::uint8_t> name;
    for (std::size_t i = 0; i < 8 && entry[i] != ' '; ++i)
        name.push_back(entry[i]);
    if (IsDeletedEntry(entry) && !name.empty())
        name[0] = '_';
    if (entry[8] != ' ') {
        name.push_back('.');
        for (std::size_t i = 8; i < 11 && entry[i] != ' '; ++i)
            name.push_back(entry[i]);
    }
    return platform::Cp437ToUtf8(name);
}

std::uint64_t FatTimeToFileTime(std::uint16_t date, std::uint16_t time) {
    const unsigned day = date & 0x1F;
    const unsigned month = (date >> 5) & 0x0F;
    const int year = 1980 + (date >> 9);
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return 0;
    if (day > kDays[month - 1] + (month == 2 && LeapYear(year) ? 1 : 0))
        return 0;
    const unsigned seconds = (time & 0x1F) * 2;
    const unsigned minutes = (time >> 5) & 0x3F;
    const unsigned hours = time >> 11;
    if (hours > 23 || minutes > 59 || seconds > 59)
        return 0;
    const std::int64_t totalSeconds =
        DaysSince1601(year, month, day) * 86400 + hours * 3600 + minutes * 60 + seconds;
    return static_cast<std::uint64_t>(totalSeconds) * 10000000ull;
}

}  // namespace duzez::filesystems::fat
