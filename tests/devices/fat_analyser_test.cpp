// The FAT analyser on volumes built by mkfs.fat and mtools, compared with The Sleuth Kit.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "filesystems/found_object_stream.h"
#include "filesystems/found_object_tree.h"
#include "tests/devices/analyser_test_support.h"

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

// fls's entries but the volume label: each name (a path with -p), lowered, and whether
// it is deleted.
std::vector<std::pair<std::string, bool>> FlsNames(const std::string& options,
                                                   const std::filesystem::path& image) {
    std::vector<std::pair<std::string, bool>> names;
    for (const auto& line : test::FlsLines(options, image)) {
        if (Lower(line.type) != "v/v" && line.name.find("(Volume Label") == std::string::npos)
            names.emplace_back(Lower(line.name), line.deleted);
    }
    return names;
}

// A file of random bytes to put in the test's folder.
struct NewFile {
    std::string name;
    std::size_t bytes;
    unsigned seed = 1;
};

class FatTest : public test::AnalyserTest {
  protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy"))
            GTEST_SKIP() << "dosfstools or mtools missing";
        ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }

    // `files` in the test's folder, a new image from mkfs.fat, then `steps` run on it.
    void Make(int bits, unsigned kilobytes, const std::string& extra = "",
              const std::vector<NewFile>& files = {}, const std::vector<std::string>& steps = {}) {
        Files(files);
        image_ = dir_ / ("fat" + std::to_string(bits) + ".img");
        std::filesystem::remove(image_);
        EXPECT_TRUE(RunCommand("mkfs.fat -C -F " + std::to_string(bits) + " " + extra + " '" +
                               image_.string() + "' " + std::to_string(kilobytes)));
        Mtools(steps);
    }
    // mtools commands against the image: "mcopy A.TXT ::/" runs as "mcopy -i image A.TXT ::/".
    void Mtools(const std::vector<std::string>& steps) {
        for (const auto& step : steps) {
            const std::size_t space = step.find(' ');
            Shell(step.substr(0, space) + " -i '" + image_.string() + "'" + step.substr(space));
        }
    }
    void Shell(const std::string& command) {
        ASSERT_TRUE(RunCommand("cd '" + dir_.path().string() + "' && " + command)) << command;
    }
    void Files(const std::vector<NewFile>& files) {
        for (const NewFile& file : files) {
            std::string data(file.bytes, '\0');
            std::mt19937 random(file.seed);
            for (auto& c : data)
                c = static_cast<char>(random());
            test::WriteFile(dir_ / file.name, data);
        }
    }

    CVolume* Analyse() { return AnalyserTest::Analyse(image_); }
    CVolume* AnalyseWithBadSector(std::uint64_t sector) {
        return AnalyserTest::AnalyseWithBadSector(image_, sector);
    }

    // The reserved sectors and the sectors of one FAT, from a FAT12/16 boot sector.
    static std::pair<unsigned, unsigned> Fat16Layout(const std::string& bytes) {
        return {unsigned(test::LeAt(bytes, 14, 2)), unsigned(test::LeAt(bytes, 22, 2))};
    }
    // In every FAT of a FAT16 image: the entries of clusters [first, last) set to `value`.
    static void SetFat16(std::string& bytes, std::size_t first, std::size_t last, unsigned value) {
        const auto [reserved, perFat] = Fat16Layout(bytes);
        for (unsigned fat = 0; fat < static_cast<unsigned char>(bytes[16]); ++fat) {
            for (std::size_t cluster = first; cluster < last; ++cluster)
                bytes.replace((reserved + fat * perFat) * 512 + cluster * 2, 2, test::Le(value, 2));
        }
    }
    // The object read as one extent from its first cluster, not through its chain.
    static std::string ReadAsExtent(CVolume& volume, const FoundObject& object) {
        FoundObject asExtent = object;
        asExtent.Flags |= ObjectFlags::Deleted;
        return ReadBack(volume, asExtent);
    }
    // Files F<from>.<ext> to F<to - 1>.<ext> of `bytes` each, file i made from seed
    // i - `seedBase`; their names, each after a space.
    std::string Numbered(int from, int to, const std::string& ext, std::size_t bytes,
                         int seedBase) {
        std::string names;
        for (int i = from; i < to; ++i) {
            const std::string name = "F" + std::to_string(i) + "." + ext;
            Files({{name, bytes, static_cast<unsigned>(i - seedBase)}});
            names += " " + name;
        }
        return names;
    }
    // A FAT16 volume of 512-byte clusters: small files of three clusters, some then deleted,
    // and BIG.BIN written across the gaps.
    void MakeFragmented(int fillers, const std::vector<int>& deleted, unsigned seed) {
        Make(16, 20000, "-s 1", {}, {"mcopy" + Numbered(0, fillers, "BIN", 3 * 512, 0) + " ::/"});
        for (int i : deleted)
            Mtools({"mdel ::/F" + std::to_string(i) + ".BIN"});
        Files({{"BIG.BIN", 40000, seed}});
        Mtools({"mcopy BIG.BIN ::/"});
    }

    std::filesystem::path image_;
};

// Files without clusters (empty ones) stay in the folder that holds them, live or deleted,
// in the root and below it.
TEST_F(FatTest, NamesFoldersDeletedAndEmptyEntriesOnEveryVariant) {
    for (const auto& [bits, kilobytes] :
         std::vector<std::pair<int, unsigned>>{{12, 4096}, {16, 20000}, {32, 66000}}) {
        SCOPED_TRACE("FAT" + std::to_string(bits));
        Make(
            bits, kilobytes, "",
            {{"Holiday Photo 2024.jpg", 5000},
             {"SHORT.TXT", 100},
             {"PHOTO.JPG", 3000},
             {"gone long name.dat", 700},
             {"EMPTY.TXT", 0},
             {"empty file.txt", 0}},
            {"mmd ::/DCIM ::/DCIM/100CANON ::/Old ::/Old/Inner ::/Documents",
             "mcopy 'Holiday Photo 2024.jpg' ::/DCIM/100CANON/",
             "mcopy SHORT.TXT PHOTO.JPG 'gone long name.dat' EMPTY.TXT ::/",
             "mcopy SHORT.TXT ::/Old/Inner/KEEP.TXT", "mcopy 'empty file.txt' ::/Documents/",
             "mcopy EMPTY.TXT ::/Documents/GONE.TXT",
             "mdel ::/PHOTO.JPG '::/gone long name.dat' ::/Documents/GONE.TXT", "mdeltree ::/Old"});

        const auto [volume, listing] = AnalyseAndList(image_);
        const std::string photo = "/DCIM/100CANON/Holiday Photo 2024.jpg";
        ASSERT_TRUE(ExpectListed(listing, photo, 0, ObjectFlags::Deleted));
        EXPECT_EQ(listing.at(photo)->Size, 5000u);
        EXPECT_NE(listing.at(photo)->Modified, 0u);
        EXPECT_TRUE(ExpectListed(listing, "/DCIM", ObjectFlags::Folder));
        EXPECT_EQ(listing.at("/SHORT.TXT")->Size, 100u);
        // A deleted 8.3 name loses its first character; a deleted long name is kept.
        ASSERT_TRUE(ExpectListed(listing, "/_HOTO.JPG", ObjectFlags::Deleted));
        EXPECT_EQ(listing.at("/_HOTO.JPG")->Size, 3000u);
        EXPECT_TRUE(ExpectListed(listing, "/gone long name.dat", ObjectFlags::Deleted));
        // The deleted folder and what it held.
        for (const char* path : {"/Old", "/Old/Inner", "/Old/Inner/_EEP.TXT"})
            EXPECT_TRUE(ExpectListed(listing, path, ObjectFlags::Deleted));
        EXPECT_TRUE(ExpectListed(listing, "/EMPTY.TXT"));
        ASSERT_TRUE(ExpectListed(listing, "/Documents/empty file.txt"));
        EXPECT_EQ(listing.at("/Documents/empty file.txt")->Size, 0u);
        EXPECT_TRUE(ExpectListed(listing, "/Documents/_ONE.TXT", ObjectFlags::Deleted));
        EXPECT_EQ(volume->FoldersFound.load(), 5u);
    }
}

TEST_F(FatTest, FragmentedLiveFileReadsBackThroughItsChain) {
    MakeFragmented(6, {1, 3, 5}, 99);
    const auto [volume, listing] = AnalyseAndList(image_);
    ASSERT_TRUE(ExpectListed(listing, "/BIG.BIN"));
    const FoundObject& big = *listing.at("/BIG.BIN");
    const std::string original = test::ReadFile(dir_ / "BIG.BIN");
    // Whole and back at the start; in two parts across a cluster boundary, as the recovery
    // reads in blocks.
    ExpectReadsInPieces(*volume, big, original, {}, {0});
    ExpectReadsInPieces(*volume, big, original, {1000});
    // The file is really fragmented: read as one extent it is something else.
    EXPECT_NE(ReadAsExtent(*volume, big), original);
}

// A bad sector inside a live fragmented file costs that sector: the clusters after it,
// wherever the chain takes them, still come back.
TEST_F(FatTest, ABadSectorInAChainCostsOnlyThatSector) {
    MakeFragmented(4, {1}, 7);
    // The sector (one cluster) that holds bytes 19,968 to 20,479 of BIG.BIN.
    const std::string big = test::ReadFile(dir_ / "BIG.BIN");
    CVolume* volume =
        AnalyseWithBadSector(test::ReadFile(image_).find(big.substr(19968, 512)) / 512);
    filesystems::ReadDamage damage;
    std::string expected = big;
    std::fill(expected.begin() + 19968, expected.begin() + 20480, '\0');
    EXPECT_TRUE(ReadListed(volume, "/BIG.BIN", &damage) == expected);
    EXPECT_EQ(damage.unreadableSectors, 1u);
    EXPECT_FALSE(damage.endGuessed);
}

TEST_F(FatTest, ABadSectorPastTheEndOfAFileInItsLastClusterCostsNothing) {
    Make(16, 20000, "-s 4", {{"NOTE.TXT", 600, 5}}, {"mcopy NOTE.TXT ::/"});
    const std::string note = test::ReadFile(dir_ / "NOTE.TXT");
    const std::uint64_t first = test::ReadFile(image_).find(note.substr(0, 512)) / 512;
    CVolume* volume = AnalyseWithBadSector(first + 2);  // the cluster's third sector
    filesystems::ReadDamage damage;
    EXPECT_TRUE(ReadListed(volume, "/NOTE.TXT", &damage) == note);
    EXPECT_EQ(damage.unreadableSectors, 0u);
}

// A deleted file's first cluster taken by a new folder (with or without files of its own):
// both are listed, sharing an id, each under its own parent, and the folder keeps its files.
TEST_F(FatTest, AFolderOnTheClusterOfADeletedFileKeepsItsFiles) {
    struct Row {
        NewFile old;
        std::string folder;
        NewFile inside;  // none when its name is empty
    };
    for (const Row& row : {Row{{"OLD.JPG", 300, 1}, "DCIM", {"B.JPG", 2000, 2}},
                           Row{{"OLD.TXT", 100, 1}, "NEWDIR", {"", 0}}}) {
        SCOPED_TRACE(row.folder);
        computer_.reset();
        Make(16, 20000, "-s 1", {row.old});
        // The deleted entry stays in folder A, so the new folder's entry cannot take its slot;
        // its cluster is the first free one again.
        Mtools({"mmd ::/A", "mcopy " + row.old.name + " ::/A/", "mdel ::/A/" + row.old.name,
                "mmd ::/" + row.folder});
        if (!row.inside.name.empty()) {
            Files({row.inside});
            Mtools({"mcopy " + row.inside.name + " ::/" + row.folder + "/"});
        }
        const auto listing = Listing(*Analyse());
        const std::string old = "/A/_" + row.old.name.substr(1);
        const std::string folder = "/" + row.folder;
        ASSERT_TRUE(ExpectListed(listing, old, ObjectFlags::Deleted));
        ASSERT_TRUE(ExpectListed(listing, folder));
        EXPECT_EQ(listing.at(old)->Id, listing.at(folder)->Id) << "both start at one cluster";
        EXPECT_EQ(listing.count("/A" + folder), 0u) << "each is filed under its own parent";
        if (!row.inside.name.empty()) {
            EXPECT_TRUE(ExpectListed(listing, folder + "/" + row.inside.name));
        }
    }
}

// On FAT32 the root directory may start at any cluster; a folder at cluster 2 is then an
// ordinary folder.
TEST_F(FatTest, AFat32RootAwayFromClusterTwoLeavesClusterTwoToItsFolder) {
    Make(32, 66000, "-s 1", {{"X.TXT", 100, 3}}, {"mmd ::/SUB", "mcopy X.TXT ::/SUB/"});
    // Swap the root directory (cluster 2) and SUB's directory (its cluster) on the disk.
    std::string bytes = test::ReadFile(image_);
    const auto at = [&](std::size_t offset, int width) { return test::LeAt(bytes, offset, width); };
    ASSERT_EQ(at(44, 4), 2u);
    const std::uint64_t dataStart =
        (at(14, 2) + static_cast<unsigned char>(bytes[16]) * at(36, 4)) * 512;
    const auto clusterAt = [&](std::uint64_t c) { return dataStart + (c - 2) * 512; };
    std::string root = bytes.substr(clusterAt(2), 512);
    const std::size_t entry = root.find("SUB        ");
    ASSERT_NE(entry, std::string::npos);
    const std::uint64_t sub = test::LeAt(root, entry + 26, 2);
    ASSERT_GT(sub, 2u);
    std::string subDir = bytes.substr(clusterAt(sub), 512);
    root.replace(entry + 26, 2, test::Le(2, 2));  // SUB now starts at cluster 2
    subDir.replace(26, 2, test::Le(2, 2));        // its "." entry
    bytes.replace(clusterAt(sub), 512, root);
    bytes.replace(clusterAt(2), 512, subDir);
    bytes.replace(44, 4, test::Le(sub, 4));
    bytes.replace(6 * 512 + 44, 4, test::Le(sub, 4));  // the backup boot sector
    test::WriteFile(image_, bytes);

    const auto listing = Listing(*Analyse());
    EXPECT_TRUE(ExpectListed(listing, "/SUB/X.TXT"));
    EXPECT_FALSE(listing.count("/X.TXT")) << testing::PrintToString(listing);
}

// The sector phase meets each fragmented photo at its first cluster; the photo is still
// read through its chain, not as the contiguous extent the hit would suggest.
TEST_F(FatTest, TheSectorPhaseNeverMakesAListedFileWorse) {
    if (!HaveTool("convert"))
        GTEST_SKIP() << "ImageMagick missing";
    Make(16, 20000, "-s 1");
    // A hundred small files, every other one deleted: gaps of three clusters to fill.
    std::string deleted;
    for (int i = 100; i < 200; i += 2)
        deleted += " ::/F" + std::to_string(i) + ".BIN";
    Mtools({"mcopy" + Numbered(100, 200, "BIN", 3 * 512, 0) + " ::/", "mdel" + deleted});
    std::vector<std::string> photos;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "P" + std::to_string(i) + ".JPG";
        Shell("convert -size 160x120 plasma:fractal -seed " + std::to_string(i) + " " + name);
        Mtools({"mcopy " + name + " ::/"});
        photos.push_back(name);
    }
    CVolume* volume = Analyse();
    RunSectorPhase(*volume);
    const auto listing = Listing(*volume);
    int fragmented = 0;
    for (const std::string& name : photos) {
        SCOPED_TRACE(name);
        // Listed, so Live as listed.
        ASSERT_TRUE(ExpectListed(listing, "/" + name, 0, ObjectFlags::FoundBySignature));
        const FoundObject* photo = listing.at("/" + name);
        const std::string original = test::ReadFile(dir_ / name);
        ASSERT_EQ(photo->Size, original.size());
        EXPECT_TRUE(ReadBack(*volume, *photo) == original);
        // The photos are really fragmented: as one extent they would be something else.
        fragmented += ReadAsExtent(*volume, *photo) != original ? 1 : 0;
    }
    EXPECT_GE(fragmented, 3);
}

// A deleted file whose clusters a later file took holds that file's bytes: overwritten.
TEST_F(FatTest, ADeletedFileWhoseClustersAreInUseAgainIsOverwritten) {
    Make(16, 20000, "-s 1", {{"OLD.JPG", 3000, 1}, {"SPARE.JPG", 2000, 2}, {"NEW.JPG", 1000, 3}});
    // In a folder, so that the new file's entry does not take the old one's slot; the new
    // file takes the first free clusters: OLD.JPG's.
    Mtools({"mmd ::/A", "mcopy OLD.JPG SPARE.JPG ::/A/", "mdel ::/A/OLD.JPG ::/A/SPARE.JPG",
            "mcopy NEW.JPG ::/"});
    const auto listing = Listing(*Analyse());
    EXPECT_TRUE(ExpectListed(listing, "/A/_LD.JPG", ObjectFlags::Overwritten));
    EXPECT_TRUE(ExpectListed(listing, "/A/_PARE.JPG", 0, ObjectFlags::Overwritten));
    EXPECT_TRUE(ExpectListed(listing, "/NEW.JPG", 0, ObjectFlags::Overwritten));
}

// A card formatted in the camera: new empty tables and root, the data area untouched. The
// folders' own directory clusters still say which folder is whose.
TEST_F(FatTest, AQuickFormattedCardKeepsItsFolders) {
    Make(16, 20000, "-s 4", {{"IMG_0001.JPG", 30000, 1}, {"IMG_0002.JPG", 50000, 2}},
         {"mmd ::/DCIM ::/DCIM/100CANON", "mcopy IMG_0001.JPG IMG_0002.JPG ::/DCIM/100CANON/"});
    ASSERT_TRUE(RunCommand("mkfs.fat -F 16 -s 4 '" + image_.string() + "'"));
    CVolume* volume = Analyse();
    RunSectorPhase(*volume);
    const auto listing = Listing(*volume);
    for (const std::string name : {"IMG_0001.JPG", "IMG_0002.JPG"}) {
        SCOPED_TRACE(name);
        const std::string suffix = "/100CANON/" + name;
        const auto found = std::find_if(listing.begin(), listing.end(), [&](const auto& entry) {
            return entry.first.size() > suffix.size() && entry.first.ends_with(suffix);
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
    // SONG.MP3 has no tag: no header its kind could be told by.
    Make(32, 40000, "-s 1", {{"FILL.BIN", 34 << 20, 9}, {"SONG.MP3", 7000, 8}});
    std::string photo = "\xFF\xD8\xFF\xE0" + std::string(20000, 'p');
    photo += test::ReadFile(dir_ / "FILL.BIN").substr(0, 30000);
    test::WriteFile(dir_ / "PHOTO.JPG", photo);
    test::WriteFile(dir_ / "GONE.JPG", "\xFF\xD8\xFF\xE0" + std::string(9000, 'g'));
    const std::string inside = "\xFF\xD8\xFF\xE0" + std::string(3000, 'i');
    test::WriteFile(dir_ / "PIC1.JPG", inside);
    Mtools({"mcopy FILL.BIN PHOTO.JPG GONE.JPG SONG.MP3 ::/", "mmd ::/TRIP",
            "mcopy PIC1.JPG ::/TRIP/", "mdel ::/PHOTO.JPG ::/GONE.JPG ::/SONG.MP3 ::/TRIP/PIC1.JPG",
            "mrd ::/TRIP"});
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
    const auto [volume, listing] = AnalyseAndList(image_);
    EXPECT_TRUE(
        ExpectReadsBack(*volume, listing, "/_HOTO.JPG", photo, 0, ObjectFlags::Overwritten));
    // No candidate fits.
    EXPECT_TRUE(ExpectListed(listing, "/_ONE.JPG", ObjectFlags::Overwritten));
    // One free candidate, whatever its header says: read from there.
    EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/_ONG.MP3", test::ReadFile(dir_ / "SONG.MP3")));
    // A folder is told by its own "." entry, and its photo comes back with it.
    EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/_RIP/_IC1.JPG", inside));
}

// A folder deleted as Windows deletes one (its entry marked, its clusters and its files'
// clusters freed, the files' own entries left as they were): the files inside are deleted
// with it, read from their extent, and overwritten once another file takes their clusters.
TEST_F(FatTest, FilesInAFolderDeletedAsWindowsDoesAreDeletedToo) {
    Make(16, 20000, "-s 1", {{"BEACH.JPG", 5000, 4}, {"DUNES.JPG", 5000, 5}},
         {"mmd ::/TRIP", "mcopy BEACH.JPG DUNES.JPG ::/TRIP/"});
    std::string bytes = test::ReadFile(image_);
    const std::size_t folder = bytes.find("TRIP       ");
    ASSERT_NE(folder, std::string::npos);
    bytes[folder] = static_cast<char>(0xE5);
    // Every cluster after the two reserved entries free again.
    SetFat16(bytes, 2, Fat16Layout(bytes).second * 256, 0);
    test::WriteFile(image_, bytes);
    CVolume* volume = Analyse();
    auto listing = Listing(*volume);
    ASSERT_TRUE(ExpectReadsBack(*volume, listing, "/_RIP/BEACH.JPG",
                                test::ReadFile(dir_ / "BEACH.JPG"), ObjectFlags::Deleted,
                                ObjectFlags::Overwritten));
    const FoundObject* beach = listing.at("/_RIP/BEACH.JPG");

    // Another file takes a cluster of BEACH.JPG's (its table entry becomes an end mark).
    SetFat16(bytes, beach->Id + 2, beach->Id + 3, 0xFFFF);
    test::WriteFile(image_, bytes);
    computer_.reset();
    listing = Listing(*Analyse());
    EXPECT_TRUE(ExpectListed(listing, "/_RIP/BEACH.JPG", ObjectFlags::Overwritten));
    EXPECT_TRUE(ExpectListed(listing, "/_RIP/DUNES.JPG", 0, ObjectFlags::Overwritten));
}

// A directory of several clusters is read whole; an entry after a 0x00 end mark is still
// looked at; a stop keeps what was listed so far.
TEST_F(FatTest, LongDirectoriesEndMarksAndAStop) {
    // 42 entries in MANY: three 512-byte clusters.
    Make(16, 20000, "-s 1", {{"A.TXT", 10, 1}, {"B.TXT", 10, 2}},
         {"mmd ::/MANY", "mcopy" + Numbered(100, 140, "TXT", 100, 100) + " ::/MANY/",
          "mcopy A.TXT B.TXT ::/"});
    std::string bytes = test::ReadFile(image_);
    bytes[bytes.find("A       TXT")] = '\0';  // A's entry is now an end mark
    test::WriteFile(image_, bytes);
    auto listing = Listing(*Analyse());
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(listing.count("/MANY/F" + std::to_string(100 + i) + ".TXT")) << i;
    EXPECT_TRUE(listing.count("/B.TXT")) << "after the end mark";
    EXPECT_FALSE(listing.count("/A.TXT"));

    // Stop after ten objects: those ten stay, nothing after them is listed.
    struct StopAfter : platform::MessageTarget {
        StopAfter(core::CApp& app, int count) : app_(app), left_(count) {}
        bool Post(platform::Message message) override {
            if (message.id == filesystems::WM_FOUND_OBJECT && --left_ == 0)
                app_.AnalysisRunning = false;
            return true;
        }
        std::int64_t Send(const platform::Message&) override { return 0; }
        core::CApp& app_;
        int left_;
    };
    app_->SetMainWindow(std::make_shared<StopAfter>(*app_, 10));
    computer_.reset();
    CVolume* again = Analyse();
    ASSERT_NE(again, nullptr);
    listing = Listing(*again);
    EXPECT_GE(listing.size(), 9u);
    EXPECT_LE(listing.size(), 11u) << testing::PrintToString(listing);
}

// A FAT16 root directory that cannot be read: line 194, nothing listed, no crash.
TEST_F(FatTest, AnUnreadableRootDirectoryIsSaidAndListsNothing) {
    Make(16, 20000, "-s 1", {{"A.TXT", 10, 1}}, {"mcopy A.TXT ::/"});
    const auto [reserved, perFat] = Fat16Layout(test::ReadFile(image_));
    CVolume* volume = AnalyseWithBadSector(reserved + 2 * perFat + 1);
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(Listing(*volume).empty()) << testing::PrintToString(Listing(*volume));
    EXPECT_TRUE(LogHasLine("ERR: FAT Root directory not read!"));
}

// The boot sector counts in its own sectors: 4096 bytes here, for FAT12 and FAT16.
TEST_F(FatTest, VolumesWith4096ByteSectorsListAndReadBack) {
    for (const auto& [bits, kilobytes] :
         std::vector<std::pair<int, unsigned>>{{12, 20000}, {16, 65536}}) {
        SCOPED_TRACE("FAT" + std::to_string(bits));
        Make(bits, kilobytes, "-S 4096", {{"P.JPG", 30000, 3}, {"Q.JPG", 9000, 4}},
             {"mmd ::/DCIM", "mcopy P.JPG Q.JPG ::/DCIM/", "mdel ::/DCIM/Q.JPG"});
        const auto [volume, listing] = AnalyseAndList(image_);
        for (const auto& [path, file] :
             {std::pair{"/DCIM/P.JPG", "P.JPG"}, {"/DCIM/_.JPG", "Q.JPG"}})
            EXPECT_TRUE(ExpectReadsBack(*volume, listing, path, test::ReadFile(dir_ / file)));
        computer_.reset();
    }
}

TEST_F(FatTest, HostileTableAndDirectoriesGiveAPartialListing) {
    Make(16, 20000, "-s 1", {{"X.TXT", 100}}, {"mmd ::/A", "mcopy X.TXT ::/A/"});
    // Point the directory's cluster at itself in both FATs: a chain that loops.
    std::string bytes = test::ReadFile(image_);
    SetFat16(bytes, 2, 3, 2);
    test::WriteFile(image_, bytes);
    EXPECT_TRUE(Listing(*Analyse()).count("/A/X.TXT"));
}

TEST_F(FatTest, AgreesWithTheSleuthKit) {
    if (!HaveTool("fls"))
        GTEST_SKIP() << "The Sleuth Kit is not installed";
    Make(32, 66000, "", {{"Kept Photo.jpg", 2000}, {"DELETED.JPG", 2000}},
         {"mmd ::/Trip ::/Trip/Day1", "mcopy 'Kept Photo.jpg' DELETED.JPG ::/Trip/Day1/",
          "mdel ::/Trip/Day1/DELETED.JPG"});
    const auto listing = Listing(*Analyse());

    std::set<std::string> live;
    std::set<std::string> deleted;
    for (const auto& [name, gone] : FlsNames("-r -p", image_))
        (gone ? deleted : live).insert("/" + name);
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
    // A deleted 8.3 name's first character is lost ('_' here); names are compared without
    // a leading underscore on both sides.
    const auto base = [](std::string name) {
        name = Lower(name);
        return name.size() > 1 && name[0] == '_' ? name.substr(1) : name;
    };
    for (const std::string name :
         {"6-undel-fat/6-fat-undel.dd.gz", "5-fat-daylight/daylight.dd.gz",
          "9-fat-label/9-fat-label.dd.gz", "2-kwsrch-fat/fat-img-kw.dd.gz"}) {
        SCOPED_TRACE(name);
        image_ = Unpacked("sleuthkit_test_data/" + name);
        if (image_.empty())
            GTEST_SKIP() << "test data not found";
        computer_.reset();
        std::set<std::string> ours;
        std::set<std::string> oursDeleted;
        for (const auto& [path, object] : Listing(*Analyse())) {
            ours.insert(base(std::string(object->GetName())));
            if (object->Is(ObjectFlags::Deleted))
                oursDeleted.insert(base(std::string(object->GetName())));
        }
        std::set<std::string> theirs;
        std::set<std::string> theirsDeleted;
        for (const auto& [flsName, gone] : FlsNames("-r", image_)) {
            theirs.insert(base(flsName));
            if (gone)
                theirsDeleted.insert(base(flsName));
        }
        EXPECT_EQ(ours, theirs);
        for (const auto& deleted : oursDeleted)
            EXPECT_TRUE(theirsDeleted.count(deleted)) << deleted;
    }
}

TEST_F(FatTest, DirectoriesMetAgainInTheSectorPhaseAddOnlyWhatIsNew) {
    Make(32, 40960, "-s 1", {{"IMG_0001.JPG", 3000}},
         {"mmd ::/DCIM ::/DCIM/100CANON", "mcopy IMG_0001.JPG ::/DCIM/100CANON/"});
    CVolume* volume = Analyse();
    const auto before = Listing(*volume);
    ASSERT_TRUE(before.count("/DCIM/100CANON/IMG_0001.JPG")) << testing::PrintToString(before);
    ParseHits(*volume, {before.at("/DCIM")->Start, before.at("/DCIM/100CANON")->Start});
    EXPECT_EQ(Listing(*volume).size(), before.size()) << "the phase read these already";
    // A directory cluster nothing points at any more is listed, under the root.
    const std::uint64_t start = before.at("/DCIM/100CANON")->Start;
    const std::uint64_t orphan = start + 200 * 512;
    test::Patched(image_, image_, orphan, test::ReadFile(image_).substr(start, 512));
    // A hit reads ten clusters from itself: the hit one cluster earlier takes the orphan in,
    // and the orphan's own hit must not list it again.
    ParseHits(*volume, {orphan - 512, orphan});
    EXPECT_EQ(CountNamed(*volume, "IMG_0001.JPG"), 2u)
        << "the real file and the orphan's entry, once each";
    const auto after = Listing(*volume);
    EXPECT_TRUE(after.count("/IMG_0001.JPG")) << testing::PrintToString(after);
    EXPECT_TRUE(after.count("/DCIM/100CANON/IMG_0001.JPG")) << "the real path is kept";
}

TEST_F(FatTest, ForgedTableSizeIsRefusedNotAllocated) {
    Make(16, 20000);
    test::Patched(image_, image_, 0x16, "\xFF\xFF");  // 65535 sectors per FAT
    CVolume* volume = Analyse();
    EXPECT_TRUE(LogHasLine("ERR: Can't allocate memory!"));
    EXPECT_EQ(volume->FilesFound.load(), 0u);
}

}  // namespace
}  // namespace duzez::devices
