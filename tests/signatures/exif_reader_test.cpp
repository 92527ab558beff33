#include "signatures/exif_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "tests/signatures/memory_reader.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

std::span<const std::uint8_t> Span(const std::string& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

// One IFD entry before layout: its value's bytes as they go in the file.
struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::string value;
};

// A TIFF block written field by field, in either byte order.
class TiffBuilder {
  public:
    explicit TiffBuilder(bool little, std::string header = {}) : little_(little) {
        bytes =
            header.empty() ? (little ? std::string("II*\0", 4) : std::string("MM\0*", 4)) : header;
        bytes += U32(0);
    }

    std::string U16(std::uint16_t v) const { return little_ ? test::Le(v, 2) : test::Be(v, 2); }
    std::string U32(std::uint32_t v) const { return little_ ? test::Le(v, 4) : test::Be(v, 4); }
    void Set16(std::size_t at, std::uint16_t v) { bytes.replace(at, 2, U16(v)); }
    void Set32(std::size_t at, std::uint32_t v) { bytes.replace(at, 4, U32(v)); }

    Field Ascii(std::uint16_t tag, const std::string& text) const {
        return {tag, 2, static_cast<std::uint32_t>(text.size() + 1), text + '\0'};
    }
    Field Long(std::uint16_t tag, std::uint32_t v) const { return {tag, 4, 1, U32(v)}; }

    // Appends an IFD and its out-of-line values; returns where the IFD starts.
    std::uint32_t Ifd(const std::vector<Field>& fields, std::uint32_t next = 0) {
        if (bytes.size() % 2)
            bytes += '\0';
        const auto at = static_cast<std::uint32_t>(bytes.size());
        bytes += U16(static_cast<std::uint16_t>(fields.size()));
        for (const Field& f : fields) {
            bytes += U16(f.tag) + U16(f.type) + U32(f.count);
            bytes += f.value.size() <= 4 ? f.value + std::string(4 - f.value.size(), '\0') : U32(0);
        }
        bytes += U32(next);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i].value.size() <= 4)
                continue;
            Set32(EntryValue(at, i), static_cast<std::uint32_t>(bytes.size()));
            bytes += fields[i].value;
        }
        return at;
    }
    void SetFirst(std::uint32_t ifd) { Set32(4, ifd); }

    static std::size_t EntryValue(std::uint32_t ifd, std::size_t i) { return ifd + 2 + 12 * i + 8; }
    static std::size_t NextField(std::uint32_t ifd, std::size_t count) {
        return ifd + 2 + 12 * count;
    }

    std::string bytes;

  private:
    bool little_;
};

// A typical camera's block: IFD0 with make, model and DateTime, an Exif IFD with the
// original date. Where the Exif IFD starts is in `exifAt`.
std::string CameraTiff(bool little, const std::string& make, const std::string& model,
                       const std::string& original, std::uint32_t* exifAt = nullptr) {
    TiffBuilder t(little);
    const std::uint32_t exif = t.Ifd({t.Ascii(0x9003, original)});
    const std::uint32_t ifd0 =
        t.Ifd({t.Ascii(0x010F, make), t.Ascii(0x0110, model),
               t.Ascii(0x0132, "2001:02:03 04:05:06"), t.Long(0x8769, exif)});
    t.SetFirst(ifd0);
    if (exifAt)
        *exifAt = exif;
    return t.bytes;
}

using test::Segment;

const std::string kJfif("JFIF\0\1\1\0\0\1\0\1\0\0", 14);

std::string Jpeg(const std::string& tiff) {
    return std::string("\xFF\xD8") + Segment(0xE0, kJfif) +
           Segment(0xE1, std::string("Exif\0\0", 6) + tiff) + Segment(0xDB, std::string(65, 1)) +
           Segment(0xDA, std::string(10, 0)) + std::string(100, '\x55') + "\xFF\xD9";
}

// An independent clock: the C library's idea of a UTC wall time.
std::int64_t Timegm(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return static_cast<std::int64_t>(::timegm(&tm));
}

std::string DateText(int y, int mo, int d, int h, int mi, int s) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
}
// The facts read from a TIFF block, or from a JPEG; none is a failure, and empty facts.
PhotoFacts Facts(const std::string& tiff) {
    const auto facts = ReadTiffExif(Span(tiff));
    EXPECT_TRUE(facts) << "no facts";
    return facts.value_or(PhotoFacts{});
}
PhotoFacts JpegFacts(const std::string& jpeg) {
    const auto facts = ReadJpegExif(Span(jpeg));
    EXPECT_TRUE(facts) << "no facts";
    return facts.value_or(PhotoFacts{});
}

// Tests run for little-endian (true) and big-endian TIFF blocks.
class ByteOrders : public ::testing::TestWithParam<bool> {
  protected:
    const bool little = GetParam();
};
INSTANTIATE_TEST_SUITE_P(ExifReader, ByteOrders, ::testing::Values(true, false),
                         [](const auto& order) { return order.param ? "little" : "big"; });

TEST_P(ByteOrders, ReadsCameraAndCaptureTime) {
    const auto facts = Facts(CameraTiff(little, "Canon", "Canon EOS 80D", "2023:07:14 10:32:05"));
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_EQ(facts.model, "Canon EOS 80D");
    EXPECT_EQ(facts.captured, "2023:07:14 10:32:05");
    EXPECT_EQ(facts.capturedUnix, Timegm(2023, 7, 14, 10, 32, 5));
    EXPECT_EQ(facts.rawKind, "");
    EXPECT_EQ(PhotoName(facts), "2023-07-14 10-32-05 Canon EOS 80D");
}

TEST(ExifReader, SecondsAgreeWithTheCLibraryOverManyDates) {
    std::mt19937 random(7);
    for (int i = 0; i < 3000; ++i) {
        const int y = 1970 + static_cast<int>(random() % 131);
        const int mo = 1 + static_cast<int>(random() % 12);
        const int d = 1 + static_cast<int>(random() % 28);
        const int h = static_cast<int>(random() % 24), mi = static_cast<int>(random() % 60),
                  s = static_cast<int>(random() % 60);
        const auto facts =
            ReadTiffExif(Span(CameraTiff(i % 2, "A", "B", DateText(y, mo, d, h, mi, s))));
        ASSERT_TRUE(facts);
        ASSERT_EQ(facts->capturedUnix, Timegm(y, mo, d, h, mi, s)) << DateText(y, mo, d, h, mi, s);
    }
    // Month ends, leap days and the range's edges.
    for (const auto& [y, mo, d] : std::vector<std::array<int, 3>>{{1970, 1, 1},
                                                                  {2000, 2, 29},
                                                                  {2024, 2, 29},
                                                                  {2023, 12, 31},
                                                                  {2100, 12, 31},
                                                                  {2023, 4, 30}}) {
        const auto facts = Facts(CameraTiff(true, "A", "B", DateText(y, mo, d, 23, 59, 59)));
        ASSERT_TRUE(facts.captured) << y << mo << d;
        EXPECT_EQ(facts.capturedUnix, Timegm(y, mo, d, 23, 59, 59));
    }
}

TEST(ExifReader, ImplausibleDatesAreRefusedAndDateTimeStandsIn) {
    for (const std::string bad : {"0000:00:00 00:00:00",
                                  "    :  :     :  :  ",
                                  "1969:12:31 23:59:59",
                                  "2101:01:01 00:00:00",
                                  "2023:02:29 10:00:00",
                                  "2100:02:29 10:00:00",
                                  "2023:04:31 10:00:00",
                                  "2023:13:01 10:00:00",
                                  "2023:00:10 10:00:00",
                                  "2023:07:00 10:00:00",
                                  "2023:07:14 24:00:00",
                                  "2023:07:14 10:60:00",
                                  "2023:07:14 10:32:60",
                                  "2023-07-14 10:32:05",
                                  "2023:07:14T10:32:05",
                                  "2023:07:14 10:32:05Z",
                                  "2023:07:14 10:32:5",
                                  "2023:07:1a 10:32:05",
                                  "",
                                  "+023:07:14 10:32:05"}) {
        const auto facts = Facts(CameraTiff(true, "Canon", "X", bad));
        // IFD0's DateTime is the fallback.
        EXPECT_EQ(facts.captured, "2001:02:03 04:05:06") << bad;
        EXPECT_EQ(facts.capturedUnix, Timegm(2001, 2, 3, 4, 5, 6)) << bad;
    }
    // With neither date plausible there is no capture time and no name.
    TiffBuilder t(false);
    t.SetFirst(t.Ifd({t.Ascii(0x010F, "Canon"), t.Ascii(0x0132, "0000:00:00 00:00:00")}));
    const auto facts = Facts(t.bytes);
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_FALSE(facts.captured);
    EXPECT_FALSE(facts.capturedUnix);
    EXPECT_EQ(PhotoName(facts), "");
}

TEST_P(ByteOrders, OffsetsTurnWallTimeIntoUtc) {
    const std::int64_t wall = Timegm(2023, 7, 14, 10, 32, 5);
    for (const auto& [offset, expected] :
         std::vector<std::pair<std::string, std::int64_t>>{{"+02:00", wall - 7200},
                                                           {"-05:30", wall + 5 * 3600 + 1800},
                                                           {"+00:00", wall},
                                                           {"+14:00", wall - 14 * 3600},
                                                           {"   :  ", wall},
                                                           {"+2:00", wall},
                                                           {"+02:60", wall},
                                                           {"*02:00", wall},
                                                           {"+15:00", wall}}) {
        TiffBuilder t(little);
        const auto exif = t.Ifd({t.Ascii(0x9003, "2023:07:14 10:32:05"), t.Ascii(0x9011, offset)});
        t.SetFirst(t.Ifd({t.Long(0x8769, exif)}));
        const auto facts = Facts(t.bytes);
        EXPECT_EQ(facts.captured, "2023:07:14 10:32:05");
        EXPECT_EQ(facts.capturedUnix, expected) << offset;
    }
    // DateTime goes with OffsetTime, not with the original's offset.
    TiffBuilder t(little);
    const auto exif = t.Ifd({t.Ascii(0x9010, "+01:00"), t.Ascii(0x9011, "+09:00")});
    t.SetFirst(t.Ifd({t.Ascii(0x0132, "2023:07:14 10:32:05"), t.Long(0x8769, exif)}));
    EXPECT_EQ(Facts(t.bytes).capturedUnix, wall - 3600);
}

TEST_P(ByteOrders, LoopingChainsEnd) {
    // IFD0's next IFD is itself, and it has no Exif pointer: the search for one must end.
    TiffBuilder self(little);
    const auto ifd0 =
        self.Ifd({self.Ascii(0x010F, "Canon"), self.Ascii(0x0132, "2020:05:06 07:08:09")});
    self.Set32(TiffBuilder::NextField(ifd0, 2), ifd0);
    self.SetFirst(ifd0);
    auto facts = Facts(self.bytes);
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_EQ(facts.captured, "2020:05:06 07:08:09");

    // The Exif pointer leads back to IFD0, which is not read again as the Exif IFD.
    TiffBuilder back(little);
    const auto first =
        back.Ifd({back.Ascii(0x010F, "Canon"), back.Ascii(0x0132, "2020:05:06 07:08:09"),
                  back.Long(0x8769, 0), back.Ascii(0x9003, "2023:07:14 10:32:05")});
    back.Set32(TiffBuilder::EntryValue(first, 2), first);
    back.Set32(TiffBuilder::NextField(first, 4), first);
    back.SetFirst(first);
    EXPECT_EQ(Facts(back.bytes).captured, "2020:05:06 07:08:09");

    // Two IFDs pointing at each other; the second has the Exif pointer, which is found.
    TiffBuilder pair(little);
    const auto exif = pair.Ifd({pair.Ascii(0x9003, "2023:07:14 10:32:05")});
    const auto a = pair.Ifd({pair.Ascii(0x010F, "Canon")});
    const auto b = pair.Ifd({pair.Long(0x8769, exif)}, a);
    pair.Set32(TiffBuilder::NextField(a, 1), b);
    pair.SetFirst(a);
    EXPECT_EQ(Facts(pair.bytes).captured, "2023:07:14 10:32:05");

    // The same without the Exif pointer: the two IFDs alternate until the loop is seen.
    TiffBuilder ring(little);
    const auto r1 = ring.Ifd({ring.Ascii(0x010F, "Canon")});
    const auto r2 = ring.Ifd({ring.Ascii(0x0110, "X")}, r1);
    ring.Set32(TiffBuilder::NextField(r1, 1), r2);
    ring.SetFirst(r1);
    facts = Facts(ring.bytes);
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_FALSE(facts.captured);
}

TEST(ExifReader, LongChainsAreFollowedOnlySoFar) {
    // A chain of 40 distinct IFDs with the Exif pointer on IFD number `where`.
    const auto captured = [](std::size_t where) {
        TiffBuilder t(true);
        const auto exif = t.Ifd({t.Ascii(0x9003, "2023:07:14 10:32:05")});
        std::vector<std::uint32_t> ifds;
        for (std::size_t i = 0; i < 40; ++i) {
            ifds.push_back(i == where ? t.Ifd({t.Long(0x8769, exif)}) : t.Ifd({t.Long(0x0100, 1)}));
            if (i > 0)
                t.Set32(TiffBuilder::NextField(ifds[i - 1], 1), ifds[i]);
        }
        t.SetFirst(ifds[0]);
        return Facts(t.bytes).captured.has_value();
    };
    EXPECT_TRUE(captured(0));
    EXPECT_TRUE(captured(3));
    EXPECT_FALSE(captured(30));
    EXPECT_FALSE(captured(39));
}

TEST_P(ByteOrders, ATruncatedTablesNextOffsetIsNotTrusted) {
    TiffBuilder t(little);
    const auto exif = t.Ifd({t.Ascii(0x9003, "2023:07:14 10:32:05")});
    const auto withPointer = t.Ifd({t.Long(0x8769, exif)});
    // IFD0 last, its values inline, so the file ends with its next-IFD offset.
    const auto ifd0 = t.Ifd({t.Ascii(0x010F, "Can"), t.Ascii(0x0110, "EOS")}, withPointer);
    t.SetFirst(ifd0);
    ASSERT_EQ(t.bytes.size(), ifd0 + 2 + 2 * 12 + 4u);
    EXPECT_TRUE(Facts(t.bytes).captured);
    // Said to hold three entries, the table is cut inside the third: its two whole
    // entries still count, but the bytes after them are no next-IFD offset.
    t.Set16(ifd0, 3);
    const auto facts = Facts(t.bytes);
    EXPECT_EQ(facts.make, "Can");
    EXPECT_EQ(facts.model, "EOS");
    EXPECT_FALSE(facts.captured);
}

TEST_P(ByteOrders, HugeAndEmptyCountsAreRefused) {
    std::uint32_t exif = 0;
    const std::string bytes = CameraTiff(little, "Canon", "X", "2023:07:14 10:32:05", &exif);
    TiffBuilder t(little);
    const auto withCount = [&](std::uint32_t ifd, std::uint16_t count) {
        return std::string(bytes).replace(ifd, 2, t.U16(count));
    };
    // 65535 entries in the Exif IFD: the IFD is noise, IFD0 still counts.
    const auto facts = Facts(withCount(exif, 65535));
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_EQ(facts.captured, "2001:02:03 04:05:06");
    // The same in IFD0, with the bytes padded so that every entry would fit.
    const std::uint32_t ifd0 = static_cast<std::uint32_t>(bytes[4] & 0xFF) |
                               (static_cast<std::uint32_t>(bytes[5] & 0xFF) << 8) |
                               (static_cast<std::uint32_t>(bytes[6] & 0xFF) << 16) |
                               (static_cast<std::uint32_t>(bytes[7] & 0xFF) << 24);
    const std::uint32_t first = little ? ifd0 : __builtin_bswap32(ifd0);
    EXPECT_FALSE(ReadTiffExif(Span(withCount(first, 65535) + std::string(65535 * 12 + 4, '\0'))));
    EXPECT_FALSE(ReadTiffExif(Span(withCount(first, 0))));
}

TEST_P(ByteOrders, OffsetsPastTheEndAreNotFollowed) {
    TiffBuilder t(little);
    const auto exif = t.Ifd({t.Ascii(0x9003, "2023:07:14 10:32:05")});
    const auto ifd0 = t.Ifd({t.Ascii(0x010F, "Canon"), t.Ascii(0x0110, "Canon EOS 80D"),
                             t.Ascii(0x0132, "2001:02:03 04:05:06"), t.Long(0x8769, exif)});
    t.SetFirst(ifd0);
    const std::string good = t.bytes;
    const auto size = static_cast<std::uint32_t>(good.size());
    const auto with = [&](std::size_t at, std::uint32_t value) {
        return std::string(good).replace(at, 4, t.U32(value));
    };
    // The make's text lies past the end, or wraps around.
    for (const std::uint32_t offset : {size, size - 3, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        const auto facts = Facts(with(TiffBuilder::EntryValue(ifd0, 0), offset));
        EXPECT_EQ(facts.make, "") << offset;
        EXPECT_EQ(facts.model, "Canon EOS 80D");
    }
    // A count far beyond the bytes.
    for (const std::uint32_t count : {0x10000u, 0x7FFFFFFFu, 0xFFFFFFFFu})
        EXPECT_EQ(Facts(with(TiffBuilder::EntryValue(ifd0, 0) - 4, count)).make, "") << count;
    // The Exif IFD past the end: DateTime stands in.
    for (const std::uint32_t offset : {size, size - 1, 0x80000000u, 0xFFFFFFFFu, 0u, 4u}) {
        EXPECT_EQ(Facts(with(TiffBuilder::EntryValue(ifd0, 3), offset)).captured,
                  "2001:02:03 04:05:06")
            << offset;
    }
    // IFD0 past the end, or inside the header.
    for (const std::uint32_t offset : {size, size - 1, 0xFFFFFFFFu, 0u, 7u})
        EXPECT_FALSE(ReadTiffExif(Span(with(4, offset)))) << offset;
}

TEST_P(ByteOrders, TextWithoutNulStopsAtItsCount) {
    TiffBuilder t(little);
    // "Canon" with count 5 and no NUL, followed by other text.
    t.SetFirst(t.Ifd({Field{0x010F, 2, 5, "CanonXYZ"}, Field{0x0110, 2, 3, "EOS"}}));
    const auto facts = Facts(t.bytes);
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_EQ(facts.model, "EOS");
    // The last bytes of the file, without NUL.
    TiffBuilder end(little);
    end.SetFirst(end.Ifd({Field{0x010F, 2, 8, std::string(8, 'K')}}));
    EXPECT_EQ(Facts(end.bytes).make, "KKKKKKKK");
    // One byte short: the value no longer fits and is dropped.
    end.bytes.pop_back();
    EXPECT_EQ(Facts(end.bytes).make, "");
    // A text longer than any make is noise.
    TiffBuilder longText(little);
    longText.SetFirst(longText.Ifd({longText.Ascii(0x010F, std::string(300, 'A'))}));
    EXPECT_EQ(Facts(longText.bytes).make, "");
}

TEST(ExifReader, MakeAndModelAreTrimmedPrintableAscii) {
    for (const auto& [raw, expected] : std::vector<std::pair<std::string, std::string>>{
             {"  Canon  ", "Canon"},
             {"Canon", "Canon"},
             {"Can\x01on", ""},
             {"Canon\t", ""},
             {"Canon\x7F", ""},
             {"Caf\xC3\xA9", ""},
             {"     ", ""},
             {std::string("Canon\0junk\x01", 11), "Canon"}}) {
        TiffBuilder t(true);
        t.SetFirst(
            t.Ifd({Field{0x010F, 2, static_cast<std::uint32_t>(raw.size() + 1), raw + '\0'},
                   Field{0x0110, 2, static_cast<std::uint32_t>(raw.size() + 1), raw + '\0'}}));
        const auto facts = Facts(t.bytes);
        EXPECT_EQ(facts.make, expected) << raw;
        EXPECT_EQ(facts.model, expected) << raw;
    }
    // A make that is not ASCII-typed is not taken for one.
    TiffBuilder t(true);
    t.SetFirst(t.Ifd({Field{0x010F, 7, 6, std::string("Canon\0", 6)}}));
    EXPECT_EQ(Facts(t.bytes).make, "");
}

TEST(ExifReader, RawKindsFromTheStructure) {
    const auto kind = [](bool little, const std::string& make, std::string header = {},
                         bool dng = false, std::string prefix = {}) {
        TiffBuilder t(little, header);
        t.bytes += prefix;
        std::vector<Field> fields = {t.Ascii(0x010F, make), t.Ascii(0x0110, "M")};
        if (dng)
            fields.push_back(Field{0xC612, 1, 4, std::string("\1\4\0\0", 4)});
        t.SetFirst(t.Ifd(fields));
        const auto facts = ReadTiffExif(Span(t.bytes));
        return facts ? facts->rawKind : std::string("none");
    };
    for (const bool little : {true, false}) {
        EXPECT_EQ(kind(little, "Canon"), "");
        EXPECT_EQ(kind(little, "NIKON CORPORATION"), "nef");
        EXPECT_EQ(kind(little, "NIKON"), "nef");
        EXPECT_EQ(kind(little, "SONY"), "arw");
        EXPECT_EQ(kind(little, "PENTAX Corporation"), "pef");
        EXPECT_EQ(kind(little, "Adobe"), "");
        EXPECT_EQ(kind(little, "Canon", {}, true), "dng");
        // A DNG made from a Nikon's file is a DNG.
        EXPECT_EQ(kind(little, "NIKON CORPORATION", {}, true), "dng");
        // Canon's marker after the header: "CR" and major version 2.
        EXPECT_EQ(kind(little, "Canon", {}, false, std::string("CR\2\0", 4)), "cr2");
        EXPECT_EQ(kind(little, "Canon", {}, false, std::string("CR\3\0", 4)), "");
        EXPECT_EQ(kind(little, "Canon", {}, false, std::string("RC\2\0", 4)), "");
    }
    EXPECT_EQ(kind(true, "OLYMPUS", "IIRO"), "orf");
    EXPECT_EQ(kind(true, "OLYMPUS", "IIRS"), "orf");
    EXPECT_EQ(kind(false, "OLYMPUS", "MMOR"), "orf");
    EXPECT_EQ(kind(true, "Panasonic", std::string("IIU\0", 4)), "rw2");
    // Headers that are no TIFF at all.
    EXPECT_EQ(kind(true, "Canon", std::string("II+\0", 4)), "none");
    EXPECT_EQ(kind(true, "Canon", std::string("IM*\0", 4)), "none");
    EXPECT_EQ(kind(false, "Canon", std::string("MM\0+", 4)), "none");
    EXPECT_EQ(kind(false, "Canon", std::string("MMU\0", 4)), "none");
    EXPECT_FALSE(ReadTiffExif({}));
    EXPECT_FALSE(ReadTiffExif(Span(std::string("II*\0\x08\0\0", 7))));
}

TEST_P(ByteOrders, JpegSegmentsAreWalkedUpToTheImageData) {
    const std::string tiff =
        CameraTiff(little, "NIKON CORPORATION", "NIKON D750", "2023:07:14 10:32:05");
    const auto facts = JpegFacts(Jpeg(tiff));
    EXPECT_EQ(facts.captured, "2023:07:14 10:32:05");
    EXPECT_EQ(facts.model, "NIKON D750");
    // A JPEG from a Nikon is no NEF.
    EXPECT_EQ(facts.rawKind, "");
    // The TIFF reader does not take a JPEG.
    EXPECT_FALSE(ReadTiffExif(Span(Jpeg(tiff))));

    // An XMP APP1 and fill bytes before the Exif one.
    const std::string xmp = Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 33));
    const std::string exif = Segment(0xE1, std::string("Exif\0\0", 6) + tiff);
    EXPECT_EQ(JpegFacts("\xFF\xD8" + xmp + "\xFF\xFF" + exif).make, "NIKON CORPORATION");
    // A broken Exif APP1 is passed over for a good one after it.
    const std::string broken = Segment(0xE1, std::string("Exif\0\0MM\0*\xFF\xFF\xFF\xFF", 14));
    EXPECT_EQ(JpegFacts("\xFF\xD8" + broken + exif).make, "NIKON CORPORATION");

    // Exif after the start of scan is image data, not metadata.
    const std::string late = std::string("\xFF\xD8") + Segment(0xDB, std::string(65, 1)) +
                             Segment(0xDA, std::string(10, 0)) + exif;
    EXPECT_FALSE(ReadJpegExif(Span(late)));
    // No Exif at all, a missing SOI, a length below 2, a stray byte where a marker belongs.
    EXPECT_FALSE(ReadJpegExif(Span("\xFF\xD8" + Segment(0xE0, kJfif) + "\xFF\xD9")));
    EXPECT_FALSE(ReadJpegExif(Span(Jpeg(tiff).substr(2))));
    EXPECT_FALSE(ReadJpegExif(Span(std::string("\xFF\xD8\xFF\xE1\x00\x01", 6) + exif)));
    EXPECT_FALSE(ReadJpegExif(Span("\xFF\xD8" + Segment(0xE0, kJfif) + "x" + exif)));
    // A segment that ends one byte before the make's last byte: the make is not read
    // from the bytes after the segment.
    TiffBuilder t(little);
    t.SetFirst(t.Ifd({t.Ascii(0x010F, "Canon")}));
    const std::size_t length = 2 + 6 + t.bytes.size() - 1;
    const std::string shortSegment =
        std::string{'\xFF', '\xE1', static_cast<char>(length >> 8), static_cast<char>(length)} +
        "Exif" + std::string(2, '\0') + t.bytes;
    EXPECT_EQ(JpegFacts("\xFF\xD8" + shortSegment).make, "");
    EXPECT_EQ(JpegFacts("\xFF\xD8" + Segment(0xE1, std::string("Exif\0\0", 6) + t.bytes)).make,
              "Canon");
    // The TIFF block ends with its segment, even when the file goes on.
    const std::string cut = Segment(0xE1, std::string("Exif\0\0", 6) + tiff.substr(0, 8)) + tiff;
    EXPECT_FALSE(ReadJpegExif(Span("\xFF\xD8" + cut)));
}

TEST_P(ByteOrders, EveryPrefixEitherAgreesOrFailsQuietly) {
    const std::string tiff = CameraTiff(little, "Canon", "Canon EOS 80D", "2023:07:14 10:32:05");
    const std::string jpeg = Jpeg(tiff);
    const auto whole = ReadTiffExif(Span(tiff));
    ASSERT_TRUE(whole);
    for (std::size_t n = 0; n <= tiff.size(); ++n) {
        // Exactly sized copies so the sanitizer sees any read past the end.
        const std::vector<std::uint8_t> part(tiff.begin(),
                                             tiff.begin() + static_cast<std::ptrdiff_t>(n));
        const auto facts = ReadTiffExif(part);
        if (facts && facts->captured) {
            EXPECT_TRUE(facts->captured == "2023:07:14 10:32:05" ||
                        facts->captured == "2001:02:03 04:05:06");
        }
    }
    for (std::size_t n = 0; n <= jpeg.size(); ++n) {
        const std::vector<std::uint8_t> part(jpeg.begin(),
                                             jpeg.begin() + static_cast<std::ptrdiff_t>(n));
        const auto facts = ReadJpegExif(part);
        // Once the whole Exif segment is there, the answer is the whole file's.
        if (n >= 2 + 4 + kJfif.size() + 4 + 6 + tiff.size()) {
            ASSERT_TRUE(facts) << n;
            EXPECT_EQ(facts->captured, whole->captured);
            EXPECT_EQ(facts->model, whole->model);
        }
    }
}

TEST(ExifReader, RandomDamageNeverYieldsUnsafeFacts) {
    std::mt19937 random(11);
    const std::string base =
        Jpeg(CameraTiff(true, "Canon", "Canon EOS 80D", "2023:07:14 10:32:05")) +
        Jpeg(CameraTiff(false, "SONY", "ILCE-7M3", "2022:01:02 03:04:05"));
    for (int i = 0; i < 20000; ++i) {
        std::string bytes = base;
        const int changes = 1 + static_cast<int>(random() % 8);
        for (int c = 0; c < changes; ++c)
            bytes[random() % bytes.size()] = static_cast<char>(random());
        const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
        for (const auto& facts : {ReadJpegExif(copy), ReadTiffExif(std::span(copy).subspan(30))}) {
            if (!facts)
                continue;
            for (const std::string* text : {&facts->make, &facts->model}) {
                for (const char ch : *text)
                    ASSERT_TRUE(ch >= 0x20 && ch <= 0x7E);
            }
            if (facts->captured) {
                ASSERT_EQ(facts->captured->size(), 19u);
                ASSERT_TRUE(facts->capturedUnix);
                ASSERT_GE(*facts->capturedUnix, -14 * 3600);
                ASSERT_LE(*facts->capturedUnix, Timegm(2101, 1, 1, 14, 0, 0));
            }
            const std::string name = PhotoName(*facts);
            ASSERT_LE(name.size(), 100u);
            ASSERT_EQ(name.empty(), !facts->captured);
        }
    }
}

TEST(PhotoName, DatePartThenCamera) {
    PhotoFacts facts;
    facts.captured = "2023:07:14 10:32:05";
    for (const auto& [make, model, expected] : std::vector<std::array<std::string, 3>>{
             {"Canon", "Canon EOS 80D", "Canon EOS 80D"},
             {"Canon", "EOS 80D", "Canon EOS 80D"},
             {"NIKON CORPORATION", "NIKON D750", "NIKON D750"},
             {"NIKON CORPORATION", "D750", "NIKON D750"},
             // The make's word is matched whatever its case, and as a whole word.
             {"Nikon", "NIKON D750", "NIKON D750"},
             {"Canon", "Canonet", "Canon Canonet"},
             // Only one of the two, or neither.
             {"Canon", "", "Canon"},
             {"", "EOS 80D", "EOS 80D"},
             {"", "", ""}}) {
        facts.make = make;
        facts.model = model;
        EXPECT_EQ(PhotoName(facts),
                  "2023-07-14 10-32-05" + (expected.empty() ? "" : " " + expected))
            << make << " / " << model;
    }
    // No capture time, no name.
    facts.captured.reset();
    facts.model = "EOS 80D";
    EXPECT_EQ(PhotoName(facts), "");
    facts.captured = "";
    EXPECT_EQ(PhotoName(facts), "");
}

TEST(PhotoName, UnsafeCharactersAndLength) {
    PhotoFacts facts;
    facts.captured = "2023:07:14 10:32:05";
    facts.make = "A/B";
    facts.model = "x\\y:z*?\"<>|\x01\x7F\xC3\xA9/..";
    EXPECT_EQ(PhotoName(facts), "2023-07-14 10-32-05 A_B x_y_z___________..");
    facts.make = "Canon";
    facts.model = "Canon " + std::string(200, 'Q');
    const std::string name = PhotoName(facts);
    EXPECT_EQ(name.size(), 100u);
    EXPECT_EQ(name.substr(0, 26), "2023-07-14 10-32-05 Canon ");
    EXPECT_EQ(name.back(), 'Q');
    // A cut that ends on a space drops it.
    facts.model = "Canon " + std::string(73, 'Q') + "  tail";
    EXPECT_EQ(PhotoName(facts), "2023-07-14 10-32-05 Canon " + std::string(73, 'Q'));
}

// Photos from real tools: ImageMagick makes them, exiftool writes their EXIF.
class RealPhotos : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::RunCommand("convert -version | grep -q ImageMagick"))
            GTEST_SKIP() << "ImageMagick missing";
        if (!test::HaveTool("exiftool"))
            GTEST_SKIP() << "exiftool missing";
    }
    std::string Make(const std::string& name, const std::string& convertArgs,
                     const std::string& exiftoolArgs) {
        const auto file = dir / name;
        EXPECT_TRUE(test::RunCommand("convert " + convertArgs + " '" + file.string() + "'"));
        if (!exiftoolArgs.empty()) {
            EXPECT_TRUE(test::RunCommand("exiftool -q -overwrite_original " + exiftoolArgs + " '" +
                                         file.string() + "'"));
        }
        std::string bytes = test::ReadFile(file);
        if (bytes.size() > 65536)  // what a carver reads of a file
            bytes.resize(65536);
        return bytes;
    }
    test::TempFolder dir;
};

TEST_F(RealPhotos, JpegWithoutExifHasNoFacts) {
    EXPECT_FALSE(ReadJpegExif(Span(Make("a.jpg", "-size 64x48 xc:red", ""))));
}

TEST_F(RealPhotos, JpegWithExifToolsEXIF) {
    const std::string bytes =
        Make("a.jpg", "-size 640x480 plasma:fractal",
             "-DateTimeOriginal='2023:07:14 10:32:05' -Make=Canon -Model='Canon EOS 80D'");
    const auto facts = JpegFacts(bytes);
    EXPECT_EQ(facts.captured, "2023:07:14 10:32:05");
    EXPECT_EQ(facts.capturedUnix, Timegm(2023, 7, 14, 10, 32, 5));
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_EQ(facts.model, "Canon EOS 80D");
    EXPECT_EQ(facts.rawKind, "");
    EXPECT_EQ(PhotoName(facts), "2023-07-14 10-32-05 Canon EOS 80D");

    const auto other =
        JpegFacts(Make("b.jpg", "-size 64x48 xc:green",
                       "-DateTimeOriginal='2019:12:31 23:59:58' -OffsetTimeOriginal='+02:00' "
                       "-Make='OLYMPUS IMAGING CORP.' -Model='E-M10'"));
    EXPECT_EQ(other.capturedUnix, Timegm(2019, 12, 31, 21, 59, 58));
    EXPECT_EQ(PhotoName(other), "2019-12-31 23-59-58 OLYMPUS E-M10");
}

TEST_F(RealPhotos, TiffsInBothByteOrders) {
    for (const std::string endian : {"lsb", "msb"}) {
        const std::string args = "-size 64x48 xc:blue -define tiff:endian=" + endian;
        const std::string plain =
            Make("p-" + endian + ".tif", args,
                 "-Make=Canon -ModifyDate='2021:03:04 05:06:07' -OffsetTime='-05:00'");
        ASSERT_EQ(plain.substr(0, 2), endian == "lsb" ? "II" : "MM");
        SCOPED_TRACE(endian);
        const auto facts = Facts(plain);
        EXPECT_EQ(facts.rawKind, "");
        EXPECT_EQ(facts.captured, "2021:03:04 05:06:07");
        EXPECT_EQ(facts.capturedUnix, Timegm(2021, 3, 4, 10, 6, 7));
        EXPECT_EQ(PhotoName(facts), "2021-03-04 05-06-07 Canon");
        const auto nikon = Facts(
            Make("n-" + endian + ".tif", args, "-Make='NIKON CORPORATION' -Model='NIKON D750'"));
        EXPECT_EQ(nikon.rawKind, "nef");
        EXPECT_FALSE(nikon.captured);
        EXPECT_EQ(
            Facts(Make("d-" + endian + ".tif", args, "-Make=SONY -DNGVersion=1.4.0.0")).rawKind,
            "dng");
    }
}

}  // namespace
}  // namespace duzez::signatures
