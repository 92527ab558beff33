// The texts every command shares: sizes both ways, durations, file times and --match.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>

#include "cli/human_units.h"
#include "cli/name_patterns.h"
#include "cli/terminal_width.h"
#include "cli/time_text.h"

namespace {

using duzez::cli::NamePatterns;

TEST(CliText, SizesUsePowersOfTenWithThreeDigits) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 bytes"},     {1, "1 byte"},         {999, "999 bytes"},    {1000, "1.0 kB"},
        {1536, "1.5 kB"},   {99949, "99.9 kB"},    {99950, "100 kB"},     {999499, "999 kB"},
        {999500, "1.0 MB"}, {21400000, "21.4 MB"}, {136000000, "136 MB"}, {64000000000, "64.0 GB"},
        {~0ull, "18.4 EB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(duzez::cli::HumanSize(bytes), text) << bytes;
}

TEST(CliText, ExactCountsAreGroupedByThousands) {
    EXPECT_EQ(duzez::cli::GroupedDigits(0), "0");
    EXPECT_EQ(duzez::cli::GroupedDigits(999), "999");
    EXPECT_EQ(duzez::cli::GroupedDigits(1000), "1,000");
    EXPECT_EQ(duzez::cli::GroupedDigits(31914983424), "31,914,983,424");
}

TEST(CliText, SizesAreReadWithTheirUnits) {
    const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
        {"4096", 4096},
        {"10MB", 10000000},
        {"10 mb", 10000000},
        {"1.5GB", 1500000000},
        {"64k", 64000},
        {"2MiB", 2 * 1048576},
        {"1KiB", 1024},
        {"512B", 512},
        {"18446744073709551615", ~0ull},
        {"18446744073709551616", std::nullopt},
        {"20000000TB", std::nullopt},
        {"", std::nullopt},
        {"MB", std::nullopt},
        {"-5", std::nullopt},
        {"10 parsecs", std::nullopt},
        {"1.2.3", std::nullopt},
    };
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(duzez::cli::ParseSize(text), bytes) << text;
}

// Wide characters take two columns: a path of photos named in Japanese still fits.
TEST(CliText, TextIsMeasuredAndCutInTerminalColumns) {
    EXPECT_EQ(duzez::cli::ColumnsOf("IMG_0001.JPG"), 12u);
    EXPECT_EQ(duzez::cli::ColumnsOf("\u5199\u771f.jpg"), 8u);  // two wide characters
    EXPECT_EQ(duzez::cli::ColumnsOf("e\u0301t\u00e9"), 3u);    // a combining accent takes none
    EXPECT_EQ(duzez::cli::ColumnsOf("\xff\xfe"), 2u);          // stray bytes take one each
    const struct {
        const char* text;
        std::size_t columns;
        const char* shortened;
    } cases[] = {
        {"/DCIM/100CANON/IMG_0001.JPG", 40, "/DCIM/100CANON/IMG_0001.JPG"},
        {"/DCIM/100CANON/IMG_0001.JPG", 15, "/DCIM/1\u2026001.JPG"},
        {"/\u5199\u771f/\u5199\u771f.jpg", 10, "/\u5199\u2026\u771f.jpg"},
        {"/abc", 0, ""},
    };
    for (const auto& c : cases) {
        const std::string shortened = duzez::cli::ShortenMiddle(c.text, c.columns);
        EXPECT_EQ(shortened, c.shortened) << c.text;
        EXPECT_LE(duzez::cli::ColumnsOf(shortened), c.columns) << c.text;
    }
    EXPECT_EQ(duzez::cli::FitColumns("IMG_0001.JPG", 8), "IMG_0...");
}

TEST(CliText, ClockTextShowsHoursOnlyWhenThereAreAny) {
    EXPECT_EQ(duzez::cli::ClockText(0.4), "00:00");
    EXPECT_EQ(duzez::cli::ClockText(61), "01:01");
    EXPECT_EQ(duzez::cli::ClockText(3733), "1:02:13");
    EXPECT_EQ(duzez::cli::ClockText(-3), "00:00");
}

// 2024-05-01 10:00:00 UTC as a FILETIME.
constexpr std::uint64_t kMayFirst = (1714557600ull + 11644473600ull) * 10000000ull;

class CliTimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        if (zone != nullptr)
            saved_ = zone;
        ::setenv("TZ", "Europe/Berlin", 1);
        ::tzset();
    }
    void TearDown() override {
        if (saved_)
            ::setenv("TZ", saved_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    std::optional<std::string> saved_;
};

TEST_F(CliTimeTest, UtcTimesCarryThisMachinesOffsetAndLocalTimesNone) {
    if (duzez::cli::IsoTime(kMayFirst, true) == "2024-05-01T10:00:00+00:00")
        GTEST_SKIP() << "no zone data (tzdata) on this machine";
    EXPECT_EQ(duzez::cli::IsoTime(kMayFirst, true), "2024-05-01T12:00:00+02:00");
    EXPECT_EQ(duzez::cli::IsoTime(kMayFirst, false), "2024-05-01T10:00:00");
    EXPECT_EQ(duzez::cli::ShortTime(kMayFirst, true), "2024-05-01 12:00");
    EXPECT_EQ(duzez::cli::ShortTime(kMayFirst, false), "2024-05-01 10:00");
    // Winter: the offset follows the date, not today.
    const std::uint64_t january = kMayFirst - 120ull * 86400 * 10000000;
    EXPECT_EQ(duzez::cli::IsoTime(january, true), "2024-01-02T11:00:00+01:00");
}

TEST_F(CliTimeTest, NoTimeIsNullNotAnEmptyText) {
    EXPECT_TRUE(duzez::cli::IsoTime(0, true).is_null());
    EXPECT_TRUE(duzez::cli::IsoTime(0, false).is_null());
    EXPECT_EQ(duzez::cli::ShortTime(0, false), "");
}

TEST(CliText, MatchTakesAnyOfSeveralPatternsAndPathsWhenTheyHoldASlash) {
    const NamePatterns raw({"*.jpg", "*.CR2"});
    EXPECT_TRUE(raw.Matches("IMG_1.JPG", "/DCIM/IMG_1.JPG"));
    EXPECT_TRUE(raw.Matches("IMG_1.cr2", "/DCIM/IMG_1.cr2"));
    EXPECT_FALSE(raw.Matches("IMG_1.png", "/DCIM/IMG_1.png"));
    // A name pattern never matches across folders.
    EXPECT_FALSE(NamePatterns({"DCIM*"}).Matches("x.jpg", "/DCIM/x.jpg"));

    const NamePatterns folder({"DCIM/*/*.jpg"});
    EXPECT_TRUE(folder.Matches("a.jpg", "/DCIM/100CANON/a.jpg"));
    EXPECT_TRUE(folder.Matches("a.jpg", "/Partition 1 (FAT32)/DCIM/100CANON/a.jpg"));
    EXPECT_FALSE(folder.Matches("a.jpg", "/DCIM/a.jpg"));
    EXPECT_FALSE(folder.Matches("a.jpg", "/DCIM/100CANON/sub/a.jpg"));

    const NamePatterns rooted({"/DCIM/*"});
    EXPECT_TRUE(rooted.Matches("a.jpg", "/DCIM/a.jpg"));
    EXPECT_FALSE(rooted.Matches("a.jpg", "/Backup/DCIM/a.jpg"));
    EXPECT_TRUE(NamePatterns().Matches("anything", "/anything"));
}

}  // namespace
