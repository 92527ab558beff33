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

TEST(FatEntries, NamesLongAndShort) {
    // "Holiday.jpeg" in one long-name entry before its short entry.
    std::vector<std::uint8_t> directory(64, 0);
    const char16_t text[] = u"Holiday.jpeg";
    const std::size_t slots[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::size_t i = 0; i < 13; ++i) {
        const char16_t unit = i < 12 ? text[i] : 0;
        directory[slots[i]] = static_cast<std::uint8_t>(unit);
        directory[slots[i] + 1] = static_cast<std::uint8_t>(unit >> 8);
    }
    directory[0] = 0x41;
    directory[0x0B] = 0x0F;
    const auto shortEntry = Entry("HOLIDA~1JPE");
    std::copy(shortEntry.begin(), shortEntry.end(), directory.begin() + 32);
    EXPECT_EQ(BuildName(directory, 1), "Holiday.jpeg");
    EXPECT_EQ(BuildName(Entry("\xE5HOTO   JPG"), 0), "_HOTO.JPG");
    EXPECT_EQ(BuildName(Entry("README     "), 0), "README");
    EXPECT_EQ(BuildName(Entry("CAF\x90    TXT"), 0), "CAF\u00c9.TXT") << "CP437";
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

}  // namespace
}  // namespace duzez::filesystems::fat
