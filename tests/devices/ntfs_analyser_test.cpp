// The NTFS analyser on volumes made by mkntfs and filled through ntfs-3g, and on the
// shared NTFS images, compared with The Sleuth Kit; file data read back through the runs.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "filesystems/found_object_stream.h"
#include "filesystems/ntfs/file_system_ntfs.h"
#include "tests/devices/analyser_test_support.h"

namespace duzez::devices {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;
using test::CommandOutput;
using test::HaveTool;
using test::Le;
using test::RandomBytes;
using test::RunCommand;

// One record as The Sleuth Kit's fls -r -p lists it.
struct FlsEntry {
    std::string path;
    bool deleted = false;
};

// fls's entries by record number. Named streams (name:stream) are the record's own name,
// and the nameless reserved records it shows as orphans are left out.
std::multimap<std::uint64_t, FlsEntry> Fls(const std::filesystem::path& image,
                                           std::uint64_t sectorOffset = 0) {
    std::multimap<std::uint64_t, FlsEntry> entries;
    std::set<std::pair<std::uint64_t, std::string>> seen;
    for (const auto& line :
         test::FlsLines("-f ntfs -r -p -o " + std::to_string(sectorOffset), image)) {
        std::string path = "/" + line.name;
        const std::size_t colon = path.find(':', path.rfind('/'));
        if (colon != std::string::npos)
            path.erase(colon);
        const std::uint64_t record = std::stoull(line.inode);
        if (line.type != "V/V" && path.rfind("/$OrphanFiles/OrphanFile-", 0) != 0 &&
            seen.insert({record, path}).second)
            entries.insert({record, {path, line.deleted}});
    }
    return entries;
}

class NtfsTest : public test::AnalyserTest {
  protected:
    // A new volume of `megabytes` made by mkntfs with `options`, mounted through ntfs-3g
    // with `mountOptions`; why not, when either cannot be done here.
    static std::string MountNew(const std::filesystem::path& image,
                                const std::filesystem::path& mount, const std::string& options,
                                int megabytes, const std::string& mountOptions = "") {
        std::filesystem::create_directories(mount);
        if (!RunCommand("truncate -s " + std::to_string(megabytes) + "M '" + image.string() +
                        "' && mkntfs -q -F -f " + options + " '" + image.string() + "'"))
            return "mkntfs failed";
        const std::string mounted =
            CommandOutput("ntfs-3g " + mountOptions + " '" + image.string() + "' '" +
                          mount.string() + "' 2>&1 && echo MOUNTED");
        if (mounted.find("MOUNTED") == std::string::npos)
            return "FUSE is not available here, so the NTFS volume cannot be filled: " + mounted;
        return {};
    }
    static void Unmount(const std::filesystem::path& mount) {
        RunCommand("umount '" + mount.string() + "'");
    }
    // The volume every test reads, made once: mkntfs with 4 KiB clusters, then filled
    // through ntfs-3g.
    static void SetUpTestSuite() {
        if (!HaveTool("mkntfs") || !HaveTool("ntfs-3g")) {
            skip_ = "mkntfs or ntfs-3g is not installed";
            return;
        }
        folder_ = new test::TempFolder;
        image_ = *folder_ / "ntfs.img";
        const auto mount = *folder_ / "mnt";
        skip_ = MountNew(image_, mount, "-c 4096", 64, "-o compression");
        if (!skip_.empty())
            return;
        const auto put = [&](const std::string& path, const std::string& bytes) {
            originals_[path] = bytes;
            test::WriteFile(mount / path.substr(1), bytes);
        };
        // Packed: a folder whose new files NTFS compresses (LZNT1).
        for (const char* folder : {"Photos/2024", "Ünïcødé folder", "Old/Deeper", "Packed"})
            std::filesystem::create_directories(mount / folder);
        RunCommand("setfattr -n system.ntfs_attrib_be -v 0x00000800 '" +
                   (mount / "Packed").string() + "'");
        std::string text;
        for (int i = 0; i < 4000; ++i)
            text += "line " + std::to_string(i) + " of a text that compresses well\n";
        put("/Packed/text.txt", text);
        put("/Packed/mixed.bin", RandomBytes(30000, 7) + text);
        put("/Photos/tiny.txt", "hello\n");
        put("/Photos/2024/big.jpg", RandomBytes(300000, 1));
        put("/Photos/2024/gone.jpg", RandomBytes(20000, 2));
        put("/Ünïcødé folder/Ĺong ñame — 写真.txt", RandomBytes(9000, 3));
        put("/Long File Name.txt", "short and resident");
        put("/Old/a.bin", RandomBytes(12000, 4));
        put("/Old/Deeper/b.bin", RandomBytes(5000, 5));
        put("/late.txt", RandomBytes(7000, 6));
        // Fragmented: each piece is appended after a filler took the clusters behind it.
        std::string fragmented;
        for (int i = 0; i < 6; ++i) {
            const std::string piece = RandomBytes(65536, 10 + i);
            fragmented += piece;
            test::AppendFile(mount / "frag.bin", piece);
            test::WriteFile(mount / ("filler" + std::to_string(i)), RandomBytes(65536, 20 + i));
        }
        originals_["/frag.bin"] = fragmented;
        // Sparse: 4 MiB of which only a few bytes in the middle are written.
        RunCommand("truncate -s 4M '" + (mount / "sparse.bin").string() + "'");
        RunCommand("printf middle | dd of='" + (mount / "sparse.bin").string() +
                   "' bs=1 seek=2097152 conv=notrunc");
        std::string sparse(4 << 20, '\0');
        sparse.replace(2097152, 6, "middle");
        originals_["/sparse.bin"] = sparse;
        RunCommand("setfattr -n system.ntfs_dos_name -v LONGFI~1.TXT '" +
                   (mount / "Long File Name.txt").string() + "'");
        // late.txt's record comes before the one of the folder it is then moved into.
        std::filesystem::create_directories(mount / "Later");
        std::filesystem::rename(mount / "late.txt", mount / "Later" / "late.txt");
        originals_["/Later/late.txt"] = originals_["/late.txt"];
        originals_.erase("/late.txt");
        for (int i = 0; i < 6; ++i)
            std::filesystem::remove(mount / ("filler" + std::to_string(i)));
        std::filesystem::remove(mount / "Photos" / "2024" / "gone.jpg");
        std::filesystem::remove_all(mount / "Old");
        Unmount(mount);
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (!skip_.empty())
            GTEST_SKIP() << skip_;
    }

    using AnalyserTest::Analyse;
    // Partition `partition` (from 1, in disk order) of a partitioned image, analysed.
    CVolume* Analyse(const std::filesystem::path& image, int partition) {
        CVolume* volume = Partition(Load(image), static_cast<std::size_t>(partition));
        if (volume != nullptr) {
            volume->Analyse_Boot();
            AnalyseFileSystem(*volume);
        }
        return volume;
    }
    // The record number of `path` on the made volume; the computer is left for a new one.
    std::uint64_t RecordOf(const std::string& path) {
        const std::uint64_t record = Listing(*Analyse(image_)).at(path)->Id;
        computer_.reset();
        return record;
    }

    // Every record fls names is listed here with the same number, path and deleted mark,
    // and nothing else is; a file fls can only place among its orphans is matched by name.
    void ExpectSameAsFls(CVolume& volume, const std::filesystem::path& image,
                         std::uint64_t sectorOffset = 0) {
        const auto fls = Fls(image, sectorOffset);
        ASSERT_FALSE(fls.empty()) << "fls listed nothing";
        std::map<std::uint64_t, std::pair<std::string, bool>> ours;
        for (const auto& [path, object] : Listing(volume)) {
            if (!object->IsSpecial() && !object->Is(ObjectFlags::LostFolder))
                ours[object->Id] = {path, object->Is(ObjectFlags::Deleted)};
        }
        std::set<std::uint64_t> matched;
        for (const auto& [record, entry] : fls) {
            SCOPED_TRACE(entry.path);
            const auto it = ours.find(record);
            ASSERT_NE(it, ours.end()) << "record " << record << " is missing";
            if (entry.path.rfind("/$OrphanFiles/", 0) == 0) {
                const std::string name = entry.path.substr(entry.path.rfind('/') + 1);
                EXPECT_EQ(it->second.first.substr(it->second.first.rfind('/') + 1), name);
            } else {
                EXPECT_EQ(it->second.first, entry.path);
            }
            EXPECT_EQ(it->second.second, entry.deleted) << "record " << record;
            matched.insert(record);
        }
        for (const auto& [record, entry] : ours)
            EXPECT_TRUE(matched.count(record)) << entry.first << " (" << record << ") not in fls";
    }

    static inline std::string skip_;
    static inline test::TempFolder* folder_ = nullptr;
    static inline std::filesystem::path image_;
    static inline std::map<std::string, std::string> originals_;
};

TEST_F(NtfsTest, NamesFoldersDeletedEntriesAndLateParents) {
    const auto [volume, listing] = AnalyseAndList(image_);
    ASSERT_NE(volume, nullptr);
    for (const char* path : {"/Photos/2024/big.jpg", "/Ünïcødé folder/Ĺong ñame — 写真.txt",
                             "/Long File Name.txt", "/Later/late.txt", "/$MFT", "/$Bitmap"}) {
        ASSERT_TRUE(ExpectListed(listing, path, 0, ObjectFlags::Deleted));
    }
    EXPECT_FALSE(listing.count("/LONGFI~1.TXT")) << "the Win32 name is the one listed";
    for (const char* path : {"/Photos/2024/gone.jpg", "/Old/a.bin", "/Old/Deeper/b.bin"})
        ASSERT_TRUE(ExpectListed(listing, path, ObjectFlags::Deleted));
    ASSERT_TRUE(ExpectListed(listing, "/Old", ObjectFlags::Deleted | ObjectFlags::Folder));
    EXPECT_LT(listing.at("/Later/late.txt")->Id, listing.at("/Later")->Id)
        << "the file's record comes first, its folder's later";
    EXPECT_EQ(listing.at("/Photos/2024/gone.jpg")->Size, 20000u);
    EXPECT_NE(listing.at("/Photos/2024/gone.jpg")->Modified, 0u);
    EXPECT_FALSE(listing.count("/.")) << "the root record is the root folder";
}

TEST_F(NtfsTest, FilesReadBackByteExactThroughTheirRuns) {
    const auto [volume, listing] = AnalyseAndList(image_);
    ASSERT_NE(volume, nullptr);
    for (const auto& [path, bytes] : originals_) {
        SCOPED_TRACE(path);
        const bool gone = path.rfind("/Old", 0) == 0 || path == "/Photos/2024/gone.jpg";
        ASSERT_TRUE(ExpectListed(listing, path));
        const FoundObject& object = *listing.at(path);
        EXPECT_EQ(object.Size, bytes.size());
        const std::string read = ReadBack(*volume, object);
        if (!gone || path == "/Photos/2024/gone.jpg") {
            // Deleted files too, while nothing took their clusters (gone.jpg is freed last).
            EXPECT_TRUE(read == bytes) << "differs from the original";
        }
        if (!gone && HaveTool("icat")) {
            const std::string icat =
                CommandOutput("icat '" + image_.string() + "' " + std::to_string(object.Id));
            EXPECT_TRUE(read == icat) << "differs from icat";
        }
    }
    // The fragmented file really is: read as one extent it would differ.
    const FoundObject& fragmented = *listing.at("/frag.bin");
    volume->FileSystem.reset(new filesystems::CFileSystem);
    EXPECT_FALSE(ReadBack(*volume, fragmented) == originals_.at("/frag.bin"));
}

TEST_F(NtfsTest, SmallClustersGetEveryFixup) {
    if (!HaveTool("fls"))
        GTEST_SKIP() << "The Sleuth Kit is not installed";
    // 512-byte clusters: each 1024-byte record spans two clusters and two fix-ups.
    const auto image = dir_ / "small.img";
    const auto mount = dir_ / "small";
    ASSERT_EQ(MountNew(image, mount, "-c 512", 16), "");
    for (int i = 0; i < 40; ++i)
        test::WriteFile(mount / ("file number " + std::to_string(i) + ".dat"),
                        RandomBytes(700 + 100 * i, 30 + i));
    Unmount(mount);
    CVolume* volume = Analyse(image);
    ASSERT_NE(volume, nullptr);
    ExpectSameAsFls(*volume, image);
    EXPECT_TRUE(ReadListed(volume, "/file number 39.dat") == RandomBytes(4600, 69));
}

// A deleted file whose clusters a later file took is marked overwritten; one whose
// clusters are still free is not.
TEST_F(NtfsTest, ADeletedFileWhoseClustersAreInUseAgainIsOverwritten) {
    const auto image = dir_ / "reused.img";
    const auto mount = dir_ / "reused";
    if (const std::string why = MountNew(image, mount, "-s 512", 16); !why.empty())
        GTEST_SKIP() << why;
    const std::vector<std::string> names = {"first.jpg", "second.jpg", "third.jpg"};
    for (unsigned i = 0; i < names.size(); ++i)
        test::WriteFile(mount / names[i], RandomBytes(100000, 40 + i));
    RunCommand("sync");
    for (const std::string& name : names)
        std::filesystem::remove(mount / name);
    Unmount(mount);
    ASSERT_TRUE(RunCommand("ntfs-3g '" + image.string() + "' '" + mount.string() + "'"));
    // Takes the first free record (first.jpg's) and the first free clusters: first.jpg's
    // and half of second.jpg's.
    test::WriteFile(mount / "new.jpg", RandomBytes(150000, 43));
    Unmount(mount);
    const auto [volume, listing] = AnalyseAndList(image);
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(
        ExpectListed(listing, "/second.jpg", ObjectFlags::Deleted | ObjectFlags::Overwritten));
    EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/third.jpg", RandomBytes(100000, 42), 0,
                                ObjectFlags::Overwritten));
    EXPECT_TRUE(ExpectListed(listing, "/new.jpg", 0, ObjectFlags::Overwritten));
}

// 4096-byte sectors: the update sequence still protects every 512 bytes of a record, so a
// small file kept in its record comes back with its own bytes 510-511 and 1022-1023.
TEST_F(NtfsTest, RecordsOfAVolumeWith4096ByteSectorsReadBackWhole) {
    const auto image = dir_ / "big-sectors.img";
    const auto mount = dir_ / "big-sectors";
    if (const std::string why = MountNew(image, mount, "-s 4096", 32); !why.empty())
        GTEST_SKIP() << why;
    test::WriteFile(mount / "small.txt", RandomBytes(700, 50));
    test::WriteFile(mount / "larger.bin", RandomBytes(30000, 51));
    Unmount(mount);
    const auto [volume, listing] = AnalyseAndList(image);
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/small.txt", RandomBytes(700, 50)));
    EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/larger.bin", RandomBytes(30000, 51)));
}

// Bytes of a copy of the made volume, patched before it is analysed.
class PatchedImage {
  public:
    PatchedImage(const std::filesystem::path& from, const std::filesystem::path& to)
        : path_(to), bytes_(test::ReadFile(from)) {}
    std::uint64_t MftOffset() const { return Read(0x30, 8) * Read(0x0D, 1) * 512; }
    std::uint64_t MirrorOffset() const { return Read(0x38, 8) * Read(0x0D, 1) * 512; }
    std::uint64_t Record(std::uint64_t n) const { return MftOffset() + n * 1024; }
    std::uint64_t Read(std::uint64_t at, int width) const { return test::LeAt(bytes_, at, width); }
    void Write(std::uint64_t at, std::uint64_t value, int width) {
        bytes_.replace(at, static_cast<std::size_t>(width), test::Le(value, width));
    }
    // The offset of the first attribute of `type` in record n (fix-ups leave these alone).
    std::uint64_t Attribute(std::uint64_t n, std::uint32_t type) const {
        std::uint64_t at = Record(n) + Read(Record(n) + 0x14, 2);
        while (Read(at, 4) != type && Read(at, 4) != 0xFFFFFFFF)
            at += Read(at + 4, 4);
        return at;
    }
    std::filesystem::path Save() {
        test::WriteFile(path_, bytes_);
        return path_;
    }
    std::string& Bytes() { return bytes_; }

  private:
    std::filesystem::path path_;
    std::string bytes_;
};

TEST_F(NtfsTest, ForgedSizesAndLengthsGiveAPartialListing) {
    PatchedImage image(image_, dir_ / "forged.img");
    const std::uint64_t big = RecordOf("/Photos/2024/big.jpg");
    // The MFT claims 2^60 bytes; a record's attribute claims to run far past the record.
    image.Write(image.Attribute(0, 0x80) + 0x30, 1ull << 60, 8);
    image.Write(image.Attribute(big, 0x30) + 4, 0x7FFFFFF0, 4);
    const auto [volume, listing] = AnalyseAndList(image.Save());
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(listing.count("/Photos/tiny.txt")) << "the other records are listed";
    for (const auto& [path, object] : listing)
        EXPECT_NE(object->Id, big) << path << ": the forged record has no name to list";
}

TEST_F(NtfsTest, RecordZeroComesFromTheMirrorAndWithoutEitherNothingIsListed) {
    PatchedImage image(image_, dir_ / "mirror.img");
    image.Write(image.Record(0), 0, 4);
    CVolume* volume = Analyse(image.Save());
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(ExpectListed(Listing(*volume), "/Photos/2024/big.jpg"));
    // The mirror's copy damaged as well.
    computer_.reset();
    image.Write(image.MirrorOffset(), 0, 4);
    volume = Analyse(image.Save());
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(Listing(*volume).size() <= 2) << "only the boot area and the volume itself";
    EXPECT_TRUE(LogHasLine("ERR: CFileSystem_NTFS: Load MFT failed."));
}

TEST_F(NtfsTest, TheSectorPhaseListsRecordsOutsideTheMftOnly) {
    PatchedImage image(image_, dir_ / "stray.img");
    const std::uint64_t tiny = RecordOf("/Photos/tiny.txt");
    // A copy of tiny.txt's record far from the MFT, as an old MFT would leave one.
    const std::uint64_t stray = 40ull << 20;
    image.Bytes().replace(stray, 1024, image.Bytes().substr(image.Record(tiny), 1024));
    image.Write(stray + 0x2C, 900, 4);
    CVolume* volume = Analyse(image.Save());
    ASSERT_NE(volume, nullptr);
    const std::size_t listed = volume->FoundObjectTree->ListedObjects().size();
    ParseHits(*volume, {image.Record(0)});
    EXPECT_EQ(volume->FoundObjectTree->ListedObjects().size(), listed)
        << "the MFT's records are listed once";
    ParseHits(*volume, {image.MirrorOffset()});
    EXPECT_EQ(volume->FoundObjectTree->ListedObjects().size(), listed)
        << "nor are the mirror's copies of the first records";
    // Every record sector is a hit; a hit reads ten records, so hits overlap.
    ParseHits(*volume, {stray - 1024, stray, stray + 1024});
    EXPECT_EQ(CountNamed(*volume, "tiny.txt"), 2u) << "the stray record is listed too, once";
}

TEST_F(NtfsTest, HighRecordNumbersAreNotTheLostFolders) {
    PatchedImage image(image_, dir_ / "high.img");
    const std::uint64_t tiny = RecordOf("/Photos/tiny.txt");
    CVolume* volume = Analyse(image_);
    ASSERT_NE(volume, nullptr);
    // A record found outside the MFT whose number reads as -18 when sign-extended.
    std::string record = image.Bytes().substr(image.Record(tiny), 1024);
    record.replace(0x2C, 4, std::string("\xEE\xFF\xFF\xFF", 4));
    auto* ntfs = dynamic_cast<filesystems::CFileSystem_NTFS*>(volume->FileSystem.get());
    ASSERT_NE(ntfs, nullptr);
    ntfs->ParseRecordBuffer(std::span(reinterpret_cast<const std::uint8_t*>(record.data()), 1024));
    const FoundObject* stray = nullptr;
    for (const FoundObject* object : volume->FoundObjectTree->ListedObjects()) {
        if (object->Id == 0xFFFFFFEEu)
            stray = object;
    }
    ASSERT_NE(stray, nullptr);
    EXPECT_FALSE(stray->IsSpecial());
    EXPECT_EQ(stray->GetName(), "tiny.txt");
}

TEST_F(NtfsTest, EncryptedDataIsAFailedReadNotCiphertext) {
    PatchedImage image(image_, dir_ / "encrypted.img");
    const std::uint64_t big = RecordOf("/Photos/2024/big.jpg");
    image.Write(image.Attribute(big, 0x80) + 0x0C, 0x4000, 2);
    CVolume* volume = Analyse(image.Save());
    ASSERT_NE(volume, nullptr);
    const FoundObject& object = *Listing(*volume).at("/Photos/2024/big.jpg");
    filesystems::FoundObjectStream stream(*volume, &object);
    std::vector<std::uint8_t> buffer(4096);
    EXPECT_EQ(stream.Read(buffer), 0u);
}

TEST_F(NtfsTest, AStopEndsTheRecordLoop) {
    CVolume* volume = Load(image_);
    ASSERT_NE(volume, nullptr);
    app_->AnalysisRunning = false;  // stopped before the first record is done
    computer_->AnalyseFileSystem(*volume);
    EXPECT_LE(Listing(*volume).size(), 3u);
}

// Record n as it would be in memory (fix-ups undone), and back as it lies on disk.
std::string Unprotected(const std::string& raw) {
    std::string record = raw;
    const std::size_t usa = static_cast<std::uint8_t>(record[4]) | (record[5] << 8);
    for (std::size_t i = 1; i < 3; ++i)
        record.replace(i * 512 - 2, 2, raw.substr(usa + 2 * i, 2));
    return record;
}
std::string Protected(const std::string& record) {
    std::string raw = record;
    const std::size_t usa = static_cast<std::uint8_t>(record[4]) | (record[5] << 8);
    for (std::size_t i = 1; i < 3; ++i) {
        raw.replace(usa + 2 * i, 2, record.substr(i * 512 - 2, 2));
        raw.replace(i * 512 - 2, 2, record.substr(usa, 2));
    }
    return raw;
}
// One run: `length` clusters `offset` clusters on from the previous run.
std::string EncodedRun(std::uint64_t length, std::uint64_t offset) {
    return std::string(1, static_cast<char>(0x44)) + Le(length, 4) + Le(offset, 4);
}
// A non-resident attribute with its run list replaced by `runs`, its length fitted.
std::string WithRuns(std::string attribute, const std::string& runs) {
    std::string list = runs + std::string(1, '\0');
    list.resize((list.size() + 7) / 8 * 8, '\0');
    attribute = attribute.substr(0, 0x40) + list;
    attribute.replace(4, 4, Le(attribute.size(), 4));
    return attribute;
}

TEST_F(NtfsTest, AFragmentedMftIsReadThroughItsAttributeList) {
    PatchedImage image(image_, dir_ / "split.img");
    std::set<std::string> whole;
    for (const auto& [path, object] : Listing(*Analyse(image_)))
        whole.insert(path);
    computer_.reset();
    // Record 0's $DATA keeps its first 6 clusters (records 0 to 23); the rest moves to a
    // part in record 20, which an attribute list in record 0 names.
    std::string mft = Unprotected(image.Bytes().substr(image.Record(0), 1024));
    const std::size_t first = static_cast<std::uint8_t>(mft[0x14]);
    std::vector<std::string> attributes;
    for (std::size_t at = first; Le(0xFFFFFFFF, 4) != mft.substr(at, 4);) {
        const std::size_t length = image.Read(image.Record(0) + at + 4, 4);
        attributes.push_back(mft.substr(at, length));
        at += length;
    }
    std::string& data = *std::find_if(attributes.begin(), attributes.end(),
                                      [](const std::string& a) { return a[0] == '\x80'; });
    const auto runs = filesystems::ntfs::DecodeRuns(
        std::span(reinterpret_cast<const std::uint8_t*>(data.data()) + 0x40, data.size() - 0x40),
        0);
    ASSERT_EQ(runs.size(), 1u);
    const std::uint64_t lcn = runs[0].lcn;
    const std::uint64_t clusters = runs[0].length;
    ASSERT_GT(clusters, 7u) << "the MFT is too small to split";
    std::string part = data;  // before the list goes in and moves the attributes
    data = WithRuns(data, EncodedRun(6, lcn));
    data.replace(0x18, 8, Le(5, 8));
    std::string list;
    for (const auto& [vcn, record] : {std::pair{0ull, 0ull}, std::pair{6ull, 20ull}}) {
        list += Le(0x80, 4) + Le(0x20, 2) + std::string(1, '\0') + std::string(1, '\x1A') +
                Le(vcn, 8) + Le(record | (1ull << 48), 8) + Le(0, 8);
    }
    std::string listAttribute = Le(0x20, 4) + Le(0x18 + list.size(), 4) + std::string(8, '\0') +
                                Le(list.size(), 4) + Le(0x18, 2) + std::string(2, '\0') + list;
    attributes.insert(attributes.begin() + 1, listAttribute);
    std::string body;
    for (const auto& a : attributes)
        body += a;
    body += Le(0xFFFFFFFF, 4) + Le(0, 4);
    mft.replace(first, body.size(), body);
    mft.replace(0x18, 4, Le(first + body.size(), 4));
    image.Bytes().replace(image.Record(0), 1024, Protected(mft));

    std::string extension = mft.substr(0, first);
    extension.resize(1024, '\0');
    extension.replace(0x16, 2, Le(1, 2));
    extension.replace(0x20, 8, Le(0, 8));
    extension.replace(0x2C, 4, Le(20, 4));
    part.replace(0x10, 16, Le(6, 8) + Le(clusters - 1, 8));
    part = WithRuns(part, EncodedRun(clusters - 6, lcn + 6));
    extension.replace(first, part.size() + 8, part + Le(0xFFFFFFFF, 4) + Le(0, 4));
    image.Bytes().replace(image.Record(20), 1024, Protected(extension));

    CVolume* volume = Analyse(image.Save());
    ASSERT_NE(volume, nullptr);
    const auto split = Listing(*volume);
    for (const auto& path : whole)
        EXPECT_TRUE(split.count(path)) << path << " is missing";
    auto* ntfs = dynamic_cast<filesystems::CFileSystem_NTFS*>(volume->FileSystem.get());
    ASSERT_NE(ntfs, nullptr);
    ASSERT_EQ(ntfs->Mft().runs.size(), 2u);
    EXPECT_EQ(ntfs->Mft().runs[1].firstVcn, 6u) << "the part goes on from the VCN it names";
}

// The made volume, and the NTFS volumes of the shared test data on their own and inside
// partitioned disks.
TEST_F(NtfsTest, ListsWhatTheSleuthKitListsOnTheMadeAndTheSharedImages) {
    if (!HaveTool("fls"))
        GTEST_SKIP() << "The Sleuth Kit is not installed";
    struct Case {
        const char* file;
        int partition;
        std::uint64_t sector;
    };
    for (const Case& c :
         {Case{"", 0, 0}, Case{"ntfs-rs/testfs1.gz", 0, 0},
          Case{"sleuthkit_test_data/7-undel-ntfs/7-ntfs-undel.dd.gz", 0, 0},
          Case{"sleuthkit_test_data/8-jpeg-search/8-jpeg-search.dd.gz", 0, 0},
          Case{"sleuthkit_test_data/10-ntfs-autodetect/10-ntfs-disk.dd.gz", 1, 63},
          Case{"sleuthkit_test_data/imageformat_mmls_1/imageformat_mmls_1.raw.gz", 2, 55424}}) {
        SCOPED_TRACE(c.file);
        const auto image = *c.file == '\0' ? image_ : Unpacked(c.file);
        if (image.empty())
            GTEST_SKIP() << "test data not found";
        computer_.reset();
        CVolume* volume = c.partition == 0 ? Analyse(image) : Analyse(image, c.partition);
        ASSERT_NE(volume, nullptr);
        ExpectSameAsFls(*volume, image, c.sector);
        if (c.partition == 0 && std::string(c.file).find("testfs1") != std::string::npos) {
            // Written at 0 and at 500000, a hole between.
            const auto listing = Listing(*volume);
            ASSERT_TRUE(ExpectListed(listing, "/sparse-file"));
            const std::string sparse = ReadBack(*volume, *listing.at("/sparse-file"));
            ASSERT_GE(sparse.size(), 500005u);
            EXPECT_EQ(sparse.substr(0, 5), "12345");
            EXPECT_EQ(sparse.substr(500000, 5), "11111");
            EXPECT_EQ(sparse.substr(5, 499995), std::string(499995, '\0'));
            EXPECT_TRUE(ExpectReadsBack(*volume, listing, "/file-with-12345", "12345"));
        }
    }
}

}  // namespace
}  // namespace duzez::devices
