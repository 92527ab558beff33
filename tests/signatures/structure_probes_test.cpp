#include "signatures/structure_probes.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "tests/signatures/memory_reader.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

// A volume in memory: `file` at sector 8, noise around it.
struct Volume {
    explicit Volume(const std::string& file) : bytes(1 << 20) {
        std::mt19937 random(3);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
        std::copy(file.begin(), file.end(), bytes.begin() + 4096);
    }
    std::optional<std::uint64_t> End(std::int32_t format) {
        const SectorReader read = test::MemoryReader(bytes);
        return FindStructuralEnd(format, 4096, bytes.size(), read);
    }
    std::vector<std::uint8_t> bytes;
};

std::string Big32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

TEST(StructuralEnd, PhotosMadeByImageMagickEndWhereTheirFilesEnd) {
    if (!test::RunCommand("convert -version | grep -q ImageMagick"))
        GTEST_SKIP() << "ImageMagick missing";
    test::TempFolder dir;
    for (const auto& [name, format] : std::vector<std::pair<std::string, std::int32_t>>{
             {"a.jpg", 300}, {"a.png", 301}, {"a.gif", 302}, {"lsb.tif", 303}, {"msb.tif", 303}}) {
        const auto file = dir / name;
        const std::string endian = name == "msb.tif" ? "-endian MSB " : "-endian LSB ";
        ASSERT_TRUE(test::RunCommand("convert -size 300x200 plasma:fractal " + endian + "'" +
                                     file.string() + "'"));
        const std::string bytes = test::ReadFile(file);
        EXPECT_EQ(Volume(bytes).End(format), bytes.size()) << name;
        // Cut short: the walk runs into noise and gives up rather than guess.
        EXPECT_NE(Volume(bytes.substr(0, bytes.size() / 2)).End(format), bytes.size() / 2) << name;
    }
}

TEST(StructuralEnd, RiffAndIsoMediaSizes) {
    std::string wave = "RIFF" + std::string("\x24\x10\x00\x00", 4) + "WAVEfmt ";
    EXPECT_EQ(Volume(wave).End(410), 0x1024u + 8);
    std::string movie = Big32(24) + "ftypisom" + std::string(12, '\0') + Big32(1000) + "mdat" +
                        std::string(992, 'x') + Big32(8) + "free";
    Volume media(movie);
    // After the last box the noise does not read as a box.
    media.bytes[4096 + movie.size()] = 0;
    media.bytes[4096 + movie.size() + 4] = 0x01;
    EXPECT_EQ(media.End(400), 1032u);
    EXPECT_FALSE(Volume(Big32(24) + "ftypisom" + std::string(12, '\0')).End(400)) << "no media box";
    EXPECT_FALSE(Volume("RIFF\xff\xff\xff\x7f"
                        "AVI LIST")
                     .End(403))
        << "larger than the volume";
}

// A little-endian TIFF: one IFD at `ifd` with the given entries, then `next`.
std::string Tiff(std::uint32_t ifd, const std::vector<std::array<std::uint32_t, 4>>& entries,
                 std::uint32_t next, std::size_t size) {
    std::string file(size, '\0');
    const auto put = [&file](std::size_t at, std::uint32_t v, int width) {
        for (int i = 0; i < width; ++i)
            file[at + i] = static_cast<char>(v >> (8 * i));
    };
    file[0] = file[1] = 'I';
    put(2, 42, 2);
    put(4, ifd, 4);
    put(ifd, static_cast<std::uint32_t>(entries.size()), 2);
    for (std::size_t e = 0; e < entries.size(); ++e) {
        put(ifd + 2 + 12 * e, entries[e][0], 2);
        put(ifd + 4 + 12 * e, entries[e][1], 2);
        put(ifd + 6 + 12 * e, entries[e][2], 4);
        put(ifd + 10 + 12 * e, entries[e][3], 4);
    }
    put(ifd + 2 + 12 * entries.size(), next, 4);
    return file;
}

TEST(StructuralEnd, TiffEndsAfterTheFurthestStripOrPreview) {
    // Strip at 200 of 300 bytes, a JPEG preview at 600 of 1000 bytes.
    const auto raw =
        Tiff(8, {{273, 4, 1, 200}, {279, 4, 1, 300}, {513, 4, 1, 600}, {514, 4, 1, 1000}}, 0, 1600);
    EXPECT_EQ(Volume(raw).End(303), 1600u);
    EXPECT_EQ(Volume(raw).End(310), 1600u) << "CR2 is read the same way";
    // An IFD whose next link points at itself is read once.
    EXPECT_EQ(Volume(Tiff(8, {{273, 4, 1, 100}, {279, 4, 1, 50}}, 8, 150)).End(303), 150u);
    // Image data beyond the volume: broken, left to the estimate.
    EXPECT_FALSE(Volume(Tiff(8, {{273, 4, 1, 100}, {279, 4, 1, 0x7FFFFFFF}}, 0, 150)).End(303));
    // No image data at all says nothing about the end.
    EXPECT_FALSE(Volume(Tiff(8, {{256, 3, 1, 100}}, 0, 150)).End(303));
    EXPECT_FALSE(Volume(Tiff(8, {}, 0, 150)).End(303)) << "an empty IFD";
}

TEST(StructuralEnd, BrokenJpegIsLeftToTheEstimate) {
    EXPECT_FALSE(Volume("\xFF\xD8\xFF\xE0\x00\x01").End(300)) << "a segment length below 2";
    EXPECT_FALSE(Volume("\xFF\xD8\x12\x34").End(300));
    EXPECT_EQ(Volume("\xFF\xD8\xFF\xD9").End(300), 4u);
    EXPECT_FALSE(Volume("anything").End(999));
}

// A broken file followed by a large empty disk: walks that search for an end marker or a
// descriptor stop after a bounded amount of reading instead of reading the disk.
TEST(StructuralEnd, SearchesThroughEmptySpaceReadABoundedAmount) {
    const std::string jpegCut = std::string("\xFF\xD8\xFF\xDA\x00\x02", 6) + "scan data";
    const std::string pdfCut = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n";
    const std::string zipStreamed = std::string("PK\x03\x04\x14\x00\x08\x00\x00\x00", 10) +
                                    std::string(16, '\0') + std::string("\x01\x00\x00\x00a", 5);
    constexpr std::uint64_t kDisk = 4ull << 30;
    for (const auto& [format, file] :
         {std::pair{300, jpegCut}, std::pair{600, pdfCut}, std::pair{700, zipStreamed}}) {
        std::uint64_t read = 0;
        const SectorReader zeros = [&file, &read](std::span<std::uint8_t> buffer,
                                                  std::uint64_t sector,
                                                  std::uint64_t count) -> std::uint32_t {
            read += count * 512;
            std::fill(buffer.begin(), buffer.end(), 0);
            if (sector == 0)
                std::copy(file.begin(), file.end(), buffer.begin());
            return static_cast<std::uint32_t>(count * 512);
        };
        EXPECT_FALSE(FindStructuralEnd(format, 0, kDisk, zeros)) << format;
        EXPECT_LE(read, 65ull << 20) << format;
    }
}

}  // namespace
}  // namespace duzez::signatures
