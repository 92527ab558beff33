#include "signatures/photo_verdict.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/signatures/memory_reader.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

using test::Be;
using test::Le;

constexpr std::int32_t kJpeg = 300;
constexpr std::int32_t kPng = 301;
constexpr std::int32_t kGif = 302;
constexpr std::int32_t kTiff = 303;

// The format the tests judge a file of `name` as, by its extension.
std::int32_t FormatOf(const std::string& name) {
    const std::string extension = name.substr(name.rfind('.') + 1);
    return extension == "jpg"   ? kJpeg
           : extension == "png" ? kPng
           : extension == "gif" ? kGif
                                : kTiff;
}

VerdictDetail Judge(std::int32_t format, const std::string& bytes,
                    std::chrono::milliseconds budget = std::chrono::seconds(5)) {
    return JudgePhoto(format,
                      std::span<const std::uint8_t>(
                          reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                      budget);
}

std::string Noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(random() & 0xFF);
    return out;
}

std::string Overwrite(std::string bytes, std::size_t at, const std::string& with) {
    bytes.replace(at, with.size(), with);
    return bytes;
}

std::uint32_t ReadBig32(const std::string& s, std::size_t at) {
    return (std::uint32_t(std::uint8_t(s[at])) << 24) |
           (std::uint32_t(std::uint8_t(s[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(s[at + 2])) << 8) | std::uint8_t(s[at + 3]);
}

// Where a JPEG's first scan's compressed data starts: just past its SOS segment.
std::size_t ScanStart(const std::string& jpeg) {
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size()) {
        const auto marker = std::uint8_t(jpeg[pos + 1]);
        const std::size_t length = (std::uint8_t(jpeg[pos + 2]) << 8) | std::uint8_t(jpeg[pos + 3]);
        if (marker == 0xDA)
            return pos + 2 + length;
        pos += 2 + length;
    }
    return 0;
}

// Real files made by ImageMagick. ctest runs every test in a process of its own, so they are
// made once into a shared folder, moved into place whole, instead of once per test.
class Photos : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder = std::filesystem::temp_directory_path() / "duzez-photo-verdict-photos-1";
        if (std::filesystem::exists(folder / "made"))
            return;
        if (!test::RunCommand("convert -version | grep -q ImageMagick")) {
            missing = true;
            return;
        }
        test::TempFolder fresh;
        const std::string make =
            "cd '" + fresh.path().string() +
            "' && convert -seed 7 -size 1600x1200 plasma:fractal -quality 90 a.jpg"
            " && convert a.jpg -interlace JPEG progressive.jpg"
            " && convert a.jpg -colorspace Gray grey.jpg"
            " && convert a.jpg -resize 50% -colorspace CMYK cmyk.jpg"
            " && convert a.jpg -resize 400x300 a.png"
            " && convert a.png -interlace PNG interlaced.png"
            " && convert a.png -depth 16 -alpha on deep.png"
            " && convert a.png PNG8:palette.png"
            " && convert a.png -monochrome bilevel.png"
            " && convert a.png a.gif"
            " && convert -delay 10 a.png -rotate 90 a.png -negate a.png animated.gif"
            " && convert a.png -compress none a.tif"
            " && convert a.png -compress lzw -endian MSB -define tiff:rows-per-strip=16 big.tif"
            " && touch made";
        if (!test::RunCommand(make))
            return;
        std::error_code ignored;  // another test process may have moved its folder first
        std::filesystem::rename(fresh.path(), folder, ignored);
    }
    void SetUp() override {
        if (missing)
            GTEST_SKIP() << "ImageMagick missing";
        ASSERT_TRUE(std::filesystem::exists(folder / "made"))
            << "ImageMagick could not make the test photos";
    }
    static std::string Read(const std::string& name) { return test::ReadFile(folder / name); }

    static inline std::filesystem::path folder;
    static inline bool missing = false;
};

// ---- every format ---------------------------------------------------------------------

TEST_F(Photos, WholePhotosAreIntact) {
    for (const std::string name :
         {"a.jpg", "progressive.jpg", "grey.jpg", "cmyk.jpg", "a.png", "interlaced.png", "deep.png",
          "palette.png", "bilevel.png", "a.gif", "animated.gif", "a.tif", "big.tif"}) {
        const std::string bytes = Read(name);
        const auto v = Judge(FormatOf(name), bytes);
        EXPECT_EQ(v.verdict, PhotoVerdict::Intact) << name << ": " << v.reason;
        EXPECT_EQ(v.goodBytes, bytes.size()) << name;
    }
    EXPECT_EQ(Judge(kJpeg, Read("a.jpg")).goodRows, 1200u);
}

TEST_F(Photos, CutPngGifAndTiffAreTruncated) {
    // Cuts besides 6/10 of the file: from its start, or (negative) back from its end.
    for (const auto& [name, fixedCuts] :
         std::vector<std::pair<std::string, std::vector<long>>>{{"a.png", {4, -12, -1}},
                                                                {"a.gif", {3, 12, -1}},
                                                                {"animated.gif", {3, 12, -1}},
                                                                {"a.tif", {6, -1}}}) {
        const std::string bytes = Read(name);
        std::vector<std::size_t> cuts = {bytes.size() * 6 / 10};
        for (const long cut : fixedCuts)
            cuts.push_back(cut > 0 ? std::size_t(cut) : bytes.size() - std::size_t(-cut));
        for (const std::size_t cut : cuts) {
            const auto v = Judge(FormatOf(name), bytes.substr(0, cut));
            EXPECT_EQ(v.verdict, PhotoVerdict::Truncated) << name << " " << cut << ": " << v.reason;
            if (FormatOf(name) == kGif) {  // a cut GIF is good up to the cut
                EXPECT_EQ(v.goodBytes, cut) << name;
            }
        }
    }
    const std::string png = Read("a.png");
    EXPECT_EQ(Judge(kPng, png.substr(0, png.size() - 12)).reason, "ends before its end chunk");
}

// ---- JPEG ----------------------------------------------------------------------------------

TEST_F(Photos, WhatSurroundsAJpegsEndMarkerDecides) {
    const std::string jpeg = Read("a.jpg");
    ASSERT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");
    const std::string unended = jpeg.substr(0, jpeg.size() - 2);
    auto v = Judge(kJpeg, jpeg + Noise(5000, 3));
    EXPECT_EQ(v.verdict, PhotoVerdict::Intact) << "data after the end marker: " << v.reason;
    v = Judge(kJpeg, unended);
    EXPECT_EQ(v.verdict, PhotoVerdict::Truncated);
    EXPECT_EQ(v.reason, "ends before its end marker");
    EXPECT_EQ(v.goodRows, 1200u);
    v = Judge(kJpeg, jpeg.substr(0, ScanStart(jpeg) / 2));
    EXPECT_EQ(v.verdict, PhotoVerdict::Truncated) << "cut inside its header: " << v.reason;
    EXPECT_EQ(v.goodRows, 0u);
    v = Judge(kJpeg, unended + std::string(10, 'x') + "\xFF\xD9");
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged) << "stray bytes before the end marker";
    EXPECT_EQ(v.goodRows, 1200u);
}

TEST_F(Photos, CutJpegIsTruncatedWithRowsInProportion) {
    const std::string jpeg = Read("a.jpg");
    const std::size_t scan = ScanStart(jpeg);
    ASSERT_GT(scan, 0u);
    for (const double share : {0.1, 0.35, 0.6, 0.9}) {
        const std::size_t cut = scan + static_cast<std::size_t>(share * double(jpeg.size() - scan));
        const auto v = Judge(kJpeg, jpeg.substr(0, cut));
        EXPECT_EQ(v.verdict, PhotoVerdict::Truncated) << share << ": " << v.reason;
        EXPECT_EQ(v.goodBytes, cut);
        // Plasma spreads detail evenly enough that rows follow the bytes.
        EXPECT_NEAR(double(v.goodRows) / 1200.0, share, 0.15) << share;
    }
}

TEST_F(Photos, OverwrittenJpegDataIsDamagedWhereTheDamageIs) {
    const std::string jpeg = Read("a.jpg");
    const std::size_t scan = ScanStart(jpeg);
    const std::size_t at = scan + (jpeg.size() - scan) / 2;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        const auto v = Judge(kJpeg, Overwrite(jpeg, at, Noise(4096, seed)));
        EXPECT_EQ(v.verdict, PhotoVerdict::Damaged) << seed << ": " << v.reason;
        EXPECT_GT(v.goodRows, 0u);
        EXPECT_LT(v.goodRows, 1200u);
        EXPECT_NEAR(double(v.goodRows) / 1200.0, 0.5, 0.15) << seed;
        // Found within the overwritten bytes, give or take the decoder's read-ahead.
        EXPECT_GE(v.goodBytes + 64, at) << seed;
        EXPECT_LE(v.goodBytes, at + 4096 + 64) << seed;
        EXPECT_NE(v.reason.find("corrupt data after row"), std::string::npos) << v.reason;
    }
}

TEST_F(Photos, OverwrittenProgressiveJpegIsDamaged) {
    const std::string jpeg = Read("progressive.jpg");
    const std::size_t at = jpeg.size() / 2;
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const auto v = Judge(kJpeg, Overwrite(jpeg, at, Noise(4096, seed)));
        EXPECT_EQ(v.verdict, PhotoVerdict::Damaged) << seed << ": " << v.reason;
        EXPECT_GE(v.goodBytes + 64, at);
        EXPECT_LE(v.goodBytes, at + 4096 + 64);
    }
    const auto cut = Judge(kJpeg, jpeg.substr(0, jpeg.size() * 6 / 10));
    EXPECT_EQ(cut.verdict, PhotoVerdict::Truncated) << cut.reason;
}

// The SOF0 segment's height and width fields.
void SetJpegSize(std::string& jpeg, std::uint16_t width, std::uint16_t height) {
    const std::size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    jpeg.replace(sof + 5, 4, Be(height, 2) + Be(width, 2));
}

TEST_F(Photos, HugeJpegHeadersAreRefusedUnchecked) {
    for (const auto& [width, height] :
         {std::pair<std::uint16_t, std::uint16_t>{65000, 65000}, {20000, 100}, {12000, 12000}}) {
        std::string jpeg = Read("a.jpg");
        SetJpegSize(jpeg, width, height);
        const auto started = std::chrono::steady_clock::now();
        const auto v = Judge(kJpeg, jpeg);
        EXPECT_EQ(v.verdict, PhotoVerdict::Unchecked) << width << "x" << height;
        EXPECT_NE(v.reason.find("too large"), std::string::npos) << v.reason;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    }
    // Just under the bounds it is decoded, and the data no longer fits the size.
    std::string jpeg = Read("a.jpg");
    SetJpegSize(jpeg, 1600, 1000);
    EXPECT_EQ(Judge(kJpeg, jpeg).verdict, PhotoVerdict::Damaged);
}

TEST_F(Photos, SlowJpegsRunOutOfTime) {
    for (const char* name : {"a.jpg", "progressive.jpg"}) {
        const auto v = Judge(kJpeg, Read(name), std::chrono::milliseconds(0));
        EXPECT_EQ(v.verdict, PhotoVerdict::Unchecked) << name;
        EXPECT_EQ(v.reason, "took longer than the time allowed");
    }
}

TEST(PhotoVerdict, NoiseAfterAJpegStartIsDamagedOrUnchecked) {
    for (unsigned seed = 0; seed < 300; ++seed) {
        // Short noise may honestly look cut off: a segment claims more than is there.
        const bool small = seed % 2 == 1;
        const std::string bytes =
            std::string("\xFF\xD8\xFF", 3) + Noise(small ? 300 : 200000, seed);
        const auto v = Judge(kJpeg, bytes);
        if (small)
            EXPECT_NE(v.verdict, PhotoVerdict::Intact) << seed;
        else
            EXPECT_TRUE(v.verdict == PhotoVerdict::Damaged || v.verdict == PhotoVerdict::Unchecked)
                << seed << ": " << v.reason;
        EXPECT_LE(v.goodBytes, bytes.size());
        EXPECT_FALSE(v.reason.empty());
    }
}

TEST(PhotoVerdict, EmptyAndForeignBytesAreNotJpegs) {
    EXPECT_EQ(Judge(kJpeg, "").verdict, PhotoVerdict::Truncated);
    const auto v = Judge(kJpeg, "\x89PNG\r\n\x1A\n" + Noise(100, 1));
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged) << v.reason;
}

// ---- PNG -----------------------------------------------------------------------------------

std::string Chunk(const std::string& type, const std::string& data) {
    std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
    return Be(data.size(), 4) + type + data + Be(crc, 4);
}

std::string Deflate(const std::string& raw) {
    uLongf room = compressBound(raw.size());
    std::string out(room, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &room,
                       reinterpret_cast<const Bytef*>(raw.data()), raw.size()),
              Z_OK);
    out.resize(room);
    return out;
}

// An 8-bit RGB PNG whose header says width x height but whose data holds `rows` rows.
std::string MadePng(std::uint32_t width, std::uint32_t height, std::uint32_t rows,
                    const std::string& compressed = {}) {
    const std::string header = Be(width, 4) + Be(height, 4) + std::string("\x08\x02\0\0\0", 5);
    std::string raw;
    for (std::uint32_t r = 0; r < rows; ++r)
        raw += std::string(1, '\0') + Noise(3 * width, r);
    return "\x89PNG\r\n\x1A\n" + Chunk("IHDR", header) +
           Chunk("IDAT", compressed.empty() ? Deflate(raw) : compressed) + Chunk("IEND", "");
}

// The offset of the first chunk of `type`.
std::size_t FindChunk(const std::string& png, const std::string& type) {
    std::size_t pos = 8;
    while (pos + 12 <= png.size()) {
        if (png.compare(pos + 4, 4, type) == 0)
            return pos;
        pos += 12 + ReadBig32(png, pos);
    }
    return std::string::npos;
}

TEST_F(Photos, DamagedPngDataIsFound) {
    const std::string png = Read("a.png");
    const std::size_t idat = FindChunk(png, "IDAT");
    ASSERT_NE(idat, std::string::npos);
    const std::uint32_t length = ReadBig32(png, idat);
    // A flipped byte fails the chunk's checksum.
    std::string flipped = png;
    flipped[idat + 8 + length / 2] ^= 0x10;
    const auto v = Judge(kPng, flipped);
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged);
    EXPECT_EQ(v.goodBytes, idat);
    EXPECT_NE(v.reason.find("checksum"), std::string::npos) << v.reason;
    // Corrupt data under a good checksum.
    std::string data = png.substr(idat + 8, length);
    data.replace(length / 2, 64, Noise(64, 5));
    const auto corrupt =
        Judge(kPng, std::string(png).replace(idat, 12 + length, Chunk("IDAT", data)));
    EXPECT_EQ(corrupt.verdict, PhotoVerdict::Damaged) << corrupt.reason;
}

TEST(PhotoVerdict, MadePngsMustHoldTogether) {
    EXPECT_EQ(Judge(kPng, MadePng(10, 10, 10)).verdict, PhotoVerdict::Intact);
    // The data must fill exactly the size in the header.
    const auto shortData = Judge(kPng, MadePng(10, 10, 9));
    EXPECT_EQ(shortData.verdict, PhotoVerdict::Damaged);
    EXPECT_NE(shortData.reason.find("its size needs 310"), std::string::npos) << shortData.reason;
    EXPECT_EQ(Judge(kPng, MadePng(10, 10, 11)).verdict, PhotoVerdict::Damaged);
    // Without its signature or its header.
    const std::string png = MadePng(4, 4, 4);
    EXPECT_EQ(Judge(kPng, "GIF89a" + png.substr(6)).verdict, PhotoVerdict::Damaged);
    EXPECT_EQ(Judge(kPng, png.substr(0, 8) + png.substr(8 + 25)).verdict, PhotoVerdict::Damaged);
}

TEST(PhotoVerdict, PngDecompressionBombStopsFast) {
    // 256 MiB of zeros behind a 10x10 header.
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 9), Z_OK);
    const std::string zeros(1 << 20, '\0');
    std::string compressed(1 << 20, '\0');
    z.next_out = reinterpret_cast<Bytef*>(compressed.data());
    z.avail_out = static_cast<uInt>(compressed.size());
    for (int i = 0; i < 256; ++i) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        z.avail_in = static_cast<uInt>(zeros.size());
        ASSERT_EQ(deflate(&z, i == 255 ? Z_FINISH : Z_NO_FLUSH), i == 255 ? Z_STREAM_END : Z_OK);
    }
    compressed.resize(z.total_out);
    deflateEnd(&z);
    const auto started = std::chrono::steady_clock::now();
    const auto v = Judge(kPng, MadePng(10, 10, 0, compressed));
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged);
    EXPECT_NE(v.reason.find("more image data"), std::string::npos) << v.reason;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
    // And a header too large to check is refused without inflating anything.
    EXPECT_EQ(Judge(kPng, MadePng(60000, 60000, 0, compressed)).verdict, PhotoVerdict::Unchecked);
}

// ---- GIF -----------------------------------------------------------------------------------

// Where the first image's compressed data starts: its first sub-block's length byte.
std::size_t GifImageData(const std::string& gif) {
    std::size_t pos = 13;
    if (std::uint8_t(gif[10]) & 0x80)
        pos += 3u * (2u << (gif[10] & 7));
    while (pos < gif.size()) {
        if (gif[pos] == 0x2C) {
            const auto flags = std::uint8_t(gif[pos + 9]);
            pos += 10 + ((flags & 0x80) ? 3u * (2u << (flags & 7)) : 0u);
            return pos + 1;  // past the code size
        }
        pos += 2;  // an extension
        while (gif[pos] != 0)
            pos += 1 + std::uint8_t(gif[pos]);
        ++pos;
    }
    return 0;
}

TEST_F(Photos, DamagedGifsAreGoodUpToTheDamage) {
    std::string gif = Read("a.gif");
    const std::size_t data = GifImageData(gif);
    ASSERT_GT(data, 0u);
    std::size_t block = data;  // a sub-block well inside the image
    for (int i = 0; i < 40; ++i)
        block += 1 + std::uint8_t(gif[block]);
    const std::size_t length = std::uint8_t(gif[block]);
    ASSERT_GT(length, 100u);
    auto v = Judge(kGif, std::string(gif).replace(block + 1, length, std::string(length, '\xFF')));
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged) << "impossible codes: " << v.reason;
    EXPECT_EQ(v.goodBytes, block);
    // An empty first sub-block ends the image data early.
    gif.replace(data, 1, std::string(1, '\0'));
    gif.erase(data + 1, gif.size() - 1 - (data + 1));
    v = Judge(kGif, gif);
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged) << "data ends early: " << v.reason;
    // An unknown block where the trailer was.
    std::string animated = Read("animated.gif");
    const std::size_t trailer = animated.size() - 1;
    animated[trailer] = 0x42;
    v = Judge(kGif, animated + ";");
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged) << "an unknown block";
    EXPECT_EQ(v.goodBytes, trailer);
}

// ---- TIFF ----------------------------------------------------------------------------------

// A minimal TIFF reader for the tests: the entry of `tag` in IFD0.
struct TiffEntry {
    std::size_t at = 0;  // the entry's offset
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;
};

std::uint32_t TiffNumber(const std::string& t, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i) {
        const int index = t[0] == 'I' ? width - 1 - i : i;
        v = (v << 8) | std::uint8_t(t[at + index]);
    }
    return v;
}

void PutTiffNumber(std::string& t, std::size_t at, int width, std::uint32_t v) {
    for (int i = 0; i < width; ++i) {
        const int index = t[0] == 'I' ? i : width - 1 - i;
        t[at + index] = static_cast<char>(v >> (8 * i));
    }
}

TiffEntry FindTiffEntry(const std::string& t, std::uint16_t tag) {
    const std::uint32_t ifd = TiffNumber(t, 4, 4);
    const std::uint32_t count = TiffNumber(t, ifd, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        if (TiffNumber(t, at, 2) == tag)
            return {at, std::uint16_t(TiffNumber(t, at + 2, 2)), TiffNumber(t, at + 4, 4),
                    TiffNumber(t, at + 8, 4)};
    }
    return {};
}

TEST_F(Photos, TiffWithAStripPastTheEndIsTruncated) {
    for (const char* name : {"a.tif", "big.tif"}) {
        std::string tiff = Read(name);
        const TiffEntry strips = FindTiffEntry(tiff, 273);
        ASSERT_GT(strips.count, 0u) << name;
        const int width = strips.type == 3 ? 2 : 4;
        const std::size_t values = strips.count * width <= 4 ? strips.at + 8 : strips.value;
        const std::size_t last = values + (strips.count - 1) * width;
        PutTiffNumber(tiff, last, width, static_cast<std::uint32_t>(tiff.size()) - 10);
        const auto v = Judge(kTiff, tiff);
        EXPECT_EQ(v.verdict, PhotoVerdict::Truncated) << name << ": " << v.reason;
        EXPECT_NE(v.reason.find("strips"), std::string::npos) << v.reason;
    }
}

TEST_F(Photos, TiffWithAnUnreadableDirectoryIsDamaged) {
    std::string tiff = Read("a.tif");
    const std::uint32_t ifd = TiffNumber(tiff, 4, 4);
    PutTiffNumber(tiff, ifd, 2, 0);
    const auto v = Judge(kTiff, tiff);
    EXPECT_EQ(v.verdict, PhotoVerdict::Damaged);
    EXPECT_EQ(v.goodBytes, ifd);
    // Offsets and sizes that disagree in number.
    tiff = Read("big.tif");
    const TiffEntry lengths = FindTiffEntry(tiff, 279);
    ASSERT_GT(lengths.count, 2u);
    PutTiffNumber(tiff, lengths.at + 4, 4, lengths.count - 1);
    EXPECT_EQ(Judge(kTiff, tiff).verdict, PhotoVerdict::Damaged);
    // Strip offsets of a type that cannot hold them.
    tiff = Read("a.tif");
    PutTiffNumber(tiff, FindTiffEntry(tiff, 273).at + 2, 2, 2);
    EXPECT_EQ(Judge(kTiff, tiff).verdict, PhotoVerdict::Damaged);
    EXPECT_EQ(Judge(kTiff, "XX*\0" + Read("a.tif").substr(4)).verdict, PhotoVerdict::Damaged);
}

TEST_F(Photos, RawMarksOfTheTiffFamilyAreRead) {
    std::string orf = Read("a.tif");
    ASSERT_EQ(orf.substr(0, 4), std::string("II*\0", 4));
    orf[2] = 'R';
    orf[3] = 'O';
    EXPECT_EQ(Judge(312, orf).verdict, PhotoVerdict::Intact);
}

// A TIFF whose raw data hangs off the fourth IFD of the chain, as in a CR2.
std::string ChainedTiff(std::uint32_t rawSize) {
    std::string t("II*\0", 4);
    t += std::string("\x08\0\0\0", 4);
    const auto entry = [](std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        return Le(tag, 2) + Le(type, 2) + Le(1, 4) + Le(value, 4);
    };
    // Four IFDs of two entries each (18 + 12 = 30 bytes), then the data.
    const std::uint32_t dataAt = 8 + 4 * 30;
    for (std::uint32_t i = 0; i < 4; ++i) {
        const std::uint32_t next = i == 3 ? 0 : 8 + (i + 1) * 30;
        std::string ifd("\x02\0", 2);
        ifd += entry(273, 4, dataAt);
        ifd += entry(279, 4, i == 3 ? rawSize : 16);
        ifd += Le(next, 4);
        t += ifd;
    }
    return t + Noise(std::max<std::uint32_t>(rawSize, 16), 4);
}

TEST(PhotoVerdict, RawDataAtTheEndOfTheDirectoryChainIsChecked) {
    const std::string raw = ChainedTiff(5000);
    EXPECT_EQ(Judge(310, raw).verdict, PhotoVerdict::Intact);
    EXPECT_EQ(Judge(310, raw.substr(0, raw.size() - 100)).verdict, PhotoVerdict::Truncated);
    std::string looped = raw;
    looped[8 + 3 * 30 + 26] = 8;  // the last IFD points back at the first
    EXPECT_EQ(Judge(310, looped).verdict, PhotoVerdict::Intact);
}

// ---- all formats ---------------------------------------------------------------------------

TEST(PhotoVerdict, NamesAndUncheckedFormats) {
    EXPECT_STREQ(VerdictName(PhotoVerdict::Unchecked), "unchecked");
    EXPECT_STREQ(VerdictName(PhotoVerdict::Intact), "intact");
    EXPECT_STREQ(VerdictName(PhotoVerdict::Truncated), "truncated");
    EXPECT_STREQ(VerdictName(PhotoVerdict::Damaged), "damaged");
    EXPECT_EQ(Judge(411, Noise(100, 1)).verdict, PhotoVerdict::Unchecked) << "MP3";
    EXPECT_EQ(Judge(700, Noise(100, 1)).verdict, PhotoVerdict::Unchecked) << "ZIP";
}

TEST_F(Photos, MutatedPhotosNeverCrashOrOverreach) {
    std::mt19937 random(11);
    for (const std::string name : {"cmyk.jpg", "palette.png", "animated.gif", "a.tif"}) {
        const std::int32_t format = FormatOf(name);
        const std::string original = Read(name);
        for (int round = 0; round < 60; ++round) {
            std::string bytes = original;
            for (int flips = 1 + int(random() % 8); flips > 0; --flips)
                bytes[random() % bytes.size()] = static_cast<char>(random());
            if (round % 3 == 0)
                bytes.resize(random() % bytes.size());
            const auto v = Judge(format, bytes);
            EXPECT_LE(v.goodBytes, bytes.size()) << name << " " << round;
            EXPECT_FALSE(v.reason.empty());
            // Every other format ignores the bytes whatever they hold.
            EXPECT_EQ(Judge(999, bytes).verdict, PhotoVerdict::Unchecked);
        }
    }
}

// ISO media (HEIC, CR3, MP4, MOV): judged by their boxes, since the index a player needs
// is what a cut-short camera file lacks.
std::string Box(const std::string& type, const std::string& body) {
    return Be(8 + body.size(), 4) + type + body;
}

TEST(IsoMediaVerdict, BoxesDecideIntactTruncatedAndDamaged) {
    constexpr std::int32_t kMp4 = 400;
    const std::string ftyp = Box("ftyp", "isom" + std::string(4, '\0') + "isommp41");
    const std::string mdat = Box("mdat", Noise(50000, 3));
    const std::string moov = Box("moov", Box("mvhd", std::string(100, '\0')));
    EXPECT_EQ(Judge(kMp4, ftyp + mdat + moov).verdict, PhotoVerdict::Intact);
    EXPECT_EQ(Judge(317, ftyp + Box("meta", std::string(40, '\0')) + mdat).verdict,
              PhotoVerdict::Intact);
    // Cut inside the data, or before the index a camera writes last.
    const std::string whole = ftyp + mdat + moov;
    const auto cut = Judge(kMp4, whole.substr(0, ftyp.size() + 20000));
    EXPECT_EQ(cut.verdict, PhotoVerdict::Truncated);
    EXPECT_EQ(cut.goodBytes, ftyp.size());
    EXPECT_EQ(Judge(kMp4, ftyp + mdat).verdict, PhotoVerdict::Truncated);
    // A box header that is none, and a box smaller than its header.
    std::string garbled = whole;
    garbled.replace(ftyp.size() + 4, 4, "\x01\x02\x03\x04");
    EXPECT_EQ(Judge(kMp4, garbled).verdict, PhotoVerdict::Damaged);
    std::string tiny = whole;
    tiny.replace(ftyp.size(), 4, std::string("\0\0\0\x03", 4));
    EXPECT_EQ(Judge(kMp4, tiny).verdict, PhotoVerdict::Damaged);
    EXPECT_EQ(Judge(kMp4, mdat + moov).verdict, PhotoVerdict::Damaged) << "no ftyp first";
    // A 64-bit size that claims more than there is.
    const std::string large = ftyp + std::string("\0\0\0\x01", 4) + "mdat" +
                              std::string("\x7F\0\0\0\0\0\0\0", 8) + Noise(100, 4);
    EXPECT_EQ(Judge(kMp4, large).verdict, PhotoVerdict::Truncated);
}

}  // namespace
}  // namespace duzez::signatures
