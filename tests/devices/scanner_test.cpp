// The sector scanner with the shipped formats, on volumes in memory and on images.

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "signatures/analyser.h"
#include "signatures/probes.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

// `sectors` zero sectors with the given sectors written.
std::string Image(std::uint64_t sectors, const std::map<std::uint64_t, std::string>& content) {
    std::string bytes(sectors * 512, '\0');
    for (const auto& [sector, data] : content)
        bytes.replace(sector * 512, data.size(), data);
    return bytes;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ScannerTest : public test::MachineTest {
  protected:
    // Image(sectors, content) loaded as a volume whose sector phase runs with the real
    // scanner and the shipped formats.
    CVolume* Volume(std::uint64_t sectors, const std::map<std::uint64_t, std::string>& content) {
        test::WriteFile(dir_ / "card.dsk", Image(sectors, content));
        auto& computer = Computer(false, platform::MakeLocalDeviceOpener());
        LoadShippedSignatures();
        std::string error;
        CVolume* volume = computer.LoadImage(dir_ / "card.dsk", error);
        EXPECT_NE(volume, nullptr) << error;
        return volume;
    }
    void Scan(CVolume& volume) {
        app_->AnalysisRunning = true;
        computer_->AnalyseSectors(volume);
    }
    std::vector<FoundObject*> Carved(CVolume& volume) {
        std::vector<FoundObject*> carved;
        for (FoundObject* o : volume.FoundObjectTree->ListedObjects()) {
            if (o->Is(ObjectFlags::FoundBySignature))
                carved.push_back(o);
        }
        return carved;
    }
};

const std::string kJpeg = "\xFF\xD8\xFF\xE0";
const std::string kTiff = std::string("II*\0\x08\0\0\0", 8);
const std::string kCr2 = std::string("II*\0\x10\0\0\0CR\x02\0", 12);

TEST_F(ScannerTest, FirstAndLastSectorOfABlockAndTheNeighbourRule) {
    constexpr std::uint64_t kBlock = ChunkScanner::kBlockSectors;
    CVolume* volume = Volume(
        kBlock * 3, {{0, kJpeg}, {kBlock - 1, kJpeg}, {kBlock, kJpeg}, {kBlock * 2 + 7, kJpeg}});
    Scan(*volume);
    const auto carved = Carved(*volume);
    ASSERT_EQ(carved.size(), 4u);
    EXPECT_EQ(carved[0]->Start, 0u);
    EXPECT_EQ(carved[1]->Start, (kBlock - 1) * 512) << "the last sector of the first block";
    EXPECT_EQ(carved[2]->Start, kBlock * 512) << "the first sector of the second";
    EXPECT_EQ(carved[0]->GetName(), "IMG_0.jpg");
    EXPECT_EQ(carved[0]->Size, (kBlock - 1) * 512) << "the distance to the next one found";
    EXPECT_EQ(carved[3]->Size, filesystems::kUnknownSize);
    EXPECT_TRUE(carved[0]->Is(ObjectFlags::Deleted) && carved[0]->Is(ObjectFlags::ExtentToNext));
    EXPECT_EQ(volume->SectorFilesFound.load(), 4u);
}

// An unreadable block is passed over; every hit after it keeps its own offset.
TEST_F(ScannerTest, HitsAfterAnUnreadableBlockKeepTheirOffsets) {
    constexpr std::uint64_t kBlock = ChunkScanner::kBlockSectors;
    const std::string bytes = Image(
        kBlock * 4,
        {{3, kJpeg}, {kBlock + 100, kJpeg}, {kBlock * 2 + 1, kJpeg}, {kBlock * 3 + 77, kJpeg}});
    opener_->Add("/damaged.dsk",
                 [bytes] { return test::DeviceWithBadSector(bytes, kBlock + 500); });
    auto& computer = Computer(false);
    LoadShippedSignatures();
    std::string error;
    CVolume* volume = computer.LoadImage("/damaged.dsk", error);
    ASSERT_NE(volume, nullptr) << error;
    Scan(*volume);
    std::vector<std::uint64_t> starts;
    for (const FoundObject* object : Carved(*volume))
        starts.push_back(object->Start);
    EXPECT_EQ(starts, (std::vector<std::uint64_t>{3 * 512, (kBlock * 2 + 1) * 512,
                                                  (kBlock * 3 + 77) * 512}))
        << "the hit inside the unreadable block is lost, none after it moves";
}

TEST_F(ScannerTest, AStopEndsTheBlockAtTheNextTest) {
    CVolume* volume = Volume(64, {});
    std::vector<std::uint64_t> starts;
    signatures::CAnalyser analyser(
        computer_->Signatures(), *volume,
        [&](FoundObject item) {
            starts.push_back(item.Start);
            app_->AnalysisRunning = false;  // the user stops at the first find
        },
        false);
    for (std::uint64_t sector : {5, 6, 40})
        std::copy(kJpeg.begin(), kJpeg.end(), analyser.ScanBuffer().begin() + sector * 512);
    app_->AnalysisRunning = true;
    analyser.StartChunk(0, 64);
    analyser.ScanChunk();
    EXPECT_EQ(starts, std::vector<std::uint64_t>{5 * 512});
}

// A block whose scan throws (no memory, a broken record) fails alone: the worker logs it,
// hands the block back and goes on with the next.
TEST_F(ScannerTest, AnExceptionInTheWorkerFailsOneBlockNotTheProgram) {
    CVolume* volume = Volume(64, {});
    int calls = 0;
    signatures::CAnalyser analyser(computer_->Signatures(), *volume, [&](FoundObject) {
        ++calls;
        if (calls == 1)
            throw std::bad_alloc();
        if (calls == 2)
            throw std::runtime_error("broken record");
    });
    app_->AnalysisRunning = true;
    for (std::uint64_t block = 0; block < 3; ++block) {
        auto buffer = analyser.ScanBuffer();
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        std::copy(kJpeg.begin(), kJpeg.end(), buffer.begin() + 5 * 512);
        analyser.StartChunk(block * 64, 64);
        ASSERT_TRUE(analyser.WaitChunkDone(std::chrono::seconds(5))) << "block " << block;
    }
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(Contains(ErrorLines(), "ERR: CAnalyser.ParseBlock: Can't allocate memory"));
    EXPECT_TRUE(Contains(ErrorLines(), "ERR: CAnalyser.ParseBlock except: broken record"));
}

TEST_F(ScannerTest, TwoFormatsOnOneSectorGiveOneObjectOfTheLaterFormat) {
    CVolume* volume = Volume(100, {{10, kCr2}, {20, kTiff}});
    Scan(*volume);
    const auto carved = Carved(*volume);
    ASSERT_EQ(carved.size(), 2u);
    EXPECT_EQ(carved[0]->SignatureId, 310) << "TIFF, then Canon CR2 on the same sector";
    EXPECT_EQ(carved[1]->SignatureId, 303);
    EXPECT_EQ(volume->SectorFilesFound.load(), 2u) << "a merged item is not counted";
}

TEST_F(ScannerTest, SwitchedOffFormatsYieldNothing) {
    CVolume* volume = Volume(100, {{5, kJpeg}});
    computer_->Signatures().FindSignatureById(300)->SearchEnable = 0;
    Scan(*volume);
    EXPECT_TRUE(Carved(*volume).empty());
}

// A Nikon raw is written as .nef whichever way carved photos are named.
TEST_F(ScannerTest, RawPhotosTakeTheirOwnExtensionWhenNamedByOffset) {
    const auto le = [](std::uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        return out;
    };
    const auto entry = [&le](std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                             std::uint32_t value) {
        return le(tag, 2) + le(type, 2) + le(count, 4) + le(value, 4);
    };
    std::string tiff = std::string("II*\0", 4) + le(8, 4) + le(3, 2) + entry(0x010F, 2, 18, 100) +
                       entry(0x0111, 4, 1, 200) + entry(0x0117, 4, 1, 1000) + le(0, 4);
    tiff.resize(100, '\0');
    tiff += std::string("NIKON CORPORATION\0", 18);
    tiff.resize(1200, 'x');
    CVolume* volume = Volume(100, {{10, tiff}});
    computer_->SetPhotosNamedByCapture(false);
    Scan(*volume);
    const std::vector<FoundObject*> carved = Carved(*volume);
    ASSERT_EQ(carved.size(), 1u);
    EXPECT_EQ(carved[0]->Size, 1200u);
    EXPECT_EQ(carved[0]->GetName(), "IMG_5120.nef");
}

// An ISO media file is named by what its major brand says it is, whichever of the four
// ISO formats matched it.
TEST_F(ScannerTest, IsoMediaFilesTakeTheExtensionTheirMajorBrandCallsFor) {
    const auto box = [](const std::string& brand) {
        return std::string("\0\0\0\x18", 4) + "ftyp" + brand + std::string("\0\0\0\0", 4) + brand +
               "isom";
    };
    // Brand and extension, one box every ten sectors; an unknown brand ("zzzz") keeps its
    // format's extension.
    const std::vector<std::pair<std::string, std::string>> brands = {
        {"qt  ", "mov"}, {"crx ", "cr3"}, {"heic", "heic"}, {"avif", "avif"},
        {"3gp4", "3gp"}, {"isom", "mp4"}, {"zzzz", "mp4"}};
    std::map<std::uint64_t, std::string> content;
    for (std::size_t i = 0; i < brands.size(); ++i)
        content[10 * (i + 1)] = box(brands[i].first);
    CVolume* volume = Volume(100, content);
    Scan(*volume);
    std::map<std::uint64_t, std::string> names;
    for (const FoundObject* object : Carved(*volume))
        names[object->Start / 512] = std::string(object->GetName());
    for (std::size_t i = 0; i < brands.size(); ++i) {
        SCOPED_TRACE("brand '" + brands[i].first + "'");
        const std::string& name = names[10 * (i + 1)];
        EXPECT_EQ(name.substr(name.rfind('.') + 1), brands[i].second) << name;
    }
    EXPECT_EQ(names[10], "VID_5120.mov");
}

TEST_F(ScannerTest, FindLostDisksAddsVolumesAndNoFiles) {
    if (!test::HaveTool("mkfs.fat"))
        GTEST_SKIP() << "mkfs.fat is not installed";
    const auto card = dir_ / "fat.img";
    ASSERT_TRUE(test::RunCommand("mkfs.fat -C -F 16 -n LOSTCARD '" + card.string() + "' 20000"));
    std::string fat = test::ReadFile(card).substr(0, 512);
    CVolume* disk = Volume(60000, {{2048, fat}, {4000, kJpeg}});
    disk->VolumesOnly = 1;
    Scan(*disk);
    EXPECT_TRUE(Carved(*disk).empty());
    std::vector<CVolume*> found;
    for (const auto& v : computer_->Volumes().Snapshot()) {
        if (v->VolumeType == VolumeKind::Found)
            found.push_back(v.get());
    }
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->StartOffset, 2048u * 512);
    EXPECT_EQ(found[0]->VolumeLabel, "LOSTCARD");
    EXPECT_EQ(found[0]->GetParentVolume(), disk);
}

TEST(Probes, SizesSubtypesAndStarts) {
    std::array<std::uint8_t, 512> sector{};
    FoundObject item;
    const signatures::SectorReader noRead = [](std::span<std::uint8_t>, std::uint64_t,
                                               std::uint64_t) { return 0u; };
    item.SignatureId = 503;
    sector[2] = 0x36, sector[4] = 0x01;
    signatures::ProbeItem(item, sector, noRead);
    EXPECT_EQ(item.Size, 65590u);
    sector.fill(0);
    item.SignatureId = 502;
    sector[5] = 0x10;
    signatures::ProbeItem(item, sector, noRead);
    EXPECT_EQ(item.Size, 6144u);
    item.SignatureId = 504;
    item.Start = 51200;
    signatures::ProbeItem(item, sector, noRead);
    EXPECT_EQ(item.Start, 18432u);
    item.Start = 1024;
    signatures::ProbeItem(item, sector, noRead);
    EXPECT_EQ(item.Start, 1024u) << "a hit near the volume's start keeps its own offset";
}

TEST(Probes, CompoundDocumentSizeAndSubtype) {
    // Shift 9, one FAT sector, directory in sector 1: read 1024 bytes after the start.
    std::array<std::uint8_t, 512> header{};
    header[30] = 9;
    header[44] = 1;
    header[48] = 1;
    std::vector<std::uint8_t> directory(25 * 512, 0);
    const auto name = [&](std::size_t entry, std::u16string text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            directory[entry * 128 + 2 * i] = static_cast<std::uint8_t>(text[i]);
            directory[entry * 128 + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
        }
    };
    name(0, u"Root Entry");
    name(2, u"Workbook");
    name(3, u"WordDocument");
    std::uint64_t readAt = 0;
    const signatures::SectorReader read = [&](std::span<std::uint8_t> buffer, std::uint64_t sector,
                                              std::uint64_t) {
        readAt = sector;
        std::copy(directory.begin(), directory.end(), buffer.begin());
        return static_cast<std::uint32_t>(buffer.size());
    };
    FoundObject item;
    item.Start = 4096;
    item.SignatureId = 100;
    signatures::ProbeItem(item, header, read);
    EXPECT_EQ(item.Size, 65536u);
    EXPECT_EQ(readAt, (4096u + 1024) / 512);
    EXPECT_EQ(item.SignatureId, 101) << "the lower entry decides";

    name(0, u"Not Root!!");
    item.SignatureId = 100;
    signatures::ProbeItem(item, header, read);
    EXPECT_EQ(item.SignatureId, 100);

    name(0, u"Root Entry");
    name(2, u"Symbol7   ");
    name(3, u"Symbol 12");
    item.SignatureId = 100;
    signatures::ProbeItem(item, header, read);
    EXPECT_EQ(item.SignatureId, 500) << "only with the blank";

    header[30] = 12;
    header[44] = 2;
    item.SignatureId = 100;
    signatures::ProbeItem(item, header, read);
    EXPECT_EQ(item.Size, 8388608u);
}

}  // namespace
}  // namespace duzez::devices
