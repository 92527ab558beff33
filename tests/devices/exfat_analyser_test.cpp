// The exFAT analyser on volumes made by mkfs.exfat and filled through exfat-fuse on a loop
// device, and on the shared exFAT images, compared with The Sleuth Kit; file data read back
// byte for byte.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <random>
#include <set>

#include "filesystems/boot_record.h"
#include "filesystems/exfat/file_system_exfat.h"
#include "filesystems/found_object_stream.h"
#include "filesystems/found_object_tree.h"
#include "platform/byte_order.h"
#include "tests/devices/analyser_test_support.h"

namespace duzez::devices {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;
using test::CommandOutput;
using test::HaveTool;
using test::Patched;
using test::RandomBytes;
using test::RunCommand;

std::string Trim(std::string text) {
    text.erase(text.find_last_not_of(" \r\n\t") + 1);
    return text;
}

// Why exFAT volumes cannot be made here, or empty when they can.
std::string MissingTools() {
    for (const char* tool : {"mkfs.exfat", "fsck.exfat", "mount.exfat-fuse", "losetup"}) {
        if (!HaveTool(tool))
            return std::string(tool) + " is not installed (exfatprogs, exfat-fuse)";
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return "/dev/fuse is not available";
    if (::geteuid() != 0)
        return "loop devices need root";
    return {};
}

// An image on a loop device, mounted through exfat-fuse: unmounted (which waits for the
// FUSE daemon, the mount being fuseblk) and detached however the test ends.
class FuseMount {
  public:
    FuseMount(const std::filesystem::path& image, const std::filesystem::path& mountPoint)
        : mount_(mountPoint) {
        std::filesystem::create_directories(mount_);
        device_ = Trim(CommandOutput("losetup --find --show '" + image.string() + "' 2>&1"));
        if (device_.rfind("/dev/loop", 0) != 0) {
            error_ = "no loop device: " + device_;
            device_.clear();
            return;
        }
        const std::string out = CommandOutput("mount.exfat-fuse '" + device_ + "' '" +
                                              mount_.string() + "' 2>&1 && echo MOUNTED");
        mounted_ = out.find("MOUNTED") != std::string::npos;
        if (!mounted_)
            error_ = "exfat-fuse could not mount: " + out;
    }
    ~FuseMount() { Unmount(); }
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;

    const std::string& Error() const { return error_; }
    const std::filesystem::path& Root() const { return mount_; }
    void Unmount() {
        if (mounted_)
            RunCommand("umount '" + mount_.string() + "'");
        mounted_ = false;
        if (!device_.empty())
            RunCommand("losetup -d '" + device_ + "'");
        device_.clear();
    }

  private:
    std::filesystem::path mount_;
    std::string device_;
    std::string error_;
    bool mounted_ = false;
};

class ExFatBase : public test::AnalyserTest {
  protected:
    static filesystems::CFileSystem_ExFAT* Analyser(CVolume& volume) {
        return dynamic_cast<filesystems::CFileSystem_ExFAT*>(volume.FileSystem.get());
    }

    // Every path fls lists is listed here with the same deleted mark, and nothing else. TSK's
    // own entries ($ALLOC_BITMAP, $UPCASE_TABLE, $MBR, $FAT1, $OrphanFiles and the orphans it
    // lists there) and the label are left out.
    void ExpectSameAsFls(CVolume& volume, const std::filesystem::path& image) {
        std::map<std::string, bool> theirs;
        for (const auto& line : test::FlsLines("-r -p", image)) {
            if (line.name.find("(Volume Label Entry)") == std::string::npos && line.name[0] != '$')
                theirs["/" + line.name] = line.deleted;
        }
        ASSERT_FALSE(theirs.empty()) << "fls listed nothing";
        EXPECT_EQ(DeletedMarks(volume), theirs);
    }
};

class ExFatTest : public ExFatBase {
  protected:
    // The volume most tests read, made once: 4 KiB clusters, filled, pruned and written
    // over in three mounts.
    static void SetUpTestSuite() {
        skip_ = MissingTools();
        if (!skip_.empty())
            return;
        folder_ = new test::TempFolder;
        image_ = *folder_ / "exfat.img";
        if (!RunCommand("truncate -s 32M '" + image_.string() + "' && mkfs.exfat -c 4096 '" +
                        image_.string() + "'")) {
            skip_ = "mkfs.exfat failed";
            return;
        }
        // The lowest free clusters after the pruning are /Old/one.jpg's: exfat-fuse takes
        // them first for new.bin, and the entry slot decoy.txt left in the root.
        for (const auto step : {Fill, Prune, +[](const std::filesystem::path& root) {
                                    Put(root, "/new.bin", RandomBytes(5 * 4096, 50));
                                }}) {
            FuseMount mount(image_, *folder_ / "mnt");
            if (!mount.Error().empty()) {
                skip_ = mount.Error();
                return;
            }
            step(mount.Root());
        }
        if (!RunCommand("fsck.exfat -n '" + image_.string() + "'"))
            skip_ = "the volume exfat-fuse wrote does not pass fsck.exfat";
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty())
            GTEST_SKIP() << skip_;
    }

    // `path`'s object on the made volume, analysed by a computer then let go.
    FoundObject OnMadeVolume(const std::string& path) {
        CVolume* volume = Analyse(image_);
        const auto listing = volume != nullptr ? Listing(*volume) : Listed{};
        const FoundObject object = ExpectListed(listing, path) ? *listing.at(path) : FoundObject{};
        computer_.reset();
        return object;
    }

    // A file of the made volume, its folders made first.
    static void Put(const std::filesystem::path& root, const std::string& path,
                    const std::string& bytes) {
        originals_[path] = bytes;
        std::filesystem::create_directories((root / path.substr(1)).parent_path());
        test::WriteFile(root / path.substr(1), bytes);
    }

    static void Fill(const std::filesystem::path& root) {
        // An empty file first: its entry slot is what the last mount's new file takes.
        Put(root, "/decoy.txt", "");
        Put(root, "/Old/one.jpg", RandomBytes(10 * 4096, 1));
        Put(root, "/Old/two.jpg", RandomBytes(6 * 4096 + 100, 2));
        Put(root, "/DCIM/100CANON/IMG_0001.JPG", RandomBytes(150000, 3));
        Put(root, "/DCIM/100CANON/IMG_0002.JPG", RandomBytes(1, 4));
        Put(root, "/A/B/C/D/E/deep.txt", "five folders down\n");
        std::string longName;
        while (longName.size() < 240)
            longName += "A very long file name " + std::to_string(longName.size()) + " ";
        longName.resize(240);
        Put(root, "/" + longName + ".jpg", RandomBytes(9000, 5));
        Put(root, "/Ünïcødé 写真/Ĺong ñame — 東京 📷.jpg", RandomBytes(20000, 6));
        Put(root, "/keep.txt", "kept\n");
        // Two files that grow in turns: each takes the clusters after the other's last.
        std::string first;
        std::string second;
        for (unsigned i = 0; i < 8; ++i) {
            first += test::AppendFile(root / "frag1.bin", RandomBytes(5000, 100 + i));
            second += test::AppendFile(root / "frag2.bin", RandomBytes(5000, 200 + i));
        }
        originals_["/frag1.bin"] = first;
        originals_["/frag2.bin"] = second;
        Put(root, "/Trip/Day1/a.jpg", RandomBytes(30000, 7));
        Put(root, "/Trip/Day1/b.jpg", RandomBytes(12000, 8));
        Put(root, "/Trip/notes.txt", "to the sea\n");
        Put(root, "/gone.jpg", RandomBytes(60000, 9));
    }

    static void Prune(const std::filesystem::path& root) {
        for (const char* path :
             {"/decoy.txt", "/Old/one.jpg", "/Old/two.jpg", "/gone.jpg", "/frag2.bin"})
            std::filesystem::remove(root / (path + 1));
        std::filesystem::remove_all(root / "Trip");
    }

    static inline std::string skip_;
    static inline test::TempFolder* folder_ = nullptr;
    static inline std::filesystem::path image_;
    static inline std::map<std::string, std::string> originals_;
};

// The paths of the originals that are still there, and of those that were deleted.
const std::set<std::string> kDeleted = {"/decoy.txt",       "/Old/one.jpg",   "/Old/two.jpg",
                                        "/gone.jpg",        "/frag2.bin",     "/Trip/Day1/a.jpg",
                                        "/Trip/Day1/b.jpg", "/Trip/notes.txt"};

TEST_F(ExFatTest, TheVolumeIsExFatAndItsBootRegionIsSound) {
    CVolume* volume = Analyse(image_);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(filesystems::DetectFileSystem(volume->BootSectorBytes()),
              filesystems::FileSystemIds::ExFat);
    EXPECT_EQ(volume->FileSystem->FileSystemName, "exFAT");
    auto* analyser = Analyser(*volume);
    ASSERT_NE(analyser, nullptr);
    ASSERT_TRUE(analyser->Boot());
    EXPECT_FALSE(analyser->UsedBackupBoot());
    EXPECT_EQ(analyser->Boot()->ClusterBytes(), 4096u);
    EXPECT_EQ(volume->ClusterSize, 4096u);
    EXPECT_TRUE(ErrorLines().empty()) << testing::PrintToString(ErrorLines());
    // The bitmap gives the root directory's cluster to it, and nothing past the heap.
    EXPECT_TRUE(analyser->ClusterInUse(analyser->Boot()->rootCluster));
    EXPECT_FALSE(analyser->ClusterInUse(analyser->Boot()->clusterCount + 2));
    // The used areas are the bitmap's runs: a live file's clusters lie in one, a deleted
    // file's free clusters in none.
    const auto used = [&](std::uint64_t byteOffset) {
        return std::any_of(analyser->UsedAreas.begin(), analyser->UsedAreas.end(),
                           [&](const auto& area) {
                               return byteOffset / 512 >= area.firstSector &&
                                      byteOffset / 512 < area.firstSector + area.sectorCount;
                           });
    };
    const auto listing = Listing(*volume);
    const FoundObject& live = *listing.at("/DCIM/100CANON/IMG_0001.JPG");
    EXPECT_TRUE(used(live.Start));
    EXPECT_TRUE(used(live.Start + live.Size - 1));
    const FoundObject& free = *listing.at("/Old/two.jpg");
    EXPECT_FALSE(used(free.Start));
    EXPECT_FALSE(used(free.Start + free.Size - 1));
}

TEST_F(ExFatTest, ListsWhatTheSleuthKitLists) {
    if (!HaveTool("fls"))
        GTEST_SKIP() << "The Sleuth Kit is not installed";
    CVolume* volume = Analyse(image_);
    ASSERT_NE(volume, nullptr);
    ExpectSameAsFls(*volume, image_);
}

TEST_F(ExFatTest, LiveFilesReadBackByteExact) {
    const auto [volume, listing] = AnalyseAndList(image_);
    ASSERT_NE(volume, nullptr);
    std::size_t checked = 0;
    for (const auto& [path, bytes] : originals_) {
        if (kDeleted.count(path) != 0)
            continue;
        SCOPED_TRACE(path);
        ASSERT_TRUE(
            ExpectListed(listing, path, 0, ObjectFlags::Deleted | ObjectFlags::Overwritten));
        const FoundObject& object = *listing.at(path);
        EXPECT_EQ(object.Size, bytes.size());
        filesystems::ReadDamage damage;
        EXPECT_TRUE(ReadBack(*volume, object, &damage) == bytes) << "data differs";
        EXPECT_EQ(damage.unreadableSectors, 0u);
        EXPECT_FALSE(damage.endGuessed);
        ++checked;
    }
    EXPECT_EQ(checked, 8u);
    EXPECT_TRUE(ExpectListed(listing, "/A/B/C/D/E", ObjectFlags::Folder, ObjectFlags::Deleted));
}

TEST_F(ExFatTest, AFragmentedFileIsReadThroughItsChainInAnyPieces) {
    const auto [volume, listing] = AnalyseAndList(image_);
    ASSERT_NE(volume, nullptr);
    ASSERT_TRUE(ExpectListed(listing, "/frag1.bin"));
    const FoundObject& frag = *listing.at("/frag1.bin");
    const std::string& original = originals_.at("/frag1.bin");
    // It really is in pieces: read as one extent from its first cluster it is not itself.
    FoundObject asExtent = frag;
    asExtent.Id = 12345;  // no entry of the analyser's
    EXPECT_FALSE(ReadBack(*volume, asExtent) == original);
    // Forward in odd pieces across cluster boundaries, then back to and from the middle.
    ExpectReadsInPieces(*volume, frag, original, {1000, 3096, 1, 7777, 4096},
                        {20000, 5, 39000, 4096});
}

// A deleted file is overwritten exactly when what its clusters hold now is not its data.
TEST_F(ExFatTest, DeletedFilesAreOverwrittenExactlyWhenTheirBytesAreGone) {
    const auto [volume, listing] = AnalyseAndList(image_);
    ASSERT_NE(volume, nullptr);
    std::map<std::string, bool> overwritten;
    for (const std::string& path : kDeleted) {
        if (path == "/decoy.txt") {
            EXPECT_FALSE(listing.count(path)) << "its entries hold new.bin now";
            continue;
        }
        SCOPED_TRACE(path);
        ASSERT_TRUE(ExpectListed(listing, path, ObjectFlags::Deleted));
        const FoundObject& object = *listing.at(path);
        const std::string& original = originals_.at(path);
        EXPECT_EQ(object.Size, original.size());
        const bool same = ReadBack(*volume, object) == original;
        EXPECT_NE(same, object.Is(ObjectFlags::Overwritten));
        overwritten[path] = object.Is(ObjectFlags::Overwritten);
    }
    // new.bin took the first clusters of one.jpg; two.jpg's are free. frag2.bin's chain
    // was cleared, and the clusters after its first are frag1.bin's.
    EXPECT_TRUE(overwritten["/Old/one.jpg"]);
    EXPECT_FALSE(overwritten["/Old/two.jpg"]);
    EXPECT_FALSE(overwritten["/gone.jpg"]);
    EXPECT_TRUE(overwritten["/frag2.bin"]);
}

TEST_F(ExFatTest, ADeletedFolderKeepsItsTreeBelowIt) {
    const auto [volume, listing] = AnalyseAndList(image_);
    ASSERT_NE(volume, nullptr);
    for (const char* folder : {"/Trip", "/Trip/Day1"})
        EXPECT_TRUE(ExpectListed(listing, folder, ObjectFlags::Folder | ObjectFlags::Deleted));
    for (const char* file : {"/Trip/Day1/a.jpg", "/Trip/Day1/b.jpg", "/Trip/notes.txt"}) {
        EXPECT_TRUE(
            ExpectReadsBack(*volume, listing, file, originals_.at(file), ObjectFlags::Deleted));
    }
    EXPECT_TRUE(ExpectListed(listing, "/Old", ObjectFlags::Folder, ObjectFlags::Deleted));
}

TEST_F(ExFatTest, IdsAreStableAndUniquePerEntry) {
    CVolume* volume = Analyse(image_);
    ASSERT_NE(volume, nullptr);
    std::map<std::string, std::uint64_t> first;
    std::set<std::uint64_t> ids;
    for (const auto& [path, object] : Listing(*volume)) {
        first[path] = object->Id;
        EXPECT_TRUE(ids.insert(object->Id).second) << path;
        EXPECT_FALSE(object->IsSpecial()) << path;
    }
    computer_.reset();
    volume = Analyse(image_);
    ASSERT_NE(volume, nullptr);
    std::map<std::string, std::uint64_t> second;
    for (const auto& [path, object] : Listing(*volume))
        second[path] = object->Id;
    EXPECT_EQ(first, second);
}

TEST_F(ExFatTest, ABackupBootRegionStandsInForADamagedOne) {
    CVolume* original = Analyse(image_);
    ASSERT_NE(original, nullptr);
    const auto expected = DeletedMarks(*original);
    struct Row {
        const char* what;
        std::string bytes;  // written at each of `offsets`
        std::vector<std::uint64_t> offsets;
        bool listsAll;    // everything is listed as before; else nothing is
        bool backup;      // the backup region was used (when all is listed)
        const char* log;  // a line of the log holds this, unless empty
    };
    const std::string zero(1, '\0');
    for (const Row& row : {
             // A byte of an extended boot sector: only the checksum tells.
             Row{"ext", "\x5A", {3 * 512 + 17}, true, true, "backup"},
             // A field that breaks the rules: no clusters.
             Row{"count", std::string(4, '\0'), {92}, true, true, ""},
             // Both copies fail their checksums: the main fields still serve; the log says so.
             Row{"both", "\x5A", {3 * 512 + 17, 15 * 512 + 17}, true, false, "either copy"},
             // Both copies without a sector size: nothing to go on.
             Row{"none", zero, {108, 12 * 512 + 108}, false, false, "no usable boot region"},
         }) {
        SCOPED_TRACE(row.what);
        const auto image = dir_ / (std::string(row.what) + ".img");
        for (std::size_t k = 0; k < row.offsets.size(); ++k)
            Patched(k == 0 ? image_ : image, image, row.offsets[k], row.bytes);
        computer_.reset();
        CVolume* volume = Analyse(image);
        ASSERT_NE(volume, nullptr);
        const auto list = DeletedMarks(*volume);
        if (row.listsAll) {
            EXPECT_EQ(list, expected);
            ASSERT_NE(Analyser(*volume), nullptr);
            EXPECT_EQ(Analyser(*volume)->UsedBackupBoot(), row.backup);
        } else {
            EXPECT_TRUE(list.empty()) << testing::PrintToString(list);
        }
        if (*row.log != '\0') {
            EXPECT_TRUE(LogHas(row.log)) << testing::PrintToString(computer_->Log().Lines());
        }
    }
}

// A set whose checksum fails is listed while its name still belongs to its stream, and
// marked: its data is taken on trust.
TEST_F(ExFatTest, ASetWhoseChecksumFailsIsListedOnlyWhileItHoldsTogether) {
    const std::uint64_t entry =
        (OnMadeVolume("/keep.txt").Id & ~filesystems::CFileSystem_ExFAT::kEntryIdBase) * 32;
    const std::string bytes = test::ReadFile(image_);
    ASSERT_EQ(static_cast<unsigned char>(bytes[entry]), 0x85u);
    std::string checksum = bytes.substr(entry + 2, 2);
    checksum[0] = static_cast<char>(checksum[0] ^ 0x40);
    CVolume* volume = Analyse(Patched(image_, dir_ / "sum.img", entry + 2, checksum));
    ASSERT_NE(volume, nullptr);
    auto listing = Listing(*volume);
    ASSERT_TRUE(ExpectListed(listing, "/keep.txt", ObjectFlags::Overwritten, ObjectFlags::Deleted));
    filesystems::ReadDamage damage;
    EXPECT_EQ(ReadBack(*volume, *listing.at("/keep.txt"), &damage), "kept\n");
    EXPECT_TRUE(damage.endGuessed);
    // Only that set.
    EXPECT_TRUE(ExpectListed(listing, "/frag1.bin", 0, ObjectFlags::Overwritten));

    // A name unit changed as well: the name's hash no longer matches the stream's.
    computer_.reset();
    Patched(dir_ / "sum.img", dir_ / "name.img", entry + 2 * 32 + 2, "q");
    volume = Analyse(dir_ / "name.img");
    ASSERT_NE(volume, nullptr);
    listing = Listing(*volume);
    EXPECT_FALSE(listing.count("/keep.txt"));
    EXPECT_FALSE(listing.count("/qeep.txt"));
    EXPECT_TRUE(listing.count("/frag1.bin")) << "the sets after it are still read";
}

TEST_F(ExFatTest, ABadSectorInsideAFileCostsOnlyThatSector) {
    const std::uint64_t start = OnMadeVolume("/DCIM/100CANON/IMG_0001.JPG").Start;
    filesystems::ReadDamage damage;
    const std::string read = ReadListed(AnalyseWithBadSector(image_, start / 512 + 9),
                                        "/DCIM/100CANON/IMG_0001.JPG", &damage);
    std::string expected = originals_.at("/DCIM/100CANON/IMG_0001.JPG");
    expected.replace(9 * 512, 512, std::string(512, '\0'));
    EXPECT_EQ(damage.unreadableSectors, 1u);
    EXPECT_TRUE(read == expected);
}

// A quick format leaves the old directories in the heap: the sector phase finds them and
// gives the files back by name, in the folders that survive (those the old root named are
// gone with it), and only once however often a directory is met.
TEST_F(ExFatTest, AQuickFormattedCardGivesItsFilesBackByName) {
    const auto formatted = *folder_ / "formatted.img";
    std::filesystem::copy_file(image_, formatted,
                               std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(RunCommand("mkfs.exfat -c 4096 '" + formatted.string() + "' >/dev/null"));
    CVolume* volume = Analyse(formatted);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->FilesFound.load(), 0u) << "the new root is empty";
    RunSectorPhase(*volume);
    const auto listing = Listing(*volume);
    const std::pair<std::string, std::string> found[] = {
        {"/100CANON/IMG_0001.JPG", "/DCIM/100CANON/IMG_0001.JPG"},
        {"/100CANON/IMG_0002.JPG", "/DCIM/100CANON/IMG_0002.JPG"},
        {"/B/C/D/E/deep.txt", "/A/B/C/D/E/deep.txt"},
        {"/Ĺong ñame — 東京 📷.jpg", "/Ünïcødé 写真/Ĺong ñame — 東京 📷.jpg"},
    };
    for (const auto& [path, original] : found) {
        ASSERT_TRUE(listing.count(path)) << path << "\n" << testing::PrintToString(listing);
        EXPECT_TRUE(listing.at(path)->Is(ObjectFlags::Deleted)) << path;
        EXPECT_EQ(ReadListed(volume, path), originals_.at(original)) << path;
    }
    EXPECT_EQ(CountNamed(*volume, "IMG_0001.JPG"), 1u);
    EXPECT_EQ(CountNamed(*volume, "deep.txt"), 1u);
}

TEST_F(ExFatTest, AStopEndsTheWalk) {
    CVolume* volume = Load(image_);
    ASSERT_NE(volume, nullptr);
    filesystems::CFileSystem_ExFAT analyser(*volume);
    app_->AnalysisRunning = false;
    analyser.Analyse();
    EXPECT_EQ(volume->FilesFound.load() + volume->FoldersFound.load(), 0u);
}

TEST_F(ExFatTest, AnExFatPartitionOfTypeSevenIsNotNtfs) {
    if (!HaveTool("sfdisk"))
        GTEST_SKIP() << "sfdisk is not installed";
    CVolume* original = Analyse(image_);
    ASSERT_NE(original, nullptr);
    const auto expected = DeletedMarks(*original);
    computer_.reset();
    const auto disk = dir_ / "disk.img";
    ASSERT_TRUE(RunCommand("truncate -s 40M '" + disk.string() + "' && printf 'start=2048, size=" +
                           std::to_string(std::filesystem::file_size(image_) / 512) +
                           ", type=7\\n' | sfdisk -q '" + disk.string() + "' && dd if='" +
                           image_.string() + "' of='" + disk.string() +
                           "' bs=512 seek=2048 conv=notrunc"));
    CVolume* partition = Partition(Load(disk), 1);
    ASSERT_NE(partition, nullptr);
    EXPECT_EQ(partition->FileSystem->FileSystemId, filesystems::FileSystemIds::ExFat);
    EXPECT_EQ(partition->FileSystem->FileSystemName, "exFAT");
    AnalyseFileSystem(*partition);
    EXPECT_EQ(DeletedMarks(*partition), expected);
    EXPECT_TRUE(ReadListed(partition, "/frag1.bin") == originals_.at("/frag1.bin"));
}

// What Windows does: deleting frees the bitmap bits and leaves the chain in the FAT. The
// image is made so by writing the FAT of before the deletion back.
using ExFatChainTest = ExFatBase;

TEST_F(ExFatChainTest, ADeletedFileKeepsItsChainWhileNoLiveFileTookIt) {
    if (const std::string missing = MissingTools(); !missing.empty())
        GTEST_SKIP() << missing;
    const auto image = dir_ / "chain.img";
    ASSERT_TRUE(RunCommand("truncate -s 8M '" + image.string() + "' && mkfs.exfat -c 4096 '" +
                           image.string() + "'"));
    std::string first;
    std::string second;
    std::string before;
    for (const bool fill : {true, false}) {
        FuseMount mount(image, dir_ / "mnt");
        ASSERT_TRUE(mount.Error().empty()) << mount.Error();
        for (unsigned i = 0; fill && i < 6; ++i) {
            first += test::AppendFile(mount.Root() / "keep.bin", RandomBytes(6000, 300 + i));
            second += test::AppendFile(mount.Root() / "lost.bin", RandomBytes(6000, 400 + i));
        }
        if (fill) {
            mount.Unmount();
            before = test::ReadFile(image);  // the FAT before the deletion
        } else {
            std::filesystem::remove(mount.Root() / "lost.bin");
        }
    }
    const std::uint64_t fatOffset = test::LeAt(before, 80, 4) * 512;
    const std::uint64_t fatBytes = test::LeAt(before, 84, 4) * 512;
    Patched(image, dir_ / "windows.img", fatOffset, before.substr(fatOffset, fatBytes));

    CVolume* volume = Analyse(dir_ / "windows.img");
    ASSERT_NE(volume, nullptr);
    auto listing = Listing(*volume);
    // Read through its chain.
    ASSERT_TRUE(ExpectReadsBack(*volume, listing, "/lost.bin", second, ObjectFlags::Deleted,
                                ObjectFlags::Overwritten));
    const FoundObject lost = *listing.at("/lost.bin");
    EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/keep.bin", first));

    // Now a live file holds the chain's third cluster: the chain is not the file's any
    // more, and what the run from its first cluster holds is not either.
    const std::uint64_t heap = test::LeAt(before, 88, 4) * 512;
    std::uint64_t third = (lost.Start - heap) / 4096 + 2;  // 4 KiB clusters; the first for now
    for (int i = 0; i < 2; ++i)
        third = test::LeAt(before, fatOffset + third * 4, 4);
    // The allocation bitmap is the first thing of the heap (cluster 2) on these volumes.
    const std::uint64_t bit = third - 2;
    const std::string volumeBytes = test::ReadFile(dir_ / "windows.img");
    std::string byte(1, static_cast<char>(volumeBytes[heap + bit / 8] | (1 << (bit % 8))));
    Patched(dir_ / "windows.img", dir_ / "taken.img", heap + bit / 8, byte);
    computer_.reset();
    volume = Analyse(dir_ / "taken.img");
    ASSERT_NE(volume, nullptr);
    listing = Listing(*volume);
    ASSERT_TRUE(ExpectListed(listing, "/lost.bin", ObjectFlags::Overwritten));
    EXPECT_FALSE(ReadBack(*volume, *listing.at("/lost.bin")) == second);
}

// The shared third-party images.
using ExFatSharedTest = ExFatBase;

TEST_F(ExFatSharedTest, TheRawtoolsImageAgreesWithTheSleuthKit) {
    const auto image = Unpacked("exfat-rawtools/exfat.img.gz");
    if (image.empty())
        GTEST_SKIP() << "test data not found";
    if (!HaveTool("fls") || !HaveTool("icat"))
        GTEST_SKIP() << "The Sleuth Kit is not installed";
    CVolume* volume = Analyse(image);
    ASSERT_NE(volume, nullptr);
    ExpectSameAsFls(*volume, image);
    // Every file's data as icat reads it, the chained and the contiguous.
    const auto listing = Listing(*volume);
    std::size_t compared = 0;
    for (const auto& line : test::FlsLines("-r -p", image)) {
        if (line.type != "r/r" || line.name[0] == '$')
            continue;
        EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/" + line.name,
                                    CommandOutput("icat '" + image.string() + "' " + line.inode)));
        ++compared;
    }
    EXPECT_GE(compared, 9u);
}

TEST_F(ExFatSharedTest, TheDamagedRawtoolsImageListsWhatCanBeListed) {
    const auto image = Unpacked("exfat-rawtools/error.img.gz");
    if (image.empty())
        GTEST_SKIP() << "test data not found";
    const auto [volume, listing] = AnalyseAndList(image);
    ASSERT_NE(volume, nullptr);
    for (const char* path : {"/0_BITMAP/FILE1.TXT", "/0_BITMAP/FILE2.TXT", "/1_FAT/FILE6.TXT",
                             "/2_LOOP", "/3_DOUBLE/FILE3.TXT", "/3_DOUBLE/FILE4.TXT",
                             "/4_FILESIZE/FILE5.TXT", "/4_FILESIZE/FILE7.TXT"}) {
        EXPECT_TRUE(listing.count(path)) << path << testing::PrintToString(listing);
    }
    // Every file reads to its end, whatever its chain does.
    for (const auto& [path, object] : listing) {
        if (!object->Is(ObjectFlags::Folder) && object->Size < (1u << 20))
            ReadBack(*volume, *object);
    }
}

TEST_F(ExFatSharedTest, TheObhqImageHasItsLabelNamesDataAndTimes) {
    const auto image = Unpacked("obhq-exfat/exfat.img.gz");
    if (image.empty())
        GTEST_SKIP() << "test data not found";
    CVolume* volume = Analyse(image);
    ASSERT_NE(volume, nullptr);
    auto* analyser = Analyser(*volume);
    ASSERT_NE(analyser, nullptr);
    EXPECT_EQ(analyser->VolumeLabel(), "Test image");
    const auto listing = Listing(*volume);
    ASSERT_TRUE(ExpectReadsBack(*volume, listing, "/file1", "Test file 1.\n"));
    ASSERT_TRUE(ExpectListed(listing, "/dir1/file2"));
    EXPECT_EQ(listing.at("/file1")->Size, 13u);
    // fls -l: file1 modified 2023-03-06 13:03:06 UTC (.01 more in its 10 ms field); dir1
    // created 13:02:33 (13:02:32 and 121 hundredths).
    EXPECT_EQ(listing.at("/file1")->Modified, 133225813860100000ull);
    EXPECT_EQ(listing.at("/dir1")->Created, 133225813532100000ull);
    EXPECT_TRUE(ErrorLines().empty()) << testing::PrintToString(ErrorLines());
}

}  // namespace
}  // namespace duzez::devices
