// The FAT analyser on volumes built by mkfs.fat and mtools, compared with The Sleuth Kit.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "filesystems/found_object_stream.h"
#include "filesystems/found_object_tree.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;
using test::HaveTool;
using test::RunCommand;

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class FatTest : public test::MachineTest {
  protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy"))
            GTEST_SKIP() << "dosfstools or mtools missing";
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }

    // mkfs.fat, then mtools commands against the image ("::" paths).
    std::filesystem::path Make(int bits, unsigned kilobytes, const std::vector<std::string>& steps,
                               const std::string& extra = "") {
        image_ = dir_ / ("fat" + std::to_string(bits) + ".img");
        EXPECT_TRUE(RunCommand("mkfs.fat -C -F " + std::to_string(bits) + " " + extra + " '" +
                               image_.string() + "' " + std::to_string(kilobytes)));
        for (const auto& step : steps)
            Mtools(MtoolsOn(step));
        return image_;
    }
    std::string MtoolsOn(const std::string& command) const {
        return command + " -i '" + image_.string() + "'";
    }
    void Mtools(const std::string& command) {
        ASSERT_TRUE(RunCommand("cd '" + dir_.path().string() + "' && " + command)) << command;
    }
    void File(const std::string& name, std::size_t bytes, unsigned seed = 1) {
        std::string data(bytes, '\0');
        std::mt19937 random(seed);
        for (auto& c : data)
            c = static_cast<char>(random());
        test::WriteFile(dir_ / name, data);
    }

    CVolume* Analyse() {
        std::string error;
        CVolume* volume =
            Computer(false, platform::MakeLocalDeviceOpener()).LoadImage(image_, error);
        EXPECT_NE(volume, nullptr) << error;
        app_->AnalysisRunning = true;
        computer_->AnalyseFileSystem(*volume);
        app_->AnalysisRunning = false;
        return volume;
    }

    // The image as a device on which every read touching `badSector` fails, analysed.
    CVolume* AnalyseWithBadSector(std::uint64_t badSector) {
        const std::string bytes = test::ReadFile(image_);
        opener_->Add("/card",
                     [bytes, badSector] { return test::DeviceWithBadSector(bytes, badSector); });
        std::string error;
        CVolume* volume = Computer(false).LoadImage("/card", error);
        EXPECT_NE(volume, nullptr) << error;
        if (volume == nullptr)
            return nullptr;
        app_->AnalysisRunning = true;
        computer_->AnalyseFileSystem(*volume);
        app_->AnalysisRunning = false;
        return volume;
    }

    // The reserved sectors and the sectors of one FAT, from a FAT12/16 boot sector.
    static std::pair<unsigned, unsigned> Fat16Layout(const std::string& bytes) {
        const auto u16 = [&](std::size_t at) {
            return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) |
                                         (static_cast<unsigned char>(bytes[at + 1]) << 8));
        };
        return {u16(14), u16(22)};
    }

    std::filesystem::path image_;
};

TEST_F(FatTest, NamesFoldersAndDeletedEntriesOnEveryVariant) {
    for (const auto& [bits, kilobytes] :
         std::vector<std::pair<int, unsigned>>{{12, 4096}, {16, 20000}, {32, 66000}}) {
        SCOPED_TRACE("FAT" + std::to_string(bits));
        Make(bits, kilobytes, {});
        File("Holiday Photo 2024.jpg", 5000);
        File("SHORT.TXT", 100);
        File("PHOTO.JPG", 3000);
        File("gone long name.dat", 700);
        Mtools(MtoolsOn("mmd") + " ::/DCIM ::/DCIM/100CANON ::/Old ::/Old/Inner");
        Mtools(MtoolsOn("mcopy") + " 'Holiday Photo 2024.jpg' ::/DCIM/100CANON/");
        Mtools(MtoolsOn("mcopy") + " SHORT.TXT PHOTO.JPG 'gone long name.dat' ::/");
        Mtools(MtoolsOn("mcopy") + " SHORT.TXT ::/Old/Inner/KEEP.TXT");
        Mtools(MtoolsOn("mdel") + " ::/PHOTO.JPG '::/gone long name.dat'");
        Mtools(MtoolsOn("mdeltree") + " ::/Old");

        CVolume* volume = Analyse();
        const auto listing = Listing(*volume);
        ASSERT_TRUE(listing.count("/DCIM/100CANON/Holiday Photo 2024.jpg"))
            << testing::PrintToString(listing);
        const FoundObject* photo = listing.at("/DCIM/100CANON/Holiday Photo 2024.jpg");
        EXPECT_EQ(photo->Size, 5000u);
        EXPECT_FALSE(photo->Is(ObjectFlags::Deleted));
        EXPECT_NE(photo->Modified, 0u);
        EXPECT_TRUE(listing.at("/DCIM")->Is(ObjectFlags::Folder));
        EXPECT_EQ(listing.at("/SHORT.TXT")->Size, 100u);

        ASSERT_TRUE(listing.count("/_HOTO.JPG")) << "a deleted 8.3 name loses its first character";
        EXPECT_TRUE(listing.at("/_HOTO.JPG")->Is(ObjectFlags::Deleted));
        EXPECT_EQ(listing.at("/_HOTO.JPG")->Size, 3000u);
        ASSERT_TRUE(listing.count("/gone long name.dat")) << "a deleted long name is kept";
        EXPECT_TRUE(listing.at("/gone long name.dat")->Is(ObjectFlags::Deleted));

        // The deleted folder and what it held.
        ASSERT_TRUE(listing.count("/Old"));
        EXPECT_TRUE(listing.at("/Old")->Is(ObjectFlags::Deleted));
        ASSERT_TRUE(listing.count("/Old/Inner/_EEP.TXT")) << testing::PrintToString(listing);
        EXPECT_TRUE(listing.at("/Old/Inner")->Is(ObjectFlags::Deleted));
        EXPECT_EQ(volume->FoldersFound.load(), 4u);
    }
}

// Files without clusters (empty ones) stay in the folder that holds them, live or deleted,
// in the root and below it.
TEST_F(FatTest, FilesWithoutClustersStayInTheirFolders) {
    for (int bits : {16, 32}) {
        SCOPED_TRACE("FAT" + std::to_string(bits));
        Make(bits, bits == 16 ? 20000 : 66000, {});
        test::WriteFile(dir_ / "EMPTY.TXT", "");
        test::WriteFile(dir_ / "empty file.txt", "");
        Mtools(MtoolsOn("mmd") + " ::/Documents");
        Mtools(MtoolsOn("mcopy") + " EMPTY.TXT ::/");
        Mtools(MtoolsOn("mcopy") + " 'empty file.txt' ::/Documents/");
        Mtools(MtoolsOn("mcopy") + " EMPTY.TXT ::/Documents/GONE.TXT");
        Mtools(MtoolsOn("mdel") + " ::/Documents/GONE.TXT");
        const auto listing = Listing(*Analyse());
        EXPECT_TRUE(listing.count("/EMPTY.TXT")) << testing::PrintToString(listing);
        ASSERT_TRUE(listing.count("/Documents/empty file.txt")) << testing::PrintToString(listing);
        EXPECT_EQ(listing.at("/Documents/empty file.txt")->Size, 0u);
        ASSERT_TRUE(listing.count("/Documents/_ONE.TXT")) << testing::PrintToString(listing);
        EXPECT_TRUE(listing.at("/Documents/_ONE.TXT")->Is(ObjectFlags::Deleted));
        computer_.reset();
    }
}

TEST_F(FatTest, FragmentedLiveFileReadsBackThroughItsChain) {
    Make(16, 20000, {}, "-s 1");
    for (int i = 0; i < 6; ++i)
        File("F" + std::to_string(i) + ".BIN", 3 * 512, static_cast<unsigned>(i));
    for (int i = 0; i < 6; ++i)
        Mtools(MtoolsOn("mcopy") + " F" + std::to_string(i) + ".BIN ::/");
    for (int i = 1; i < 6; i += 2)
        Mtools(MtoolsOn("mdel") + " ::/F" + std::to_string(i) + ".BIN");
    File("BIG.BIN", 40000, 99);
    Mtools(MtoolsOn("mcopy") + " BIG.BIN ::/");
    CVolume* volume = Analyse();
    const auto listing = Listing(*volume);
    ASSERT_TRUE(listing.count("/BIG.BIN"));
    filesystems::FoundObjectStream stream(*volume, listing.at("/BIG.BIN"));
    std::vector<std::uint8_t> data(40000);
    ASSERT_EQ(stream.Read(data), 40000u);
    EXPECT_EQ(std::string(data.begin(), data.end()), test::ReadFile(dir_ / "BIG.BIN"));
    // In two halves across a cluster boundary, as the recovery reads in blocks.
    stream.SeekTo(0);
    std::vector<std::uint8_t> first(1000);
    std::vector<std::uint8_t> rest(39000);
    ASSERT_EQ(stream.Read(first), 1000u);
    ASSERT_EQ(stream.Read(rest), 39000u);
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(first, data);
    // The file is really fragmented: read as one extent it is something else.
    FoundObject asExtent = *listing.at("/BIG.BIN");
    asExtent.Flags |= ObjectFlags::Deleted;
    filesystems::FoundObjectStream extent(*volume, &asExtent);
    std::vector<std::uint8_t> contiguous(40000);
    ASSERT_EQ(extent.Read(contiguous), 40000u);
    EXPECT_NE(contiguous, data);
}

// A bad sector inside a live fragmented file costs that sector: the clusters after it,
// wherever the chain takes them, still come back.
TEST_F(FatTest, ABadSectorInAChainCostsOnlyThatSector) {
    Make(16, 20000, {}, "-s 1");
    for (int i = 0; i < 4; ++i)
        File("F" + std::to_string(i) + ".BIN", 3 * 512, static_cast<unsigned>(i));
    for (int i = 0; i < 4; ++i)
        Mtools(MtoolsOn("mcopy") + " F" + std::to_string(i) + ".BIN ::/");
    Mtools(MtoolsOn("mdel") + " ::/F1.BIN");
    File("BIG.BIN", 40000, 7);
    Mtools(MtoolsOn("mcopy") + " BIG.BIN ::/");
    // The sector (one cluster) that holds bytes 19,968 to 20,479 of BIG.BIN.
    const std::string big = test::ReadFile(dir_ / "BIG.BIN");
    const std::uint64_t badSector = test::ReadFile(image_).find(big.substr(19968, 512)) / 512;
    CVolume* volume = AnalyseWithBadSector(badSector);
    ASSERT_NE(volume, nullptr);
    const auto listing = Listing(*volume);
    ASSERT_TRUE(listing.count("/BIG.BIN"));
    filesystems::ReadDamage damage;
    const std::string data = ReadBack(*volume, *listing.at("/BIG.BIN"), &damage);
    EXPECT_EQ(damage.unreadableSectors, 1u);
    EXPECT_FALSE(damage.endGuessed);
    std::string expected = big;
    std::fill(expected.begin() + 19968, expected.begin() + 20480, '\0');
    EXPECT_TRUE(data == expected);
}

TEST_F(FatTest, ABadSectorPastTheEndOfAFileInItsLastClusterCostsNothing) {
    Make(16, 20000, {}, "-s 4");
    File("NOTE.TXT", 600, 5);
    Mtools(MtoolsOn("mcopy") + " NOTE.TXT ::/");
    const std::string note = test::ReadFile(dir_ / "NOTE.TXT");
    const std::uint64_t first = test::ReadFile(image_).find(note.substr(0, 512)) / 512;
    CVolume* volume = AnalyseWithBadSector(first + 2);  // the cluster's third sector
    ASSERT_NE(volume, nullptr);
    const auto listing = Listing(*volume);
    ASSERT_TRUE(listing.count("/NOTE.TXT"));
    filesystems::ReadDamage damage;
    EXPECT_TRUE(ReadBack(*volume, *listing.at("/NOTE.TXT"), &damage) == note);
    EXPECT_EQ(damage.unreadableSectors, 0u);
}

// A deleted file's first cluster taken by a new folder: the folder's files stay in it.
TEST_F(FatTest, AFolderOnTheClusterOfADeletedFileKeepsItsFiles) {
    Make(16, 20000, {}, "-s 1");
    File("OLD.JPG", 300, 1);
    File("B.JPG", 2000, 2);
    // In a folder of its own, so that the new folder's entry does not take its slot.
    Mtools(MtoolsOn("mmd") + " ::/A");
    Mtools(MtoolsOn("mcopy") + " OLD.JPG ::/A/");
    Mtools(MtoolsOn("mdel") + " ::/A/OLD.JPG");
    Mtools(MtoolsOn("mmd") + " ::/DCIM");
    Mtools(MtoolsOn("mcopy") + " B.JPG ::/DCIM/");
    const auto listing = Listing(*Analyse());
    ASSERT_TRUE(listing.count("/A/_LD.JPG")) << testing::PrintToString(listing);
    ASSERT_TRUE(listing.count("/DCIM")) << testing::PrintToString(listing);
    EXPECT_EQ(listing.at("/A/_LD.JPG")->Id, listing.at("/DCIM")->Id) << "the case this is about";
    EXPECT_TRUE(listing.count("/DCIM/B.JPG")) << testing::PrintToString(listing);
}

// On FAT32 the root directory may start at any cluster; a folder at cluster 2 is then an
// ordinary folder.
TEST_F(FatTest, AFat32RootAwayFromClusterTwoLeavesClusterTwoToItsFolder) {
    Make(32, 66000, {}, "-s 1");
    Mtools(MtoolsOn("mmd") + " ::/SUB");
    File("X.TXT", 100, 3);
    Mtools(MtoolsOn("mcopy") + " X.TXT ::/SUB/");
    // Swap the root directory (cluster 2) and SUB's directory (its cluster) on the disk.
    std::fstream disk(image_, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<unsigned char> boot(512);
    disk.read(reinterpret_cast<char*>(boot.data()), 512);
    const auto u16 = [&](std::size_t at) { return unsigned(boot[at] | (boot[at + 1] << 8)); };
    const auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
    ASSERT_EQ(u32(44), 2u);
    const std::uint64_t fatStart = u16(14) * 512ull;
    const std::uint64_t dataStart = fatStart + boot[16] * u32(36) * 512ull;
    const auto clusterAt = [&](std::uint32_t c) { return dataStart + (c - 2) * 512ull; };
    std::vector<char> root(512);
    disk.seekg(static_cast<std::streamoff>(clusterAt(2)));
    disk.read(root.data(), 512);
    const std::string rootText(root.begin(), root.end());
    const std::size_t entry = rootText.find("SUB        ");
    ASSERT_NE(entry, std::string::npos);
    const std::uint32_t sub = static_cast<unsigned char>(root[entry + 26]) |
                              (static_cast<unsigned char>(root[entry + 27]) << 8);
    ASSERT_GT(sub, 2u);
    std::vector<char> subDir(512);
    disk.seekg(static_cast<std::streamoff>(clusterAt(sub)));
    disk.read(subDir.data(), 512);
    root[entry + 26] = 2;  // SUB now starts at cluster 2
    root[entry + 27] = 0;
    subDir[26] = 2;  // its "." entry
    subDir[27] = 0;
    disk.seekp(static_cast<std::streamoff>(clusterAt(sub)));
    disk.write(root.data(), 512);
    disk.seekp(static_cast<std::streamoff>(clusterAt(2)));
    disk.write(subDir.data(), 512);
    const char rootCluster[4] = {static_cast<char>(sub), static_cast<char>(sub >> 8), 0, 0};
    disk.seekp(44);
    disk.write(rootCluster, 4);
    disk.seekp(6 * 512 + 44);  // the backup boot sector
    disk.write(rootCluster, 4);
    disk.close();

    const auto listing = Listing(*Analyse());
    EXPECT_TRUE(listing.count("/SUB/X.TXT")) << testing::PrintToString(listing);
    EXPECT_FALSE(listing.count("/X.TXT")) << testing::PrintToString(listing);
}

// The sector phase meets each fragmented photo at its first cluster; the photo is still
// read through its chain, not as the contiguous extent the hit would suggest.
TEST_F(FatTest, TheSectorPhaseNeverMakesAListedFileWorse) {
    if (!HaveTool("convert"))
        GTEST_SKIP() << "ImageMagick missing";
    Make(16, 20000, {}, "-s 1");
    // A hundred small files, every other one deleted: gaps of three clusters to fill.
    std::string fillers;
    std::string deleted;
    for (int i = 100; i < 200; ++i) {
        const std::string name = "F" + std::to_string(i) + ".BIN";
        File(name, 3 * 512, static_cast<unsigned>(i));
        fillers += " " + name;
        if (i % 2 == 0)
            deleted += " ::/" + name;
    }
    Mtools(MtoolsOn("mcopy") + fillers + " ::/");
    Mtools(MtoolsOn("mdel") + deleted);
    std::vector<std::string> photos;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "P" + std::to_string(i) + ".JPG";
        Mtools("convert -size 160x120 plasma:fractal -seed " + std::to_string(i) + " " + name);
        Mtools(MtoolsOn("mcopy") + " " + name + " ::/");
        photos.push_back(name);
    }
    CVolume* volume = Analyse();
    LoadShippedSignatures();
    app_->AnalysisRunning = true;
    computer_->AnalyseSectors(*volume);
    const auto listing = Listing(*volume);
    int fragmented = 0;
    for (const std::string& name : photos) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(listing.count("/" + name));
        const FoundObject* photo = listing.at("/" + name);
        EXPECT_FALSE(photo->Is(ObjectFlags::FoundBySignature)) << "listed, so Live as listed";
        const std::string original = test::ReadFile(dir_ / name);
        ASSERT_EQ(photo->Size, original.size());
        EXPECT_TRUE(ReadBack(*volume, *photo) == original);
        // The photos are really fragmented: as one extent they would be something else.
        FoundObject asExtent = *photo;
        asExtent.Flags |= ObjectFlags::Deleted;
        fragmented += ReadBack(*volume, asExtent) != original ? 1 : 0;
    }
    EXPECT_GE(fragmented, 3);
}

// A deleted file whose clusters a later file took holds that file's bytes: overwritten.
TEST_F(FatTest, ADeletedFileWhoseClustersAreInUseAgainIsOverwritten) {
    Make(16, 20000, {}, "-s 1");
    File("OLD.JPG", 3000, 1);
    File("SPARE.JPG", 2000, 2);
    File("NEW.JPG", 1000, 3);
    // In a folder, so that the new file's entry does not take the old one's slot.
    Mtools(MtoolsOn("mmd") + " ::/A");
    Mtools(MtoolsOn("mcopy") + " OLD.JPG SPARE.JPG ::/A/");
    Mtools(MtoolsOn("mdel") + " ::/A/OLD.JPG ::/A/SPARE.JPG");
    Mtools(MtoolsOn("mcopy") + " NEW.JPG ::/");  // the first free clusters: OLD.JPG's
    const auto listing = Listing(*Analyse());
    ASSERT_TRUE(listing.count("/A/_LD.JPG")) << testing::PrintToString(listing);
    ASSERT_TRUE(listing.count("/A/_PARE.JPG")) << testing::PrintToString(listing);
    EXPECT_TRUE(listing.at("/A/_LD.JPG")->Is(ObjectFlags::Overwritten));
    EXPECT_FALSE(listing.at("/A/_PARE.JPG")->Is(ObjectFlags::Overwritten));
    EXPECT_FALSE(listing.at("/NEW.JPG")->Is(ObjectFlags::Overwritten));
}

// A card formatted in the camera: new empty tables and root, the data area untouched. The
// folders' own directory clusters still say which folder is whose.
TEST_F(FatTest, AQuickFormattedCardKeepsItsFolders) {
    Make(16, 20000, {}, "-s 4");
    Mtools(MtoolsOn("mmd") + " ::/DCIM ::/DCIM/100CANON");
    File("IMG_0001.JPG", 30000, 1);
    File("IMG_0002.JPG", 50000, 2);
    Mtools(MtoolsOn("mcopy") + " IMG_0001.JPG IMG_0002.JPG ::/DCIM/100CANON/");
    ASSERT_TRUE(RunCommand("mkfs.fat -F 16 -s 4 '" + image_.string() + "'"));
    CVolume* volume = Analyse();
    LoadShippedSignatures();
    app_->AnalysisRunning = true;
    computer_->AnalyseSectors(*volume);
    const auto listing = Listing(*volume);
    for (const std::string name : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
        SCOPED_TRACE(name);
        const auto found = std::find_if(listing.begin(), listing.end(), [&](const auto& entry) {
            const std::string suffix = "/100CANON/" + name;
            return entry.first.size() > suffix.size() &&
                   entry.first.compare(entry.first.size() - suffix.size(), suffix.size(), suffix) ==
                       0;
        });
        ASSERT_NE(found, listing.end()) << testing::PrintToString(listing);
        EXPECT_TRUE(ReadBack(*volume, *found->second) == test::ReadFile(dir_ / name));
    }
    EXPECT_FALSE(listing.count("/IMG_0001.JPG")) << "not loose at the root";
}

// Windows clears the high word of a FAT32 entry's first cluster when it deletes a file
// (mtools does not, so the test clears it as Windows would): the cluster is found again
// among the candidates by the free table entry and the JPEG header the name calls for.
TEST_F(FatTest, ADeletedFat32EntryWhoseHighClusterWordWasClearedIsFoundAgain) {
    Make(32, 40000, {}, "-s 1");
    File("FILL.BIN", 34 << 20, 9);
    std::string photo = "\xFF\xD8\xFF\xE0" + std::string(20000, 'p');
    photo += test::ReadFile(dir_ / "FILL.BIN").substr(0, 30000);
    test::WriteFile(dir_ / "PHOTO.JPG", photo);
    test::WriteFile(dir_ / "GONE.JPG", "\xFF\xD8\xFF\xE0" + std::string(9000, 'g'));
    File("SONG.MP3", 7000, 8);  // no tag: no header a kind could be told by
    const std::string inside = "\xFF\xD8\xFF\xE0" + std::string(3000, 'i');
    test::WriteFile(dir_ / "PIC1.JPG", inside);
    Mtools(MtoolsOn("mcopy") + " FILL.BIN PHOTO.JPG GONE.JPG SONG.MP3 ::/");
    Mtools(MtoolsOn("mmd") + " ::/TRIP");
    Mtools(MtoolsOn("mcopy") + " PIC1.JPG ::/TRIP/");
    Mtools(MtoolsOn("mdel") + " ::/PHOTO.JPG ::/GONE.JPG ::/SONG.MP3 ::/TRIP/PIC1.JPG");
    Mtools(MtoolsOn("mrd") + " ::/TRIP");
    std::string bytes = test::ReadFile(image_);
    std::uint64_t goneData = 0;
    for (const std::string shortName : {"\xE5HOTO   JPG", "\xE5ONE    JPG", "\xE5ONG    MP3",
                                        "\xE5RIP       ", "\xE5IC1    JPG"}) {
        const std::size_t entry = bytes.find(shortName);
        ASSERT_NE(entry, std::string::npos);
        ASSERT_NE(bytes[entry + 0x14], 0) << "the file lies above cluster 65,535";
        if (shortName[1] == 'O')
            goneData = bytes.find("\xFF\xD8\xFF\xE0" + std::string(100, 'g'));
        bytes[entry + 0x14] = 0;
        bytes[entry + 0x15] = 0;
    }
    // GONE.JPG's first sector is written over, as a later file's data would be.
    ASSERT_NE(goneData, std::string::npos);
    bytes.replace(goneData, 512, std::string(512, 'x'));
    test::WriteFile(image_, bytes);
    Computer(false, platform::MakeLocalDeviceOpener());
    LoadShippedSignatures();
    CVolume* volume = Analyse();
    const auto listing = Listing(*volume);
    ASSERT_TRUE(listing.count("/_HOTO.JPG")) << testing::PrintToString(listing);
    const FoundObject* found = listing.at("/_HOTO.JPG");
    EXPECT_FALSE(found->Is(ObjectFlags::Overwritten));
    EXPECT_TRUE(ReadBack(*volume, *found) == photo);
    ASSERT_TRUE(listing.count("/_ONE.JPG"));
    EXPECT_TRUE(listing.at("/_ONE.JPG")->Is(ObjectFlags::Overwritten)) << "no candidate fits";
    // One free candidate, whatever its header says: read from there.
    ASSERT_TRUE(listing.count("/_ONG.MP3"));
    EXPECT_TRUE(ReadBack(*volume, *listing.at("/_ONG.MP3")) == test::ReadFile(dir_ / "SONG.MP3"));
    // A folder is told by its own "." entry, and its photo comes back with it.
    ASSERT_TRUE(listing.count("/_RIP/_IC1.JPG")) << testing::PrintToString(listing);
    EXPECT_TRUE(ReadBack(*volume, *listing.at("/_RIP/_IC1.JPG")) == inside);
}

// A folder deleted as Windows deletes one (its entry marked, its clusters and its files'
// clusters freed, the files' own entries left as they were): the files inside are deleted
// with it, read from their extent, and overwritten once another file takes their clusters.
TEST_F(FatTest, FilesInAFolderDeletedAsWindowsDoesAreDeletedToo) {
    Make(16, 20000, {}, "-s 1");
    Mtools(MtoolsOn("mmd") + " ::/TRIP");
    File("BEACH.JPG", 5000, 4);
    File("DUNES.JPG", 5000, 5);
    Mtools(MtoolsOn("mcopy") + " BEACH.JPG DUNES.JPG ::/TRIP/");
    std::string bytes = test::ReadFile(image_);
    const std::size_t folder = bytes.find("TRIP       ");
    ASSERT_NE(folder, std::string::npos);
    bytes[folder] = static_cast<char>(0xE5);
    // Both FATs: every cluster after the two reserved entries free again.
    const auto [reserved, perFat] = Fat16Layout(bytes);
    for (unsigned fat = 0; fat < static_cast<unsigned char>(bytes[16]); ++fat) {
        const std::size_t start = (reserved + fat * perFat) * 512;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(start + 4),
                  bytes.begin() + static_cast<std::ptrdiff_t>(start + perFat * 512), '\0');
    }
    test::WriteFile(image_, bytes);
    CVolume* volume = Analyse();
    auto listing = Listing(*volume);
    ASSERT_TRUE(listing.count("/_RIP/BEACH.JPG")) << testing::PrintToString(listing);
    const FoundObject* beach = listing.at("/_RIP/BEACH.JPG");
    EXPECT_TRUE(beach->Is(ObjectFlags::Deleted));
    EXPECT_FALSE(beach->Is(ObjectFlags::Overwritten));
    EXPECT_TRUE(ReadBack(*volume, *beach) == test::ReadFile(dir_ / "BEACH.JPG"));

    // Another file takes a cluster of BEACH.JPG's (its table entry becomes an end mark).
    const std::uint64_t taken = beach->Id + 2;
    for (unsigned fat = 0; fat < static_cast<unsigned char>(bytes[16]); ++fat) {
        const std::size_t at = (reserved + fat * perFat) * 512 + taken * 2;
        bytes[at] = static_cast<char>(0xFF);
        bytes[at + 1] = static_cast<char>(0xFF);
    }
    test::WriteFile(image_, bytes);
    computer_.reset();
    listing = Listing(*Analyse());
    ASSERT_TRUE(listing.count("/_RIP/BEACH.JPG")) << testing::PrintToString(listing);
    EXPECT_TRUE(listing.at("/_RIP/BEACH.JPG")->Is(ObjectFlags::Overwritten));
    EXPECT_FALSE(listing.at("/_RIP/DUNES.JPG")->Is(ObjectFlags::Overwritten));
}

// A directory of several clusters is read whole; an entry after a 0x00 end mark is still
// looked at; a stop keeps what was listed so far.
TEST_F(FatTest, LongDirectoriesEndMarksAndAStop) {
    Make(16, 20000, {}, "-s 1");
    Mtools(MtoolsOn("mmd") + " ::/MANY");
    std::string names;
    for (int i = 0; i < 40; ++i) {
        const std::string name = "F" + std::to_string(100 + i) + ".TXT";
        File(name, 100, static_cast<unsigned>(i));
        names += " " + name;
    }
    Mtools(MtoolsOn("mcopy") + names + " ::/MANY/");  // 42 entries: three 512-byte clusters
    File("A.TXT", 10, 1);
    File("B.TXT", 10, 2);
    Mtools(MtoolsOn("mcopy") + " A.TXT B.TXT ::/");
    std::string bytes = test::ReadFile(image_);
    bytes[bytes.find("A       TXT")] = '\0';  // A's entry is now an end mark
    test::WriteFile(image_, bytes);
    auto listing = Listing(*Analyse());
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(listing.count("/MANY/F" + std::to_string(100 + i) + ".TXT")) << i;
    EXPECT_TRUE(listing.count("/B.TXT")) << "after the end mark";
    EXPECT_FALSE(listing.count("/A.TXT"));

    // Stop after ten objects: those ten stay, nothing after them is listed.
    class StopAfter : public platform::MessageTarget {
      public:
        StopAfter(core::CApp& app, int count) : app_(app), left_(count) {}
        bool Post(platform::Message message) override {
            if (message.id == filesystems::WM_FOUND_OBJECT && --left_ == 0)
                app_.AnalysisRunning = false;
            return true;
        }
        std::int64_t Send(const platform::Message&) override { return 0; }

      private:
        core::CApp& app_;
        int left_;
    };
    app_->SetMainWindow(std::make_shared<StopAfter>(*app_, 10));
    computer_.reset();
    std::string error;
    CVolume* again = Computer(false, platform::MakeLocalDeviceOpener()).LoadImage(image_, error);
    ASSERT_NE(again, nullptr) << error;
    app_->AnalysisRunning = true;
    computer_->AnalyseFileSystem(*again);
    listing = Listing(*again);
    EXPECT_GE(listing.size(), 9u);
    EXPECT_LE(listing.size(), 11u) << testing::PrintToString(listing);
}

// A FAT16 root directory that cannot be read: line 194, nothing listed, no crash.
TEST_F(FatTest, AnUnreadableRootDirectoryIsSaidAndListsNothing) {
    Make(16, 20000, {}, "-s 1");
    File("A.TXT", 10, 1);
    Mtools(MtoolsOn("mcopy") + " A.TXT ::/");
    const std::string bytes = test::ReadFile(image_);
    const auto [reserved, perFat] = Fat16Layout(bytes);
    CVolume* volume = AnalyseWithBadSector(reserved + 2 * perFat + 1);
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(Listing(*volume).empty()) << testing::PrintToString(Listing(*volume));
    const auto errors = ErrorLines();
    EXPECT_NE(std::find(errors.begin(), errors.end(), "ERR: FAT Root directory not read!"),
              errors.end());
}

// The boot sector counts in its own sectors: 4096 bytes here, for FAT12 and FAT16.
TEST_F(FatTest, VolumesWith4096ByteSectorsListAndReadBack) {
    for (const auto& [bits, kilobytes] :
         std::vector<std::pair<int, unsigned>>{{12, 20000}, {16, 65536}}) {
        SCOPED_TRACE("FAT" + std::to_string(bits));
        Make(bits, kilobytes, {}, "-S 4096");
        File("P.JPG", 30000, 3);
        File("Q.JPG", 9000, 4);
        Mtools(MtoolsOn("mmd") + " ::/DCIM");
        Mtools(MtoolsOn("mcopy") + " P.JPG Q.JPG ::/DCIM/");
        Mtools(MtoolsOn("mdel") + " ::/DCIM/Q.JPG");
        CVolume* volume = Analyse();
        const auto listing = Listing(*volume);
        ASSERT_TRUE(listing.count("/DCIM/P.JPG")) << testing::PrintToString(listing);
        ASSERT_TRUE(listing.count("/DCIM/_.JPG")) << testing::PrintToString(listing);
        for (const auto& [path, name] : std::vector<std::pair<std::string, std::string>>{
                 {"/DCIM/P.JPG", "P.JPG"}, {"/DCIM/_.JPG", "Q.JPG"}}) {
            EXPECT_TRUE(ReadBack(*volume, *listing.at(path)) == test::ReadFile(dir_ / name))
                << path;
        }
        computer_.reset();
    }
}

TEST_F(FatTest, HostileTableAndDirectoriesGiveAPartialListing) {
    Make(16, 20000, {}, "-s 1");
    Mtools(MtoolsOn("mmd") + " ::/A");
    File("X.TXT", 100);
    Mtools(MtoolsOn("mcopy") + " X.TXT ::/A/");
    // Point the directory's cluster at itself in both FATs: a chain that loops.
    std::fstream disk(image_, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> boot(512);
    disk.read(boot.data(), 512);
    const unsigned reserved =
        static_cast<unsigned char>(boot[14]) | (static_cast<unsigned char>(boot[15]) << 8);
    const unsigned perFat =
        static_cast<unsigned char>(boot[22]) | (static_cast<unsigned char>(boot[23]) << 8);
    for (unsigned copy = 0; copy < 2; ++copy) {
        disk.seekp((reserved + copy * perFat) * 512 + 2 * 2);
        disk.put(2).put(0);  // cluster 2 -> cluster 2
    }
    disk.close();
    CVolume* volume = Analyse();
    const auto listing = Listing(*volume);
    EXPECT_TRUE(listing.count("/A/X.TXT"));
}

TEST_F(FatTest, AgreesWithTheSleuthKit) {
    if (!HaveTool("fls"))
        GTEST_SKIP() << "The Sleuth Kit is not installed";
    Make(32, 66000, {});
    File("Kept Photo.jpg", 2000);
    File("DELETED.JPG", 2000);
    Mtools(MtoolsOn("mmd") + " ::/Trip ::/Trip/Day1");
    Mtools(MtoolsOn("mcopy") + " 'Kept Photo.jpg' DELETED.JPG ::/Trip/Day1/");
    Mtools(MtoolsOn("mdel") + " ::/Trip/Day1/DELETED.JPG");
    const auto listing = Listing(*Analyse());

    FILE* pipe = ::popen(("fls -r -p '" + image_.string() + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> live;
    std::set<std::string> deleted;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        if (text.rfind("v/v", 0) == 0 || text.rfind("V/V", 0) == 0 ||
            text.find("Volume Label") != std::string::npos)
            continue;
        const bool gone = text.find(" * ") != std::string::npos;
        const std::string path =
            text.substr(text.find('\t') + 1, text.find('\n') - text.find('\t') - 1);
        (gone ? deleted : live).insert(Lower("/" + path));
    }
    ::pclose(pipe);
    std::set<std::string> ours_live;
    std::set<std::string> ours_deleted;
    for (const auto& [path, object] : listing) {
        // The Sleuth Kit shows 8.3 names in the case their NT flags ask for, and a deleted
        // name's lost first character as it still stands; compare without case, and
        // deleted 8.3 names from their second character.
        (object->Is(ObjectFlags::Deleted) ? ours_deleted : ours_live).insert(Lower(path));
    }
    EXPECT_EQ(ours_live, live);
    ASSERT_EQ(ours_deleted.size(), deleted.size());
    for (auto a = ours_deleted.begin(), b = deleted.begin(); a != ours_deleted.end(); ++a, ++b) {
        const std::size_t cut = a->rfind('/') + 2;
        EXPECT_EQ(a->substr(cut), b->substr(cut)) << *a << " / " << *b;
    }
}

}  // namespace
}  // namespace duzez::devices

namespace duzez::devices {
namespace {

// The FAT images of the shared test data: the same names as The Sleuth Kit finds. Two
// differences are by design. Paths are not compared: where a deleted folder's first
// cluster now belongs to another folder, the two share an id here and the entries of that
// cluster are filed under the folder found last (The Sleuth Kit lists them under both).
// And an entry is deleted here when its own entry says so, while The Sleuth Kit also calls
// the live entries inside a deleted folder deleted; so every name deleted here must be
// deleted there, not the other way round.
TEST_F(FatTest, SameNamesAsTheSleuthKitOnTheSharedImages) {
    if (!HaveTool("fls"))
        GTEST_SKIP() << "The Sleuth Kit is not installed";
    const auto data = std::filesystem::path(DUZEZ_SOURCE_DIR_DEFAULT).parent_path() / "shared" /
                      "testdata" / "sleuthkit_test_data";
    for (const char* name : {"6-undel-fat/6-fat-undel.dd.gz", "5-fat-daylight/daylight.dd.gz",
                             "9-fat-label/9-fat-label.dd.gz", "2-kwsrch-fat/fat-img-kw.dd.gz"}) {
        SCOPED_TRACE(name);
        if (!std::filesystem::exists(data / name))
            GTEST_SKIP() << "test data not found";
        image_ = dir_ / std::filesystem::path(name).stem();
        ASSERT_TRUE(
            RunCommand("(gzip -dc '" + (data / name).string() + "' > '" + image_.string() + "')"));
        computer_.reset();
        const auto listing = Listing(*Analyse());
        std::set<std::string> ours;
        std::set<std::string> oursDeleted;
        for (const auto& [path, object] : listing) {
            std::string base = Lower(std::string(object->GetName()));
            // A deleted 8.3 name's first character is lost ('_' here); names are compared
            // without a leading underscore on both sides.
            if (base.size() > 1 && base[0] == '_')
                base = base.substr(1);
            ours.insert(base);
            if (object->Is(ObjectFlags::Deleted))
                oursDeleted.insert(base);
        }
        FILE* pipe = ::popen(("fls -r '" + image_.string() + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::set<std::string> theirs;
        std::set<std::string> theirsDeleted;
        char line[2048];
        while (std::fgets(line, sizeof line, pipe) != nullptr) {
            std::string text(line);
            if (text.rfind("v/v", 0) == 0 || text.rfind("V/V", 0) == 0 ||
                text.find("(Volume Label Entry)") != std::string::npos) {
                continue;
            }
            const bool gone = text.find(" * ") != std::string::npos;
            std::string base = Lower(text.substr(text.find('\t') + 1));
            base.erase(base.find_last_not_of("\r\n") + 1);
            if (base.size() > 1 && base[0] == '_')
                base = base.substr(1);
            theirs.insert(base);
            if (gone)
                theirsDeleted.insert(base);
        }
        ::pclose(pipe);
        EXPECT_EQ(ours, theirs);
        for (const auto& deleted : oursDeleted)
            EXPECT_TRUE(theirsDeleted.count(deleted)) << deleted;
    }
}

}  // namespace
}  // namespace duzez::devices

namespace duzez::devices {
namespace {

TEST_F(FatTest, ADeletedFileWhoseClusterALiveFolderReusedIsListedToo) {
    Make(16, 20000, {}, "-s 1");
    // The deleted entry stays in folder A; its cluster is the first free one again.
    File("OLD.TXT", 100);
    Mtools(MtoolsOn("mmd") + " ::/A");
    Mtools(MtoolsOn("mcopy") + " OLD.TXT ::/A/");
    Mtools(MtoolsOn("mdel") + " ::/A/OLD.TXT");
    Mtools(MtoolsOn("mmd") + " ::/NEWDIR");
    const auto listing = Listing(*Analyse());
    ASSERT_TRUE(listing.count("/A/_LD.TXT") && listing.count("/NEWDIR"))
        << testing::PrintToString(listing);
    EXPECT_EQ(listing.at("/A/_LD.TXT")->Id, listing.at("/NEWDIR")->Id)
        << "both start at one cluster";
    EXPECT_TRUE(listing.at("/A/_LD.TXT")->Is(ObjectFlags::Deleted));
    EXPECT_EQ(listing.count("/A/NEWDIR"), 0u) << "each is filed under its own parent";
}

TEST_F(FatTest, DirectoriesMetAgainInTheSectorPhaseAddOnlyWhatIsNew) {
    Make(32, 40960, {}, "-s 1");
    File("IMG_0001.JPG", 3000);
    Mtools(MtoolsOn("mmd") + " ::/DCIM ::/DCIM/100CANON");
    Mtools(MtoolsOn("mcopy") + " IMG_0001.JPG ::/DCIM/100CANON/");
    CVolume* volume = Analyse();
    const auto before = Listing(*volume);
    ASSERT_TRUE(before.count("/DCIM/100CANON/IMG_0001.JPG")) << testing::PrintToString(before);
    app_->AnalysisRunning = true;
    for (const char* folder : {"/DCIM", "/DCIM/100CANON"}) {
        FoundObject block;
        block.Start = before.at(folder)->Start;
        volume->FileSystem->ParseFoundBlock(block);
    }
    EXPECT_EQ(Listing(*volume).size(), before.size()) << "the phase read these already";
    // A directory cluster nothing points at any more is listed, under the root.
    const std::uint64_t orphan = before.at("/DCIM/100CANON")->Start + 200 * 512;
    std::string cluster(512, '\0');
    {
        std::ifstream in(image_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(before.at("/DCIM/100CANON")->Start));
        in.read(cluster.data(), 512);
    }
    {
        std::fstream out(image_, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(orphan));
        out.write(cluster.data(), 512);
    }
    FoundObject block;
    // A hit reads ten clusters from itself: the hit one cluster earlier takes the orphan in,
    // and the orphan's own hit must not list it again.
    for (const std::uint64_t hit : {orphan - 512, orphan}) {
        block.Start = hit;
        volume->FileSystem->ParseFoundBlock(block);
    }
    app_->AnalysisRunning = false;
    std::size_t copies = 0;
    for (const FoundObject* object : volume->FoundObjectTree->ListedObjects())
        copies += object->GetName() == "IMG_0001.JPG";
    EXPECT_EQ(copies, 2u) << "the real file and the orphan's entry, once each";
    const auto after = Listing(*volume);
    EXPECT_TRUE(after.count("/IMG_0001.JPG")) << testing::PrintToString(after);
    EXPECT_TRUE(after.count("/DCIM/100CANON/IMG_0001.JPG")) << "the real path is kept";
}

TEST_F(FatTest, ForgedTableSizeIsRefusedNotAllocated) {
    Make(16, 20000, {});
    std::fstream disk(image_, std::ios::in | std::ios::out | std::ios::binary);
    disk.seekp(0x16);
    disk.put(static_cast<char>(0xFF)).put(static_cast<char>(0xFF));  // 65535 sectors per FAT
    disk.close();
    CVolume* volume = Analyse();
    const auto lines = computer_->Log().Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ERR: Can't allocate memory!"), lines.end());
    EXPECT_EQ(volume->FilesFound.load(), 0u);
}

}  // namespace
}  // namespace duzez::devices
