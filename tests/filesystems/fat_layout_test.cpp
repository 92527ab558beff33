#include "filesystems/fat/fat_layout.h"

#include <gtest/gtest.h>

#include <cstring>

namespace duzez::filesystems::fat {
namespace {

std::vector<std::uint8_t> Entry(const char (&name)[12], std::uint8_t attributes = 0x20) {
    std::vector<std::uint8_t> entry(32, 0);
    std::memcpy(entry.data(), name, 11);
    entry[0x0B] = attributes;
    return entry;
}

TEST(FatEntries, ValidityRules) {
    EXPECT_TRUE(IsValidEntry(Entry("PHOTO   JPG")));
    EXPECT_FALSE(IsValidEntry(Entry("photo   JPG"))) << "lower case";
    EXPECT_FALSE(IsValidEntry(Entry("PH*TO   JPG")));
    EXPECT_FALSE(IsValidEntry(Entry(" HOTO   JPG")));
    EXPECT_TRUE(IsValidEntry(Entry("\xE5HOTO   JPG")));
    EXPECT_TRUE(IsValidEntry(Entry("\x05hoto   jpg"))) << "0x05 first: no further checks";
    auto hundredths = Entry("PHOTO   JPG");
    hundredths[0x0D] = 200;
    EXPECT_FALSE(IsValidEntry(hundredths));
    EXPECT_FALSE(IsValidEntry(Entry("PHOTO   JPG", 0xC0 | 0x20)));
    auto longName = Entry("\x41p\0h\0o\0t\0o\0", 0x0F);
    EXPECT_TRUE(IsValidEntry(longName));
    longName[0x1A] = 1;
    EXPECT_FALSE(IsValidEntry(longName)) << "a long-name entry has no cluster";
    EXPECT_TRUE(IsDotEntry(Entry("..         ", 0x10)));
    EXPECT_FALSE(IsDotEntry(Entry("..         ", 0x20)));
}

// Long-name entries for `text` (nearest the short entry last in the vector, as on disk),
// then the short entry.
std::vector<std::uint8_t> Directory(const std::u16string& text, const char (&shortName)[12]) {
    const std::size_t parts = text.size() / 13 + 1;
    std::vector<std::uint8_t> directory((parts + 1) * 32, 0);
    const auto shortEntry = Entry(shortName);
    static constexpr std::size_t kSlots[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t part = 0; part < parts; ++part) {
        std::uint8_t* entry = directory.data() + (parts - 1 - part) * 32;
        entry[0] = static_cast<std::uint8_t>((part + 1) | (part + 1 == parts ? 0x40 : 0));
        entry[0x0B] = 0x0F;
        entry[0x0D] = ShortNameChecksum(shortEntry);
        for (std::size_t i = 0; i < 13; ++i) {
            const std::size_t at = part * 13 + i;
            const char16_t unit = at < text.size() ? text[at] : at == text.size() ? 0 : 0xFFFF;
            entry[kSlots[i]] = static_cast<std::uint8_t>(unit);
            entry[kSlots[i] + 1] = static_cast<std::uint8_t>(unit >> 8);
        }
    }
    std::copy(shortEntry.begin(), shortEntry.end(), directory.end() - 32);
    return directory;
}

TEST(FatEntries, NamesLongAndShort) {
    const auto directory = Directory(u"Holiday.jpeg", "HOLIDA~1JPE");
    EXPECT_EQ(BuildName(directory, 1), "Holiday.jpeg");
    EXPECT_EQ(BuildName(Directory(u"Long Name Photo 2024.jpeg", "LONGNA~1JPE"), 2),
              "Long Name Photo 2024.jpeg");
    EXPECT_EQ(BuildName(Entry("\xE5HOTO   JPG"), 0), "_HOTO.JPG");
    EXPECT_EQ(BuildName(Entry("README     "), 0), "README");
    EXPECT_EQ(BuildName(Entry("CAF\x90    TXT"), 0), "CAF\u00c9.TXT") << "CP437";
}

// Long-name entries that do not belong whole to the short entry give way to its 8.3 name.
TEST(FatEntries, ALongNameIsUsedOnlyWhenItsRunIsWhole) {
    auto wrongSum = Directory(u"Holiday.jpeg", "HOLIDA~1JPE");
    wrongSum[0x0D] ^= 0x55;
    EXPECT_EQ(BuildName(wrongSum, 1), "HOLIDA~1.JPE") << "another file's long name";

    // The part nearest the short entry was overwritten by a newer, shorter run's last part.
    auto missing = Directory(u"Long Name Photo 2024.jpeg", "LONGNA~1JPE");
    missing.erase(missing.begin(), missing.begin() + 32);  // part 2 gone
    EXPECT_EQ(BuildName(missing, 1), "LONGNA~1.JPE") << "not \"Long Name Pho\"";

    // Deleted: the part numbers are gone, so the farthest part must end the name.
    auto deleted = Directory(u"Long Name Photo 2024.jpeg", "LONGNA~1JPE");
    for (std::size_t at = 0; at < deleted.size(); at += 32)
        deleted[at] = 0xE5;
    EXPECT_EQ(BuildName(deleted, 2), "Long Name Photo 2024.jpeg");
    auto cut = deleted;
    cut.erase(cut.begin(), cut.begin() + 32);
    EXPECT_EQ(BuildName(cut, 1), "_ONGNA~1.JPE");
    // A name of exactly 13 or 26 characters has no end mark, but keeps its extension.
    for (const std::u16string& full :
         {std::u16string(u"holiday_1.jpg"), std::u16string(u"Photo 2023-01-01 beach.jpg")}) {
        auto exact = Directory(full, "PHOTO2~1JPG");
        exact.erase(exact.begin(), exact.begin() + 32);  // no room left for an end mark
        for (std::size_t at = 0; at < exact.size(); at += 32)
            exact[at] = 0xE5;
        EXPECT_EQ(BuildName(exact, exact.size() / 32 - 1), std::string(full.begin(), full.end()));
    }
}

// A cluster of photo data whose first 32 bytes happen to read as an entry is no folder.
TEST(FatEntries, ADirectoryFoundByTheScanMustBePlausibleAsAWhole) {
    const auto put = [](std::vector<std::uint8_t>& cluster, std::size_t slot,
                        std::vector<std::uint8_t> entry) {
        std::copy(entry.begin(), entry.end(), cluster.begin() + slot * 32);
    };
    const auto file = [](const char(&name)[12], std::uint16_t first, std::uint32_t size) {
        auto entry = Entry(name);
        entry[0x1A] = static_cast<std::uint8_t>(first);
        entry[0x1B] = static_cast<std::uint8_t>(first >> 8);
        std::memcpy(entry.data() + 0x1C, &size, 4);
        entry[0x18] = 0x21;  // 1980-01-01
        return entry;
    };
    std::vector<std::uint8_t> real(2048, 0);
    put(real, 0, file(".          ", 5, 0));
    real[0x0B] = 0x10;
    put(real, 1, file("..         ", 0, 0));
    real[32 + 0x0B] = 0x10;
    put(real, 2, file("IMG_0001JPG", 6, 400000));
    EXPECT_TRUE(PlausibleDirectory(real, 1000, 100 << 20));

    auto farCluster = real;
    put(farCluster, 3, file("IMG_0002JPG", 60000, 1000));
    EXPECT_FALSE(PlausibleDirectory(farCluster, 1000, 100 << 20)) << "a cluster past the end";
    auto huge = real;
    put(huge, 3, file("IMG_0002JPG", 7, 966999463));
    EXPECT_FALSE(PlausibleDirectory(huge, 1000, 100 << 20)) << "larger than the volume";
    auto dotAlone = real;
    put(dotAlone, 1, file("IMG_0003JPG", 8, 10));
    EXPECT_FALSE(PlausibleDirectory(dotAlone, 1000, 100 << 20)) << "'.' without '..'";
    auto badDate = real;
    put(badDate, 3, file("IMG_0004JPG", 9, 10));
    badDate[3 * 32 + 0x18] = 0x00;
    badDate[3 * 32 + 0x19] = 0x03;  // month 8, day 0
    badDate[3 * 32 + 0x18] = 0x00;
    EXPECT_FALSE(PlausibleDirectory(badDate, 1000, 100 << 20));

    // One valid-looking entry, then photo bytes.
    std::vector<std::uint8_t> photo(2048);
    for (std::size_t i = 0; i < photo.size(); ++i)
        photo[i] = static_cast<std::uint8_t>(i * 131 + 7);
    put(photo, 0, file("MZBTCU  RX ", 5, 1000));
    EXPECT_FALSE(PlausibleDirectory(photo, 1000, 100 << 20));
    EXPECT_FALSE(PlausibleDirectory(std::vector<std::uint8_t>(2048, 0), 1000, 100 << 20))
        << "an empty cluster lists nothing";
}

TEST(FatEntries, DatesAndTables) {
    // 2004-02-14 12:51:16
    const std::uint16_t date = static_cast<std::uint16_t>(((2004 - 1980) << 9) | (2 << 5) | 14);
    const std::uint16_t time = static_cast<std::uint16_t>((12 << 11) | (51 << 5) | 8);
    EXPECT_EQ(FatTimeToFileTime(date, time), (1076763076ull + 11644473600ull) * 10000000ull);
    EXPECT_EQ(FatTimeToFileTime(static_cast<std::uint16_t>((2 << 5) | 30), 0), 0u) << "30 February";
    EXPECT_EQ(FatTimeToFileTime(0, 0), 0u);

    FatTable fat12(Variant::Fat12, {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00});
    EXPECT_EQ(fat12.Entry(2), 0x003u);
    EXPECT_EQ(fat12.Entry(3), 0x004u);
    EXPECT_FALSE(fat12.Entry(4)) << "beyond the table";
    EXPECT_TRUE(fat12.IsEndOfChain(0xFFF));
    FatTable fat32(Variant::Fat32, {0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(fat32.Entry(2), 0x0FFFFFFFu) << "the top four bits are cleared";
    EXPECT_TRUE(fat32.IsEndOfChain(*fat32.Entry(2)));
}

// The data area is what the boot sector leaves after the reserved sectors, the FATs and the
// root directory; its free clusters are those whose entry is 0.
TEST(FatTables, DataClustersAndFreeEntries) {
    BootParameters boot;
    boot.bytesPerSector = 512;
    boot.sectorsPerCluster = 4;
    boot.reservedSectors = 4;
    boot.fatCount = 2;
    boot.rootEntries = 512;  // 32 sectors
    boot.sectorsPerFat16 = 10;
    boot.smallSectors = 4 + 20 + 32 + 4 * 100 + 3;
    EXPECT_EQ(DataClusterCount(boot, Variant::Fat16), 100u) << "a partial cluster is none";
    boot.largeSectors = 999999;
    EXPECT_EQ(DataClusterCount(boot, Variant::Fat16), 100u) << "the small count comes first";
    boot.smallSectors = 0;
    boot.largeSectors = 56;
    EXPECT_EQ(DataClusterCount(boot, Variant::Fat16), std::nullopt) << "no data area";
    boot.sectorsPerCluster = 0;
    boot.largeSectors = 4000;
    EXPECT_EQ(DataClusterCount(boot, Variant::Fat16), std::nullopt);

    // FAT16: entries 0 and 1 are reserved; 2 is in use, 3 and 5 free, 4 bad.
    const FatTable table(Variant::Fat16,
                         {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xF7, 0xFF, 0x00, 0x00});
    EXPECT_EQ(FreeClusterCount(table, 4), 2u);
    EXPECT_EQ(FreeClusterCount(table, 3), 1u);
    EXPECT_EQ(FreeClusterCount(table, 5), std::nullopt) << "a table shorter than the data area";
    // FAT32 reads 28 bits: high bits alone do not make an entry used.
    const FatTable fat32(Variant::Fat32, {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 0x00,
                                          0x00, 0x00, 0xF0, 0x03, 0x00, 0x00, 0x00});
    EXPECT_EQ(FreeClusterCount(fat32, 2), 1u);
}

}  // namespace
}  // namespace duzez::filesystems::fat
