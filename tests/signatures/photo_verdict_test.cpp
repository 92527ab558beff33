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
using test::Noise;

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

std::string Overwrite(std::string bytes, std::size_t at, const std::string& with) {
    bytes.replace(at, with.size(), with);
    return bytes;
}

// A number of `width` bytes at `at`: most significant first, unless `t` is a TIFF marked "II".
std::uint32_t Number(const std::string& t, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i)
        v = (v << 8) | std::uint8_t(t[at + (t[0] == 'I' ? width - 1 - i : i)]);
    return v;
}

void PutNumber(std::string& t, std::size_t at, int width, std::uint32_t v) {
    for (int i = 0; i < width; ++i)
        t[at + (t[0] == 'I' ? i : width - 1 - i)] = static_cast<char>(v >> (8 * i));
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
        pos += 12 + Number(png, pos, 4);
    }
    return std::string::npos;
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

// A minimal TIFF reader for the tests: the entry of `tag` in IFD0.
struct TiffEntry {
    std::size_t at = 0;  // the entry's offset
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::uint32_t value = 0;
};

TiffEntry FindTiffEntry(const std::string& t, std::uint16_t tag) {
    const std::uint32_t ifd = Number(t, 4, 4);
    const std::uint32_t count = Number(t, ifd, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = ifd + 2 + 12 * i;
        if (Number(t, at, 2) == tag)
            return {at, std::uint16_t(Number(t, at + 2, 2)), Number(t, at + 4, 4),
                    Number(t, at + 8, 4)};
    }
    return {};
}

// The strip offsets' last value, moved to 10 bytes before the end.
void StripPastTheEnd(std::string& tiff, std::size_t&) {
    const TiffEntry strips = FindTiffEntry(tiff, 273);
    ASSERT_GT(strips.count, 0u);
    const int width = strips.type == 3 ? 2 : 4;
    const std::size_t values = strips.count * width <= 4 ? strips.at + 8 : strips.value;
    PutNumber(tiff, values + (strips.count - 1) * width, width,
              static_cast<std::uint32_t>(tiff.size()) - 10);
}

// A change to a real photo and the verdict it must bring.
struct Change {
    const char* why;
    const char* name;
    // Changes the bytes; sets `goodBytes` where the damage starts, if known.
    void (*change)(std::string& bytes, std::size_t& goodBytes);
    PhotoVerdict expected;
    const char* reason = "";  // a part of the reason
    int goodRows = -1;
    std::int32_t format = 0;  // 0: by the name's extension
};

TEST_F(Photos, ChangedPhotosGetTheirVerdict) {
    using S = std::string;
    using Z = std::size_t;
    const Change changes[] = {
        // What surrounds a JPEG's end marker decides.
        {"data after the end marker", "a.jpg", [](S& b, Z&) { b += Noise(5000, 3); },
         PhotoVerdict::Intact},
        {"no end marker", "a.jpg",
         [](S& b, Z&) {
             ASSERT_EQ(b.substr(b.size() - 2), "\xFF\xD9");
             b.resize(b.size() - 2);
         },
         PhotoVerdict::Truncated, "ends before its end marker", 1200},
        {"cut inside its header", "a.jpg", [](S& b, Z&) { b.resize(ScanStart(b) / 2); },
         PhotoVerdict::Truncated, "", 0},
        {"stray bytes before the end marker", "a.jpg",
         [](S& b, Z&) { b.insert(b.size() - 2, 10, 'x'); }, PhotoVerdict::Damaged, "", 1200},
        // Just under the size bounds it is decoded, and the data no longer fits the size.
        {"1600x1000", "a.jpg", [](S& b, Z&) { SetJpegSize(b, 1600, 1000); }, PhotoVerdict::Damaged},
        {"a flipped byte fails the chunk's checksum", "a.png",
         [](S& b, Z& good) {
             good = FindChunk(b, "IDAT");
             ASSERT_NE(good, S::npos);
             b[good + 8 + Number(b, good, 4) / 2] ^= 0x10;
         },
         PhotoVerdict::Damaged, "checksum"},
        {"corrupt data under a good checksum", "a.png",
         [](S& b, Z&) {
             const Z idat = FindChunk(b, "IDAT");
             ASSERT_NE(idat, S::npos);
             const std::uint32_t length = Number(b, idat, 4);
             S data = b.substr(idat + 8, length);
             data.replace(length / 2, 64, Noise(64, 5));
             b.replace(idat, 12 + length, Chunk("IDAT", data));
         },
         PhotoVerdict::Damaged},
        {"impossible codes in a sub-block well inside the image", "a.gif",
         [](S& b, Z& good) {
             good = GifImageData(b);
             ASSERT_GT(good, 0u);
             for (int i = 0; i < 40; ++i)
                 good += 1 + std::uint8_t(b[good]);
             const Z length = std::uint8_t(b[good]);
             ASSERT_GT(length, 100u);
             b.replace(good + 1, length, S(length, '\xFF'));
         },
         PhotoVerdict::Damaged},
        {"an empty first sub-block ends the image data early", "a.gif",
         [](S& b, Z&) {
             const Z data = GifImageData(b);
             ASSERT_GT(data, 0u);
             b[data] = 0;
             b.erase(data + 1, b.size() - 1 - (data + 1));
         },
         PhotoVerdict::Damaged},
        {"an unknown block where the trailer was", "animated.gif",
         [](S& b, Z& good) {
             good = b.size() - 1;
             b[good] = 0x42;
             b += ";";
         },
         PhotoVerdict::Damaged},
        {"a strip past the end", "a.tif", StripPastTheEnd, PhotoVerdict::Truncated, "strips"},
        {"a strip past the end", "big.tif", StripPastTheEnd, PhotoVerdict::Truncated, "strips"},
        {"an empty directory", "a.tif",
         [](S& b, Z& good) {
             good = Number(b, 4, 4);
             PutNumber(b, good, 2, 0);
         },
         PhotoVerdict::Damaged},
        {"offsets and sizes that disagree in number", "big.tif",
         [](S& b, Z&) {
             const TiffEntry lengths = FindTiffEntry(b, 279);
             ASSERT_GT(lengths.count, 2u);
             PutNumber(b, lengths.at + 4, 4, lengths.count - 1);
         },
         PhotoVerdict::Damaged},
        {"strip offsets of a type that cannot hold them", "a.tif",
         [](S& b, Z&) { PutNumber(b, FindTiffEntry(b, 273).at + 2, 2, 2); }, PhotoVerdict::Damaged},
        {"no byte order", "a.tif", [](S& b, Z&) { b.replace(0, 4, "XX*"); }, PhotoVerdict::Damaged},
        // The raw marks of the TIFF family are read.
        {"ORF", "a.tif",
         [](S& b, Z&) {
             ASSERT_EQ(b.substr(0, 4), S("II*\0", 4));
             b.replace(2, 2, "RO");
         },
         PhotoVerdict::Intact, "", -1, 312},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(S(c.name) + ", " + c.why);
        S bytes = Read(c.name);
        Z goodBytes = S::npos;
        c.change(bytes, goodBytes);
        if (HasFatalFailure())
            return;
        const auto v = Judge(c.format != 0 ? c.format : FormatOf(c.name), bytes);
        EXPECT_EQ(v.verdict, c.expected) << v.reason;
        // What a case leaves unknown is compared with itself.
        EXPECT_EQ(v.goodBytes, goodBytes == S::npos ? v.goodBytes : goodBytes);
        EXPECT_NE(v.reason.find(c.reason), S::npos) << v.reason;
        EXPECT_EQ(v.goodRows, c.goodRows < 0 ? v.goodRows : std::uint32_t(c.goodRows));
    }
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

TEST(PhotoVerdict, CraftedBytesGetTheirVerdict) {
    using V = PhotoVerdict;
    constexpr std::int32_t kRaw = 310;
    constexpr std::int32_t kMp4 = 400;
    const std::string png = MadePng(4, 4, 4);
    const std::string raw = ChainedTiff(5000);
    std::string looped = raw;
    looped[8 + 3 * 30 + 26] = 8;  // the last IFD points back at the first
    const std::string ftyp = Box("ftyp", "isom" + std::string(4, '\0') + "isommp41");
    const std::string mdat = Box("mdat", Noise(50000, 3));
    const std::string moov = Box("moov", Box("mvhd", std::string(100, '\0')));
    const std::string whole = ftyp + mdat + moov;
    std::string garbled = whole;
    garbled.replace(ftyp.size() + 4, 4, "\x01\x02\x03\x04");
    std::string tiny = whole;
    tiny.replace(ftyp.size(), 4, std::string("\0\0\0\x03", 4));
    const struct {
        const char* why;
        std::int32_t format;
        std::string bytes;
        PhotoVerdict expected;
    } cases[] = {
        {"nothing", kJpeg, "", V::Truncated},
        {"a PNG as a JPEG", kJpeg, "\x89PNG\r\n\x1A\n" + Noise(100, 1), V::Damaged},
        // A PNG's data must fill exactly the size in its header.
        {"10 rows of 10", kPng, MadePng(10, 10, 10), V::Intact},
        {"9 rows of 10", kPng, MadePng(10, 10, 9), V::Damaged},
        {"11 rows of 10", kPng, MadePng(10, 10, 11), V::Damaged},
        {"a PNG without its signature", kPng, "GIF89a" + png.substr(6), V::Damaged},
        {"a PNG without its header", kPng, png.substr(0, 8) + png.substr(8 + 25), V::Damaged},
        {"raw data at the end of the chain", kRaw, raw, V::Intact},
        {"raw data cut", kRaw, raw.substr(0, raw.size() - 100), V::Truncated},
        {"a looped chain", kRaw, looped, V::Intact},
        {"MP3", 411, Noise(100, 1), V::Unchecked},
        {"ZIP", 700, Noise(100, 1), V::Unchecked},
        // ISO media (HEIC, CR3, MP4, MOV) are judged by their boxes, since the index a player
        // needs is what a cut-short camera file lacks.
        {"MP4", kMp4, whole, V::Intact},
        {"HEIC", 317, ftyp + Box("meta", std::string(40, '\0')) + mdat, V::Intact},
        {"cut inside the data", kMp4, whole.substr(0, ftyp.size() + 20000), V::Truncated},
        {"cut before the index a camera writes last", kMp4, ftyp + mdat, V::Truncated},
        {"a box header that is none", kMp4, garbled, V::Damaged},
        {"a box smaller than its header", kMp4, tiny, V::Damaged},
        {"no ftyp first", kMp4, mdat + moov, V::Damaged},
        {"a 64-bit size that claims more than there is", kMp4,
         ftyp + std::string("\0\0\0\x01", 4) + "mdat" + std::string("\x7F\0\0\0\0\0\0\0", 8) +
             Noise(100, 4),
         V::Truncated},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Judge(c.format, c.bytes).verdict, c.expected) << c.why;
    const auto shortData = Judge(kPng, MadePng(10, 10, 9));
    EXPECT_NE(shortData.reason.find("its size needs 310"), std::string::npos) << shortData.reason;
    EXPECT_EQ(Judge(kMp4, whole.substr(0, ftyp.size() + 20000)).goodBytes, ftyp.size());
    EXPECT_STREQ(VerdictName(V::Unchecked), "unchecked");
    EXPECT_STREQ(VerdictName(V::Intact), "intact");
    EXPECT_STREQ(VerdictName(V::Truncated), "truncated");
    EXPECT_STREQ(VerdictName(V::Damaged), "damaged");
}

}  // namespace
}  // namespace duzez::signatures
