#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "signatures/compound_end.h"
#include "signatures/jpeg_end.h"
#include "signatures/mp3_end.h"
#include "signatures/ogg_end.h"
#include "tests/signatures/memory_reader.h"
#include "tests/support/temp_folder.h"

namespace duzez::signatures {
namespace {

using Walk = std::optional<std::uint64_t> (*)(FileBytes&);

constexpr std::uint64_t kStart = 8192;

using test::Be;
using test::Le;
using test::Noise;
using test::Segment;

// The start of a JPEG that was written right after the file on the volume.
std::string NextFile() {
    return std::string("\xFF\xD8\xFF\xE0", 4) + Noise(60000, 7);
}

// A volume in memory: noise, the file at kStart, another file right after it.
struct Volume {
    explicit Volume(const std::string& file, const std::string& after = NextFile()) {
        const std::string all = Noise(kStart, 5) + file + after + Noise(4096, 6);
        bytes.assign(all.begin(), all.end());
        bytes.resize((bytes.size() + 511) / 512 * 512);
    }
    // The walk over the file, to the volume's end or to `limit` bytes from the file's start.
    std::optional<std::uint64_t> End(Walk walk, std::optional<std::uint64_t> limit = {}) {
        const SectorReader reader = test::MemoryReader(bytes, &read);
        FileBytes file(kStart, limit.value_or(bytes.size() - kStart), reader);
        return walk(file);
    }
    std::vector<std::uint8_t> bytes;
    std::uint64_t read = 0;  // bytes the walk asked the volume for
};

// ---- JPEG ----------------------------------------------------------------------------------

struct MpEntry {
    std::uint32_t size;
    std::uint32_t offset;
};

// An APP2 MPF segment with an MP Index IFD listing `entries`.
std::string MpfSegment(bool little, const std::vector<MpEntry>& entries) {
    const auto put = [little](std::uint64_t v, int width) {
        return little ? Le(v, width) : Be(v, width);
    };
    std::string mp = little ? std::string("II*\0", 4) : std::string("MM\0*", 4);
    mp += put(8, 4);  // the IFD right after the header
    const std::uint32_t entriesAt = 8 + 2 + 3 * 12 + 4;
    mp += put(3, 2);
    mp += put(0xB000, 2) + put(7, 2) + put(4, 4) + "0100";
    mp += put(0xB001, 2) + put(4, 2) + put(1, 4) + put(entries.size(), 4);
    mp += put(0xB002, 2) + put(7, 2) + put(16 * entries.size(), 4) + put(entriesAt, 4);
    mp += put(0, 4);  // no next IFD
    for (std::size_t i = 0; i < entries.size(); ++i) {
        mp += put(i == 0 ? 0x20030000 : 0x00000000, 4);
        mp += put(entries[i].size, 4) + put(entries[i].offset, 4) + put(0, 2) + put(0, 2);
    }
    return Segment(0xE2, std::string("MPF\0", 4) + mp);
}

std::string XmpSegment(const std::string& description) {
    return Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                             "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://"
                             "www.w3.org/1999/02/22-rdf-syntax-ns#\">" +
                             description + "</rdf:RDF></x:xmpmeta>");
}

// A JPEG with an MPF index after its SOI (and `before` ahead of it) listing `b` right
// after `a` (`copies` times over); `tweak` may change the second entry. Returns the file and
// the first part's size.
std::pair<std::string, std::size_t> Mpo(
    const std::string& a, const std::string& b, bool little, const std::string& before = "",
    const std::function<void(MpEntry&)>& tweak = [](MpEntry&) {}, std::size_t copies = 1) {
    // The segment's size does not depend on the values in it.
    const std::size_t segment = MpfSegment(little, std::vector<MpEntry>(copies + 1)).size();
    const std::size_t first = 2 + before.size() + segment + a.size() - 2;
    const std::size_t mpHeader = 2 + before.size() + 4 + 4;  // marker, length, "MPF\0"
    MpEntry second{static_cast<std::uint32_t>(b.size()),
                   static_cast<std::uint32_t>(first - mpHeader)};
    tweak(second);
    std::vector<MpEntry> entries{{static_cast<std::uint32_t>(first), 0}};
    entries.resize(copies + 1, second);
    const std::string file =
        a.substr(0, 2) + before + MpfSegment(little, entries) + a.substr(2) + b;
    return {file, first};
}

// An ISO media file of `size` bytes: ftyp, free, mdat.
std::string Movie(std::size_t size) {
    std::string movie = Be(24, 4) + "ftypisom" + Be(0x200, 4) + "isommp41";
    movie += Be(8, 4) + "free";
    movie += Be(size - movie.size(), 4) + "mdat";
    movie += Noise(size - movie.size(), 11);
    return movie;
}

class JpegFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::RunCommand("convert -version | grep -q ImageMagick"))
            GTEST_SKIP() << "ImageMagick missing";
        ASSERT_TRUE(test::RunCommand("convert -size 640x480 plasma:fractal -quality 85 '" +
                                     (dir / "a.jpg").string() + "'"));
        ASSERT_TRUE(test::RunCommand("convert -size 160x120 gradient:red-blue '" +
                                     (dir / "b.jpg").string() + "'"));
        a = test::ReadFile(dir / "a.jpg");
        b = test::ReadFile(dir / "b.jpg");
        ASSERT_GT(a.size(), 1000u);
        ASSERT_GT(b.size(), 100u);
    }
    test::TempFolder dir;
    std::string a, b;
};

TEST_F(JpegFiles, APlainPhotoEndsAtItsEndMarkAndUndeclaredBytesAfterItAreNotTaken) {
    EXPECT_EQ(Volume(a).End(JpegEnd), a.size());
    EXPECT_EQ(Volume(a + "junk that no header declares").End(JpegEnd), a.size());
    EXPECT_EQ(Volume(a + b).End(JpegEnd), a.size()) << "a second JPEG no index lists";
    EXPECT_FALSE(Volume(a.substr(0, a.size() / 2), Noise(4096, 9)).End(JpegEnd));
}

TEST_F(JpegFiles, TheImagesOfAnMpfIndexAreTaken) {
    for (const bool little : {true, false}) {
        const auto [file, first] = Mpo(a, b, little);
        ASSERT_EQ(file.size(), first + b.size());
        EXPECT_EQ(Volume(file).End(JpegEnd), file.size()) << little;
        // A further copy of b that the index does not list is left alone.
        EXPECT_EQ(Volume(file + b).End(JpegEnd), file.size()) << little;
    }
}

TEST_F(JpegFiles, AnIndexThatDoesNotHoldTogetherGivesOnlyTheFirstImage) {
    // Beyond the bound: the first image is whole and the rest cannot be checked.
    const auto [past, first] = Mpo(a, b, true, "", [](MpEntry& e) { e.offset = 0x7FFFFF00; });
    EXPECT_EQ(Volume(past).End(JpegEnd), first);
    const auto [listed, same] = Mpo(a, b, true);
    EXPECT_EQ(Volume(listed).End(JpegEnd, listed.size() - 1), first) << "bound inside b";
    // b does not start where listed.
    const auto [shifted, first2] = Mpo(a, b, true, "", [](MpEntry& e) { e.offset += 1; });
    EXPECT_EQ(Volume(shifted).End(JpegEnd), first2);
    // b's end mark lies beyond the size listed.
    const auto [small, first3] = Mpo(a, b, false, "", [](MpEntry& e) { e.size -= 10; });
    EXPECT_EQ(Volume(small).End(JpegEnd), first3);
    // The first entry must be the image holding the index.
    auto [moved, first5] = Mpo(a, b, true);
    moved.replace(2 + 4 + 4 + 50 + 8, 4, Le(4, 4));
    EXPECT_EQ(Volume(moved).End(JpegEnd), first5);
    // b listed twice over: images may not overlap.
    const auto [twice, first4] = Mpo(
        a, b, true, "", [](MpEntry&) {}, 2);
    EXPECT_EQ(Volume(twice).End(JpegEnd), first4);
}

TEST_F(JpegFiles, AMotionPhotoTakesTheVideoItsXmpDeclares) {
    const std::string movie = Movie(5000);
    const auto xmp = [](std::uint64_t offset) {
        return XmpSegment(
            "<rdf:Description rdf:about=\"\" xmlns:GCamera=\"http://ns.google.com/photos/1.0/"
            "camera/\" GCamera:MicroVideo=\"1\" GCamera:MicroVideoVersion=\"1\" "
            "GCamera:MicroVideoOffset=\"" +
            std::to_string(offset) + "\"/>");
    };
    const std::string photo = a.substr(0, 2) + xmp(movie.size()) + a.substr(2);
    EXPECT_EQ(Volume(photo + movie).End(JpegEnd), photo.size() + movie.size());
    // The declared video is not there: the photo alone.
    EXPECT_EQ(Volume(photo + Noise(movie.size(), 3)).End(JpegEnd), photo.size());
    // The declared length does not match the boxes.
    for (const std::size_t declared : {movie.size() + 8, movie.size() - 1, movie.size() + 4}) {
        const std::string wrong = a.substr(0, 2) + xmp(declared) + a.substr(2);
        EXPECT_EQ(Volume(wrong + movie).End(JpegEnd), wrong.size()) << declared;
    }
    // Beyond the bound.
    EXPECT_EQ(Volume(photo + movie).End(JpegEnd, photo.size() + movie.size() - 1), photo.size());
}

TEST_F(JpegFiles, AContainerDirectoryListsAGainMapAndAVideo) {
    const std::string movie = Movie(3000);
    const auto directory = [&](std::uint64_t gainMap, std::uint64_t video,
                               std::uint64_t padding = 0) {
        return XmpSegment(
            "<rdf:Description rdf:about=\"\" xmlns:Container=\"http://ns.google.com/photos/1.0/"
            "container/\" xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\">"
            "<Container:Directory><rdf:Seq>"
            "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Mime=\"image/jpeg\" "
            "Item:Semantic=\"Primary\" Item:Length=\"0\" Item:Padding=\"" +
            std::to_string(padding) +
            "\"/></rdf:li>"
            "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Mime=\"image/jpeg\" "
            "Item:Semantic=\"GainMap\" Item:Length=\"" +
            std::to_string(gainMap) +
            "\"/></rdf:li>"
            "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Mime=\"video/mp4\" "
            "Item:Semantic=\"MotionPhoto\" Item:Length=\"" +
            std::to_string(video) + "\" Item:Padding=\"0\"/></rdf:li></rdf:Seq>" +
            "</Container:Directory></rdf:Description>");
    };
    // The gain map is in the MPF index too, as Ultra HDR writes it.
    const auto [file, first] = Mpo(a, b, true, directory(b.size(), movie.size()));
    EXPECT_EQ(Volume(file + movie).End(JpegEnd), file.size() + movie.size());
    // A video that is not there: the index still stands, the directory does not.
    EXPECT_EQ(Volume(file + Noise(movie.size(), 4)).End(JpegEnd), file.size());
    const auto [wrong, first2] = Mpo(a, b, true, directory(b.size() - 10, movie.size()));
    EXPECT_EQ(Volume(wrong + movie).End(JpegEnd), wrong.size()) << "gain map length";
    // Without the MPF index: the listed gain map is not a JPEG.
    const std::string alone = a.substr(0, 2) + directory(b.size(), movie.size()) + a.substr(2);
    EXPECT_EQ(Volume(alone + b + movie).End(JpegEnd), alone.size() + b.size() + movie.size());
    EXPECT_EQ(Volume(alone + Noise(b.size(), 8) + movie).End(JpegEnd), alone.size());
    // Padding declared after the primary image.
    const std::string padded = a.substr(0, 2) + directory(b.size(), movie.size(), 16) + a.substr(2);
    const std::string pad(16, '\0');
    EXPECT_EQ(Volume(padded + pad + b + movie).End(JpegEnd),
              padded.size() + 16 + b.size() + movie.size());
    EXPECT_EQ(Volume(padded + b + movie).End(JpegEnd), padded.size()) << "padding not there";
}

TEST(JpegEnd, BrokenMarkersAreNoEnd) {
    EXPECT_EQ(Volume(std::string("\xFF\xD8\xFF\xD9", 4)).End(JpegEnd), 4u);
    EXPECT_FALSE(Volume(std::string("\xFF\xD8\xFF\xE0\x00\x01", 6)).End(JpegEnd));
    EXPECT_FALSE(Volume(std::string("\xFF\xD8\x12\x34", 4)).End(JpegEnd));
    // A segment running past the bound.
    EXPECT_FALSE(Volume(std::string("\xFF\xD8\xFF\xE1\xFF\xFF", 6)).End(JpegEnd, 1000));
}

// ---- Ogg ------------------------------------------------------------------------------------

// The pages of an Ogg file, by the sizes their headers give.
std::vector<std::string> Pages(const std::string& ogg) {
    std::vector<std::string> pages;
    for (std::size_t at = 0; at + 27 <= ogg.size();) {
        const std::size_t segments = static_cast<std::uint8_t>(ogg[at + 26]);
        std::size_t size = 27 + segments;
        for (std::size_t i = 0; i < segments; ++i)
            size += static_cast<std::uint8_t>(ogg[at + 27 + i]);
        pages.push_back(ogg.substr(at, size));
        at += size;
    }
    return pages;
}

class OggFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveTool("oggenc") || !test::HaveTool("sox"))
            GTEST_SKIP() << "oggenc or sox missing";
        const std::string wav = (dir / "tone.wav").string();
        ASSERT_TRUE(test::RunCommand("sox -n -r 44100 -c 2 -b 16 -e signed-integer '" + wav +
                                     "' synth 4 pinknoise"));
        for (const auto& [name, serial] : {std::pair{"a.ogg", 1111}, std::pair{"b.ogg", 2222}}) {
            ASSERT_TRUE(test::RunCommand("oggenc -Q -s " + std::to_string(serial) + " -o '" +
                                         (dir / name).string() + "' '" + wav + "'"));
        }
        a = test::ReadFile(dir / "a.ogg");
        b = test::ReadFile(dir / "b.ogg");
        ASSERT_GT(Pages(a).size(), 4u);
    }
    test::TempFolder dir;
    std::string a, b;
};

TEST_F(OggFiles, AVorbisFileEndsAfterItsLastPage) {
    EXPECT_EQ(Volume(a).End(OggEnd), a.size());
    // A chained stream after it is another file as far as the walk can tell.
    EXPECT_EQ(Volume(a + b).End(OggEnd), a.size());
}

TEST_F(OggFiles, EveryStreamBegunMustEnd) {
    // Two streams multiplexed: both first pages, then the rest in turn.
    const auto pa = Pages(a);
    const auto pb = Pages(b);
    const auto multiplexed = [&](bool withEndOfB) {
        std::string both = pa[0] + pb[0];
        for (std::size_t i = 1; i < std::max(pa.size(), pb.size()); ++i) {
            if (i < pa.size())
                both += pa[i];
            if (i + 1 < pb.size() || (i + 1 == pb.size() && withEndOfB))
                both += pb[i];
        }
        return both;
    };
    const std::string both = multiplexed(true);
    EXPECT_EQ(Volume(both).End(OggEnd), both.size());
    // Without b's last page the walk meets the next file and gives up.
    EXPECT_FALSE(Volume(multiplexed(false)).End(OggEnd));
}

TEST_F(OggFiles, ABrokenPageIsNoEnd) {
    const auto pages = Pages(a);
    std::string corrupt = a;
    const std::size_t third = pages[0].size() + pages[1].size();
    corrupt[third + pages[2].size() / 2] ^= 0x40;
    Volume volume(corrupt);
    EXPECT_FALSE(volume.End(OggEnd)) << "CRC";
    EXPECT_LT(volume.read, 200000u) << "stopped at the broken page";
    // A lost page: the sequence numbers jump.
    std::string lost = a.substr(0, third) + a.substr(third + pages[2].size());
    EXPECT_FALSE(Volume(lost).End(OggEnd));
    // Cut short, by the bound or by the next file.
    EXPECT_FALSE(Volume(a).End(OggEnd, a.size() - 1));
    EXPECT_FALSE(Volume(a.substr(0, a.size() - 100)).End(OggEnd));
}

// ---- MP3 ------------------------------------------------------------------------------------

std::string Id3(std::size_t body, std::uint8_t version = 3, std::uint8_t flags = 0) {
    std::string tag = "ID3";
    tag += static_cast<char>(version);
    tag += '\0';
    tag += static_cast<char>(flags);
    for (int shift = 21; shift >= 0; shift -= 7)
        tag += static_cast<char>((body >> shift) & 0x7F);
    tag += "TIT2" + Be(6, 4) + std::string(2, '\0') + std::string("\0Title", 6);
    tag += std::string(body - 16, '\0');
    if (flags & 0x10)
        tag += "3DI" + tag.substr(3, 7);
    return tag;
}

// MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes, 418 with the padding bit.
std::string Mp3Frame(bool padded, std::uint8_t rateByte = 0x90) {
    std::string frame("\xFF\xFB", 2);
    frame += static_cast<char>(rateByte | (padded ? 0x02 : 0x00));
    frame += '\x44';
    frame += std::string(padded ? 414 : 413, '\x55');
    return frame;
}

std::string Frames(int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += Mp3Frame(i % 3 == 1);
    return out;
}

TEST(Mp3End, FramesAfterTheId3TagToTheEndOfTheChain) {
    const std::string tag = Id3(100);
    ASSERT_EQ(tag.size(), 110u);
    const std::string frames = Frames(20);
    ASSERT_EQ(frames.size(), 20 * 417u + 7);
    EXPECT_EQ(Volume(tag + frames).End(Mp3End), 110 + frames.size());
    // An ID3v2.4 footer is part of the tag.
    const std::string footed = Id3(100, 4, 0x10);
    EXPECT_EQ(Volume(footed + frames).End(Mp3End), 120 + frames.size());
    // An ID3v1 tag, and an APEv2 tag with header and footer ahead of it, are taken.
    const std::string v1 = "TAG" + std::string(125, ' ');
    EXPECT_EQ(Volume(tag + frames + v1).End(Mp3End), 110 + frames.size() + 128);
    const std::string items = Le(5, 4) + Le(0, 4) + "Title" + '\0' + "hello";
    const auto ape = [&items](std::uint32_t flags) {
        return "APETAGEX" + Le(2000, 4) + Le(items.size() + 32, 4) + Le(1, 4) + Le(flags, 4) +
               std::string(8, '\0');
    };
    const std::string apeTag = ape(0xA0000000) + items + ape(0x80000000);
    EXPECT_EQ(Volume(tag + frames + apeTag + v1).End(Mp3End),
              110 + frames.size() + apeTag.size() + 128);
}

TEST(Mp3End, TheChainEndsWhereAHeaderBreaks) {
    const std::string tag = Id3(100);
    std::string frames = Frames(20);
    const std::size_t twelfth = Frames(12).size();
    std::string broken = frames;
    broken[twelfth + 1] = 0;
    EXPECT_EQ(Volume(tag + broken).End(Mp3End), 110 + twelfth);
    // Another sample rate (48 kHz) is another stream.
    std::string other = frames.substr(0, twelfth) + Mp3Frame(false, 0x94) + frames.substr(twelfth);
    EXPECT_EQ(Volume(tag + other).End(Mp3End), 110 + twelfth);
    EXPECT_FALSE(Volume(tag + Frames(5)).End(Mp3End)) << "too few frames to tell";
    EXPECT_FALSE(Volume(tag + frames).End(Mp3End, 110 + frames.size() - 1)) << "cut by the bound";
    std::string free = tag + Frames(20);
    free[110 + 2] = '\x00';  // bitrate index 0
    EXPECT_FALSE(Volume(free).End(Mp3End)) << "free format";
    std::string freeLater = tag + Frames(20);
    freeLater[110 + twelfth + 2] = '\x00';
    EXPECT_FALSE(Volume(freeLater).End(Mp3End)) << "free format after fixed frames";
    EXPECT_FALSE(Volume("ID3\x03" + std::string(6, '\x7F') + frames).End(Mp3End))
        << "a tag size past the bound";
}

class Mp3Files : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveTool("lame") || !test::HaveTool("sox"))
            GTEST_SKIP() << "lame or sox missing";
        wav = (dir / "tone.wav").string();
        ASSERT_TRUE(test::RunCommand("sox -n -r 44100 -c 2 -b 16 -e signed-integer '" + wav +
                                     "' synth 4 sine 300"));
    }
    std::string Encode(const std::string& name, const std::string& options) {
        const auto path = dir / name;
        EXPECT_TRUE(
            test::RunCommand("lame --quiet " + options + " '" + wav + "' '" + path.string() + "'"));
        return test::ReadFile(path);
    }
    test::TempFolder dir;
    std::string wav;
};

TEST_F(Mp3Files, LameFilesEndWhereTheyEnd) {
    for (const std::string options :
         {"--id3v2-only --tt Title --ta Artist", "-V 2 --id3v2-only --tt Title",
          "--add-id3v2 --tt Title --ta Artist"}) {
        const std::string mp3 = Encode("a.mp3", options);
        ASSERT_EQ(mp3.substr(0, 3), "ID3") << options;
        if (options.starts_with("--add")) {  // an ID3v1 tag at the end too
            ASSERT_EQ(mp3.substr(mp3.size() - 128, 3), "TAG");
        }
        EXPECT_EQ(Volume(mp3).End(Mp3End), mp3.size()) << options;
    }
}

TEST_F(Mp3Files, ACorruptedStretchEndsTheChainAtAFrameBefore) {
    const std::string v2 = Encode("v2.mp3", "--id3v2-only --tt Title");
    const std::size_t at = v2.size() / 2;
    std::string broken = v2;
    std::fill_n(broken.begin() + static_cast<std::ptrdiff_t>(at), 2000, '\0');
    const auto end = Volume(broken).End(Mp3End);
    ASSERT_TRUE(end);
    EXPECT_GE(*end + 4, at);
    EXPECT_LT(*end, at + 2000);
    // It is a frame boundary: the chain before it ends there on its own.
    EXPECT_EQ(Volume(v2.substr(0, *end)).End(Mp3End), *end);
}

// ---- Compound document ----------------------------------------------------------------------

struct Cfb {
    std::string bytes;
    std::size_t sectors;  // in use after the header
};

// A compound document with `fatSectors` FAT sectors (the DIFAT sectors it then needs), a
// directory sector and a stream of `streamSectors` sectors, laid out in that order.
Cfb MakeCfb(int shift, std::uint32_t fatSectors, std::uint32_t streamSectors) {
    const std::size_t size = std::size_t{1} << shift;
    const std::size_t perSector = size / 4;
    const std::uint32_t difatSectors =
        fatSectors > 109
            ? static_cast<std::uint32_t>((fatSectors - 109 + perSector - 2) / (perSector - 1))
            : 0;
    const std::uint32_t directory = fatSectors + difatSectors;
    const std::uint32_t stream = directory + 1;
    const std::size_t used = stream + streamSectors;
    std::string file((used + 1) * size, '\0');
    const auto put = [&file](std::size_t at, std::uint64_t value, int width) {
        file.replace(at, width, Le(value, width));
    };
    const auto sectorAt = [size](std::size_t sector) { return (sector + 1) * size; };
    file.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    put(24, 0x3E, 2);
    put(26, shift == 9 ? 3 : 4, 2);
    put(28, 0xFFFE, 2);
    put(30, shift, 2);
    put(32, 6, 2);
    put(44, fatSectors, 4);
    put(48, directory, 4);
    put(56, 4096, 4);
    put(60, 0xFFFFFFFE, 4);
    put(68, difatSectors ? fatSectors : 0xFFFFFFFE, 4);
    put(72, difatSectors, 4);
    for (std::size_t i = 0; i < 109; ++i)
        put(76 + 4 * i, i < fatSectors ? i : 0xFFFFFFFF, 4);
    for (std::uint32_t d = 0; d < difatSectors; ++d) {
        for (std::size_t slot = 0; slot + 1 < perSector; ++slot) {
            const std::size_t i = 109 + d * (perSector - 1) + slot;
            put(sectorAt(fatSectors + d) + 4 * slot, i < fatSectors ? i : 0xFFFFFFFF, 4);
        }
        put(sectorAt(fatSectors + d) + 4 * (perSector - 1),
            d + 1 < difatSectors ? fatSectors + d + 1 : 0xFFFFFFFE, 4);
    }
    // FAT: every entry free, then the sectors in use.
    for (std::uint32_t f = 0; f < fatSectors; ++f)
        file.replace(sectorAt(f), size, std::string(size, '\xFF'));
    const auto fat = [&](std::size_t sector, std::uint32_t value) {
        put(sectorAt(sector / perSector) + 4 * (sector % perSector), value, 4);
    };
    for (std::uint32_t f = 0; f < fatSectors; ++f)
        fat(f, 0xFFFFFFFD);
    for (std::uint32_t d = 0; d < difatSectors; ++d)
        fat(fatSectors + d, 0xFFFFFFFC);
    fat(directory, 0xFFFFFFFE);
    for (std::uint32_t s = 0; s < streamSectors; ++s)
        fat(stream + s, s + 1 < streamSectors ? stream + s + 1 : 0xFFFFFFFE);
    // Directory: the root and one stream.
    const auto entry = [&](std::size_t index, const std::string& name, int type,
                           std::uint32_t start, std::uint64_t length) {
        const std::size_t at = sectorAt(directory) + 128 * index;
        for (std::size_t i = 0; i < name.size(); ++i)
            put(at + 2 * i, static_cast<std::uint8_t>(name[i]), 2);
        put(at + 64, 2 * (name.size() + 1), 2);
        file[at + 66] = static_cast<char>(type);
        put(at + 68, 0xFFFFFFFF, 4);
        put(at + 72, 0xFFFFFFFF, 4);
        put(at + 76, index == 0 ? 1 : 0xFFFFFFFF, 4);
        put(at + 116, start, 4);
        put(at + 120, length, 8);
    };
    entry(0, "Root Entry", 5, 0xFFFFFFFE, 0);
    entry(1, "WordDocument", 2, stream, streamSectors * size);
    for (std::uint32_t s = 0; s < streamSectors; ++s)
        file.replace(sectorAt(stream + s), size, Noise(size, 20 + s));
    return {file, used};
}

TEST(CompoundDocumentEnd, EndsAfterTheHighestSectorInUse) {
    // Version 3 and 4, and more FAT sectors than the header lists: the rest through two
    // DIFAT sectors.
    for (const auto& [shift, fat, stream, sectors] : std::vector<std::array<std::uint32_t, 4>>{
             {9, 1, 4, 1 + 1 + 4}, {12, 1, 3, 1 + 1 + 3}, {9, 250, 6, 250 + 2 + 1 + 6}}) {
        const Cfb cfb = MakeCfb(static_cast<int>(shift), fat, stream);
        ASSERT_EQ(cfb.sectors, sectors);
        ASSERT_EQ(cfb.bytes.size(), (sectors + 1u) << shift);
        EXPECT_EQ(Volume(cfb.bytes).End(CompoundDocumentEnd), cfb.bytes.size()) << shift << fat;
    }
    // Free sectors at the end hold nothing of the document.
    const Cfb v3 = MakeCfb(9, 1, 4);
    EXPECT_EQ(Volume(v3.bytes + std::string(1024, '\0')).End(CompoundDocumentEnd), v3.bytes.size());
}

TEST(CompoundDocumentEnd, FilesWrittenByLibgsfEndWhereTheyEnd) {
    if (!test::HaveTool("gsf"))
        GTEST_SKIP() << "gsf (libgsf-bin) missing";
    test::TempFolder dir;
    test::WriteFile(dir / "small.bin", Noise(3000, 31));
    test::WriteFile(dir / "tiny.txt", "hello");
    // Past 109 FAT sectors (7 MB of 512-byte sectors) the list goes on in a DIFAT sector.
    test::WriteFile(dir / "large.bin", Noise(9000000, 32));
    for (const std::string files : {"small.bin tiny.txt", "large.bin small.bin tiny.txt"}) {
        const auto out = dir / "out.ole";
        ASSERT_TRUE(test::RunCommand("cd '" + dir.path().string() + "' && gsf createole '" +
                                     out.string() + "' " + files));
        const std::string ole = test::ReadFile(out);
        ASSERT_EQ(ole.substr(0, 4), "\xD0\xCF\x11\xE0");
        EXPECT_EQ(Volume(ole).End(CompoundDocumentEnd), ole.size()) << files;
        EXPECT_FALSE(Volume(ole.substr(0, ole.size() - 512), Noise(4096, 2))
                         .End(CompoundDocumentEnd, ole.size() - 512))
            << files;
    }
}

TEST(CompoundDocumentEnd, AHeaderOrFatThatDoesNotHoldTogetherIsNoEnd) {
    const Cfb good = MakeCfb(9, 1, 4);
    // A FAT sector count no volume could hold: answered from the header alone.
    std::string huge = good.bytes;
    huge.replace(44, 4, Le(0x7FFFFFFF, 4));
    Volume volume(huge);
    EXPECT_FALSE(volume.End(CompoundDocumentEnd));
    EXPECT_LE(volume.read, 65536u);
    // Cut by the bound.
    EXPECT_FALSE(Volume(good.bytes).End(CompoundDocumentEnd, good.bytes.size() - 1));
    const std::string difat = MakeCfb(9, 250, 2).bytes;
    const struct {
        const std::string& file;
        std::size_t at;
        int width;
        std::uint32_t value;
        const char* why;
    } patches[] = {
        {good.bytes, 512 + 4 * 3, 4, 5000, "a chain link to a sector the FAT does not cover"},
        {good.bytes, 512, 4, 0xFFFFFFFE, "the FAT sector not marked as one"},
        {good.bytes, 30, 2, 12, "a sector size that does not go with the version"},
        {difat, 72, 4, 1, "the DIFAT count does not match the FAT sector count"},
        {difat, 512 + 4 * 251, 4, 0xFFFFFFFE, "a DIFAT sector the FAT takes for an ordinary one"},
        {difat, (250 + 1) * 512 + 508, 4, 250, "a DIFAT chain that loops back on itself"}};
    for (const auto& p : patches) {
        const std::string bad = std::string(p.file).replace(p.at, p.width, Le(p.value, p.width));
        EXPECT_FALSE(Volume(bad).End(CompoundDocumentEnd)) << p.why;
    }
}

}  // namespace
}  // namespace duzez::signatures
