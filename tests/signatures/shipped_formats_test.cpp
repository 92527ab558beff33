// The formats shipped in data/signatures.reg against real samples of their kind.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "platform/registry_store.h"
#include "signatures/sector_matcher.h"
#include "signatures/signature_database.h"
#include "tests/support/source_dir.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

using Sector = std::array<std::uint8_t, kSectorBytes>;
using test::SourceDir;

bool RunTool(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A real ImageMagick (Debian ships a stand-in "convert" on some machines).
bool HaveImageMagick() {
    return RunTool("convert -version | grep -q ImageMagick");
}

Sector FirstSector(const std::filesystem::path& file, std::uint64_t offset = 0) {
    Sector sector{};
    std::ifstream in(file, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(sector.data()), sector.size());
    return sector;
}

Sector Bytes(std::initializer_list<std::pair<std::size_t, std::string>> parts) {
    Sector sector{};
    for (const auto& [offset, text] : parts)
        std::memcpy(sector.data() + offset, text.data(), text.size());
    return sector;
}

class ShippedFormats : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(store_.ImportFile(SourceDir() / "data" / "signatures.reg", &error)) << error;
        database_.LoadDatabase();
        matcher_ = std::make_unique<SectorMatcher>(database_);
    }

    // The format a sector ends up with: when several enabled formats match the sector
    // they are all reported in database order, and each later one renames the object.
    std::int32_t FormatOf(const Sector& sector) {
        std::vector<const Signature*> matches;
        matcher_->Match(sector, matches);
        return matches.empty() ? 0 : matches.back()->FormatId;
    }

    test::TempFolder dir_;
    platform::RegistryStore store_{dir_ / "registry.reg"};
    std::uint64_t counter_ = 0xFFFFFFFFFFFF0000ull;
    SignatureDatabase database_{store_, "Software\\Quarnel\\Duzez\\1.0",
                                [this] { return --counter_; }};
    std::unique_ptr<SectorMatcher> matcher_;
};

TEST_F(ShippedFormats, PhotosMadeByImageMagick) {
    if (!HaveImageMagick())
        GTEST_SKIP() << "ImageMagick is not installed";
    const std::map<std::string, std::int32_t> expected = {{"photo.jpg", 300}, {"photo.png", 301},
                                                          {"photo.gif", 302}, {"photo.bmp", 503},
                                                          {"photo.tif", 303}, {"photo.psd", 318}};
    for (const auto& [name, id] : expected) {
        const auto file = dir_ / name;
        ASSERT_TRUE(RunTool("convert -size 64x48 gradient:red-blue '" + file.string() + "'"))
            << name;
        EXPECT_EQ(FormatOf(FirstSector(file)), id) << name;
    }
    const auto motorola = dir_ / "motorola.tif";
    ASSERT_TRUE(
        RunTool("convert -size 8x8 xc:white -define tiff:endian=msb '" + motorola.string() + "'"));
    EXPECT_EQ(FirstSector(motorola)[0], 'M');
    EXPECT_EQ(FormatOf(FirstSector(motorola)), 303);
}

TEST_F(ShippedFormats, BootSectorsMadeByMkfsFat) {
    for (const auto& [bits, id] : std::map<int, std::int32_t>{{12, 1}, {16, 4}, {32, 11}}) {
        const auto image = dir_ / ("fat" + std::to_string(bits) + ".img");
        const std::string size = bits == 32 ? "66000" : bits == 16 ? "20000" : "8192";
        if (!RunTool("command -v mkfs.fat"))
            GTEST_SKIP() << "mkfs.fat is not installed";
        ASSERT_TRUE(RunTool("mkfs.fat -C -F " + std::to_string(bits) + " '" + image.string() +
                            "' " + size));
        EXPECT_EQ(FormatOf(FirstSector(image)), id) << "FAT" << bits;
    }
}

TEST_F(ShippedFormats, GzipMadeByGzip) {
    const auto file = dir_ / "notes.txt";
    test::WriteFile(file, "some notes\n");
    ASSERT_TRUE(RunTool("gzip -k '" + file.string() + "'"));
    EXPECT_EQ(FormatOf(FirstSector(dir_ / "notes.txt.gz")), 705);
}

TEST_F(ShippedFormats, HeadersOfFormatsWithoutAToolHere) {
    const std::string zero(1, '\0');
    const auto u32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    const std::vector<std::pair<std::int32_t, Sector>> samples = {
        {310, Bytes({{0, std::string("II*\0\x10\0\0\0CR\x02\0", 12)}})},
        {311, Bytes({{0, std::string("II\x1a\0\0\0HEAPCCDR", 14)}})},
        {312, Bytes({{0, std::string("IIRO\x08\0\0\0", 8)}})},
        {313, Bytes({{0, std::string("IIU\0\x18\0\0\0", 8)}})},
        {314, Bytes({{0, "FUJIFILMCCD-RAW 0201FF383501"}})},
        {315, Bytes({{0, std::string("\0MRM\0\0\x01\x00", 8)}})},
        {316, Bytes({{0, "FOVb"}})},
        {303, Bytes({{0, std::string("II*\0\x08\0\0\0", 8)}})},  // NEF, ARW, DNG: TIFF
        {400, Bytes({{0, u32(0x20000000) + "ftypisom"}})},
        {401, Bytes({{0, std::string("\0\0\0\x14", 4) + "ftypqt  "}})},
        {401, Bytes({{0, std::string("\0\0\0\x08", 4) + "wide"}})},
        {402, Bytes({{0, std::string("\0\0\0\x18", 4) + "ftyp3gp4"}})},
        {317, Bytes({{0, std::string("\0\0\0\x18", 4) + "ftypheic"}})},
        {317, Bytes({{0, std::string("\0\0\0\x1c", 4) + "ftypavif"}})},
        {403, Bytes({{0, "RIFF" + u32(1000) + "AVI LIST"}})},
        {410, Bytes({{0, "RIFF" + u32(1000) + "WAVEfmt "}})},
        {404, Bytes({{0, std::string("\0\0\x01\xba\x44", 5)}})},
        {411, Bytes({{0, std::string("ID3\x03\0\0", 6)}})},
        {412, Bytes({{0, "fLaC"}})},
        {413, Bytes({{0, std::string("OggS\0\x02", 6)}})},
        {600, Bytes({{0, "%PDF-1.7\n"}})},
        {601, Bytes({{0, "{\\rtf1\\ansi"}})},
        {100, Bytes({{0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"}})},
        {700, Bytes({{0, std::string("PK\x03\x04\x14\0", 6)}, {30, "photos/img.jpg"}})},
        {701, Bytes({{0, std::string("PK\x03\x04\x14\0", 6)}, {30, "[Content_Types].xml"}})},
        {702, Bytes({{0, std::string("PK\x03\x04\x14\0", 6)},
                     {30, "mimetypeapplication/vnd.oasis.opendocument.text"}})},
        {703, Bytes({{0, std::string("Rar!\x1a\x07\x01\0", 8)}})},
        {704, Bytes({{0, "7z\xBC\xAF\x27\x1C"}})},
        {706, Bytes({{0, std::string("SQLite format 3\0\x10\0", 18)}})},
        {504, Bytes({{0,
                      "\x01"
                      "CD001\x01"}})},
        {7, Bytes({{0, "\xEB\x52\x90NTFS    "}, {510, "\x55\xAA"}})},
        {24, Bytes({{0, "FILE0"}})},
        {25, Bytes({{0, ".          \x10"}, {32, "..         \x10"}})},
    };
    for (const auto& [id, sector] : samples) {
        EXPECT_EQ(FormatOf(sector), id) << "format " << id;
    }
    EXPECT_EQ(FormatOf(Sector{}), 0) << "an empty sector is no file";
}

TEST_F(ShippedFormats, NoExtensionIsClaimedTwice) {
    std::map<std::string, std::int32_t> owner;
    for (const auto& signature : database_.Signatures()) {
        std::string_view rest = signature->FileExtensions;
        while (!rest.empty()) {
            const std::size_t cut = rest.find(';');
            const std::string extension(rest.substr(0, cut));
            const auto [it, fresh] = owner.emplace(extension, signature->FormatId);
            EXPECT_TRUE(fresh) << extension << " of " << signature->FormatId << " is also "
                               << it->second;
            if (cut == std::string_view::npos)
                break;
            rest.remove_prefix(cut + 1);
        }
    }
}

TEST_F(ShippedFormats, TheNumbersWithAMeaningArePresent) {
    for (const std::int32_t id :
         {1, 4, 7, 11, 24, 25, 100, 101, 104, 105, 106, 107, 109, 500, 501, 503, 504, 520, 521}) {
        EXPECT_NE(database_.FindSignatureById(id), nullptr) << id;
    }
    std::set<std::string> groups;
    for (const auto& signature : database_.Signatures())
        groups.insert(signature->Group);
    EXPECT_TRUE(groups.count("Images") && groups.count("Camera RAW") && groups.count("Video"));
}

}  // namespace
}  // namespace duzez::signatures
