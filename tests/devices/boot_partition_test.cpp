#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>

#include "devices/partition_table.h"
#include "filesystems/boot_record.h"
#include "tests/devices/analyser_test_support.h"

namespace duzez::devices {
namespace {

using test::HaveTool;
using test::RunCommand;

TEST(BootRecord, TypeTextsDecideWithFat12First) {
    std::vector<std::uint8_t> boot(512);
    std::memcpy(boot.data() + 82, "FAT32   ", 8);
    EXPECT_EQ(filesystems::DetectFileSystem(boot), 11u);
    std::memcpy(boot.data() + 54, "FAT16   ", 8);
    EXPECT_EQ(filesystems::DetectFileSystem(boot), 4u) << "FAT16 at 54 wins over FAT32 at 82";
    std::memcpy(boot.data() + 3, "NTFS    ", 8);
    EXPECT_EQ(filesystems::DetectFileSystem(boot), 4u);
    std::memcpy(boot.data() + 54, "FAT12   ", 8);
    EXPECT_EQ(filesystems::DetectFileSystem(boot), 1u);
    EXPECT_EQ(filesystems::DetectFileSystem(std::vector<std::uint8_t>(40)), 0u);
    EXPECT_FALSE(filesystems::ReadBootFields(std::vector<std::uint8_t>(511), 1));
}

// Images loaded from the local disk (Load), as the analyser tests load them.
class BootTest : public test::AnalyserTest {
  protected:
    std::vector<CVolume*> FoundOn(const CVolume& parent) {
        std::vector<CVolume*> found;
        for (const auto& v : computer_->Volumes().Snapshot()) {
            if (v->VolumeType == VolumeKind::Found && v->GetParentVolume() == &parent)
                found.push_back(v.get());
        }
        return found;
    }
};

TEST_F(BootTest, FatBootSectorsGiveLabelSerialAndSize) {
    if (!HaveTool("mkfs.fat"))
        GTEST_SKIP() << "mkfs.fat is not installed";
    const auto fat16 = dir_ / "card16.img";
    ASSERT_TRUE(
        RunCommand("mkfs.fat -C -F 16 -n HOLIDAY -i 1234ABCD -s 4 '" + fat16.string() + "' 20000"));
    CVolume* volume = Load(fat16);
    EXPECT_EQ(volume->FileSystem->FileSystemId, 4u);
    EXPECT_EQ(volume->FileSystem->FileSystemName, "FAT16");
    EXPECT_EQ(volume->VolumeLabel, "HOLIDAY");
    EXPECT_EQ(volume->SerialNumber, 0x1234ABCDu);
    EXPECT_EQ(volume->SectorsPerCluster, 4u);
    EXPECT_EQ(volume->ClusterSize, 2048u);
    EXPECT_EQ(volume->TotalSectors, 40000u);
    EXPECT_EQ(volume->TotalSize, 20000u * 1024);
    EXPECT_TRUE(FoundOn(*volume).empty()) << "a boot sector is not a partition table";

    const auto fat32 = dir_ / "card32.img";
    ASSERT_TRUE(
        RunCommand("mkfs.fat -C -F 32 -n PHOTOS -i 0BADCAFE '" + fat32.string() + "' 66000"));
    CVolume* card = Load(fat32);
    EXPECT_EQ(card->FileSystem->FileSystemId, 11u);
    EXPECT_EQ(card->VolumeLabel, "PHOTOS");
    EXPECT_EQ(card->SerialNumber, 0x0BADCAFEu);
}

TEST_F(BootTest, NtfsSerialNeedsANonZeroHighHalf) {
    if (!HaveTool("mkntfs"))
        GTEST_SKIP() << "mkntfs is not installed";
    const auto ntfs = dir_ / "ntfs.img";
    test::MakeSparseFile(ntfs, 16 << 20);
    ASSERT_TRUE(RunCommand("mkntfs -F -Q -q -L DATA '" + ntfs.string() + "'"));
    const std::uint64_t serial = test::LeAt(test::ReadFile(ntfs), 72, 8);
    CVolume* volume = Load(ntfs);
    EXPECT_EQ(volume->FileSystem->FileSystemId, 7u);
    EXPECT_EQ(volume->FileSystem->FileSystemName, "NTFS");
    if ((serial >> 32) != 0) {
        EXPECT_EQ(volume->SerialNumber, serial);
    }

    // The same boot sector with a zero high half leaves the serial number alone.
    EXPECT_EQ(Load(test::Patched(ntfs, dir_ / "zero.img", 76, std::string(4, '\0')))->SerialNumber,
              0u);
}

TEST_F(BootTest, WholeDiskImageListsItsPartitionsOnceWhateverHappens) {
    const auto disk = Unpacked("sleuthkit_test_data/1-extend-part/ext-part-test-2.dd.gz");
    if (disk.empty())
        GTEST_SKIP() << "test data not found: ext-part-test-2.dd.gz";
    CVolume* image = Load(disk);
    auto found = FoundOn(*image);
    std::vector<std::uint64_t> starts;
    for (CVolume* v : found)
        starts.push_back(v->StartOffset / 512);
    // Three primaries, then the extended chain: two in the first table (one of them past
    // a link), one in the second.
    EXPECT_EQ(starts, (std::vector<std::uint64_t>{63, 52416, 104832, 157311, 209727, 262143}));
    for (std::size_t i = 0; i < found.size(); ++i) {
        CVolume* v = found[i];
        EXPECT_EQ(v->FileSystem->FileSystemName, "FAT16");
        // Sized by its entry: it ends before the next one starts, not at the disk's end.
        const std::uint64_t next =
            i + 1 < found.size() ? found[i + 1]->StartOffset : image->TotalSize;
        EXPECT_GT(v->TotalSize, 0u);
        EXPECT_LE(v->StartOffset + v->TotalSize, next) << i;
        EXPECT_EQ(v->GetDisplayName(), "Volume at: " + std::to_string(v->StartOffset));
    }
    image->Analyse_Boot();
    image->Analyse_Boot();
    EXPECT_EQ(FoundOn(*image).size(), 6u) << "the same partition is never listed twice";
    ASSERT_FALSE(found.empty());
    EXPECT_TRUE(found[0]->VolumeFlags & VolumeFlags::FoundAgain);
}

TEST_F(BootTest, TablesMadeBySfdiskIncludingAPartitionBeyond4GiB) {
    if (!HaveTool("sfdisk"))
        GTEST_SKIP() << "sfdisk is not installed";
    const auto disk = dir_ / "disk.img";
    test::MakeSparseFile(disk, 6ull << 30);
    ASSERT_TRUE(
        RunCommand("printf 'label: dos\\nstart=2048, size=20480, type=c\\n"
                   "start=22528, size=20480, type=7\\nstart=43008, type=5\\n"
                   "start=45056, size=8192, type=83\\nstart=55296, size=8192, type=6\\n"
                   "start=9437184, size=8192, type=b\\n' | sfdisk -q '" +
                   disk.string() + "'"));
    CVolume* image = Load(disk);
    // Start, name and size of each. The names come from the boot sectors; the empty Linux
    // partition holds none. Logical partitions start where their table says, counted from
    // their own table; each is as large as its entry says, not the rest of the disk.
    using Found = std::tuple<std::uint64_t, std::string, std::uint64_t>;
    std::vector<Found> found;
    for (CVolume* v : FoundOn(*image))
        found.emplace_back(v->StartOffset, v->FileSystem->FileSystemName, v->TotalSize);
    constexpr std::uint64_t S = 512;
    const std::vector<Found> expected = {{2048 * S, "FAT32", 20480 * S},
                                         {22528 * S, "NTFS", 20480 * S},
                                         {45056 * S, "Unknown", 8192 * S},
                                         {55296 * S, "FAT16", 8192 * S},
                                         {9437184 * S, "FAT32", 8192 * S}};
    EXPECT_EQ(found, expected);
    EXPECT_GT(std::get<0>(expected.back()), 4ull << 30);
}

// A FAT partition of 4096-byte sectors counts its size in them: it is not an eighth of
// what its table gives.
TEST_F(BootTest, APartitionOf4096ByteSectorsHasItsWholeSize) {
    if (!HaveTool("sfdisk") || !HaveTool("mkfs.fat"))
        GTEST_SKIP() << "fdisk or dosfstools missing";
    const auto disk = dir_ / "disk.img";
    const auto part = dir_ / "part.img";
    ASSERT_TRUE(RunCommand("truncate -s 16M '" + disk.string() +
                           "' && printf 'label: dos\\nstart=2048, size=20480, type=1\\n' | "
                           "sfdisk -q '" +
                           disk.string() + "'"));
    ASSERT_TRUE(RunCommand("mkfs.fat -C -S 4096 '" + part.string() + "' 10240 && dd if='" +
                           part.string() + "' of='" + disk.string() +
                           "' bs=512 seek=2048 conv=notrunc status=none"));
    CVolume* image = Load(disk);
    const auto found = FoundOn(*image);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->FileSystem->FileSystemName, "FAT12");
    EXPECT_EQ(found[0]->TotalSize, 20480ull * 512);
}

// A disk in memory, for tables no tool would write.
class MemoryDisk {
  public:
    explicit MemoryDisk(std::uint64_t sectors) : sectors_(sectors) {}
    void Entry(std::uint64_t table, int index, std::uint8_t type, std::uint32_t first,
               std::uint32_t count) {
        auto& s = sector_[table];
        s.resize(512);
        s[510] = 0x55;
        s[511] = 0xAA;
        const std::size_t at = 446 + static_cast<std::size_t>(index) * 16;
        s[at + 4] = type;
        std::memcpy(s.data() + at + 8, &first, 4);
        std::memcpy(s.data() + at + 12, &count, 4);
    }
    SectorReader Reader() {
        return [this](std::uint64_t sector, std::span<std::uint8_t> buffer) {
            ++reads;
            const auto it = sector_.find(sector);
            if (sector >= sectors_)
                return false;
            std::fill(buffer.begin(), buffer.end(), 0);
            if (it != sector_.end())
                std::copy(it->second.begin(), it->second.end(), buffer.begin());
            return true;
        };
    }
    int reads = 0;

  private:
    std::uint64_t sectors_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> sector_;
};

TEST(PartitionWalk, HostileChainsEnd) {
    MemoryDisk self(100000);
    self.Entry(0, 0, 0x05, 100, 1000);
    self.Entry(100, 0, 0x06, 10, 50);
    self.Entry(100, 1, 0x05, 0, 1000);  // links to itself
    const WalkResult selfWalk = WalkPartitionTables(self.Reader(), 100000);
    EXPECT_EQ(selfWalk.partitions.size(), 1u);
    EXPECT_TRUE(selfWalk.cutShort);

    MemoryDisk cycle(100000);
    cycle.Entry(0, 0, 0x0F, 100, 1000);
    cycle.Entry(100, 1, 0x05, 200, 1000);
    cycle.Entry(300, 1, 0x05, 0, 1000);  // back to the first link
    EXPECT_TRUE(WalkPartitionTables(cycle.Reader(), 100000).cutShort);

    MemoryDisk chain(10000000);
    chain.Entry(0, 0, 0x05, 1, 9000000);
    for (std::uint32_t link = 1; link <= 10000; ++link) {
        chain.Entry(link, 0, 0x06, 100000 + link, 1);
        chain.Entry(link, 1, 0x05, link, 1);  // next table at base 1 + link
    }
    const WalkResult long_walk = WalkPartitionTables(chain.Reader(), 10000000);
    EXPECT_LE(chain.reads, static_cast<int>(kMaxTables));
    EXPECT_TRUE(long_walk.cutShort);
    EXPECT_EQ(long_walk.partitions.size(), kMaxTables - 1);
}

TEST(PartitionWalk, EntriesOutsideTheDiskAndEmptyOnesAreSkipped) {
    MemoryDisk disk(5000);
    disk.Entry(0, 0, 0x0C, 6000, 100);  // starts beyond the disk
    disk.Entry(0, 1, 0x00, 10, 100);    // no type
    disk.Entry(0, 2, 0x07, 20, 0);      // no sectors
    disk.Entry(0, 3, 0x07, 30, 9000);   // larger than the disk: noted, still used
    const WalkResult walk = WalkPartitionTables(disk.Reader(), 5000);
    ASSERT_EQ(walk.partitions.size(), 1u);
    EXPECT_EQ(walk.partitions[0].startSector, 30u);
    EXPECT_TRUE(walk.oversizedEntry);
    EXPECT_TRUE(WalkPartitionTables(MemoryDisk(0).Reader(), 0).partitions.empty());
}

}  // namespace
}  // namespace duzez::devices
