// GPT disks made with sfdisk, as every current installer partitions them: FAT32, NTFS and
// exFAT partitions listed and recovered by name, a damaged primary table read from its backup,
// a wiped backup ignored, both copies gone, and 4096-byte logical sectors.

#include <gtest/gtest.h>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

constexpr const char* kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

class GptDiskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("sfdisk"))
            GTEST_SKIP() << "dosfstools, mtools or util-linux missing";
    }
    RunResult Cli(const std::string& arguments) { return RunCli(arguments, dir_.path()); }

    // 64 MiB: "Photos" (FAT32, 40 MiB from sector 2048, PHOTO.JPG), "Documents" (NTFS when
    // mkntfs and ntfscp are here, else FAT16, REPORT.PDF) behind it.
    std::filesystem::path MakeDisk(const std::string& name = "gpt.img") {
        const auto disk = dir_ / name;
        EXPECT_TRUE(
            RunCommand("truncate -s 64M " + Quoted(disk.string()) + " && printf 'label: gpt\\n" +
                       "start=2048, size=81920, type=" + kBasicData + ", name=\"Photos\"\\n" +
                       "start=83968, size=40960, type=" + kBasicData +
                       ", name=\"Documents\"\\nstart=124928, size=2048, type=" + kBasicData +
                       ", name=\"Card\"\\n' | sfdisk -q " + Quoted(disk.string())));
        WriteFile(dir_ / "PHOTO.JPG", Pattern(300000, 7));
        WriteFile(dir_ / "REPORT.PDF", Pattern(120000, 9));
        const auto first = dir_ / (name + ".p1");
        EXPECT_TRUE(RunCommand("mkfs.fat -F 32 -C " + Quoted(first.string()) +
                               " 40960 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " +
                               Quoted(first.string()) + " " +
                               Quoted((dir_ / "PHOTO.JPG").string()) + " ::/"));
        const auto second = dir_ / (name + ".p2");
        ntfs_ = HaveTool("mkntfs") && HaveTool("ntfscp");
        if (ntfs_) {
            EXPECT_TRUE(RunCommand("truncate -s 20M " + Quoted(second.string()) +
                                   " && mkntfs -q -F -f " + Quoted(second.string()) +
                                   " 2>/dev/null" + " && ntfscp " + Quoted(second.string()) + " " +
                                   Quoted((dir_ / "REPORT.PDF").string()) + " REPORT.PDF"));
        } else {
            EXPECT_TRUE(RunCommand("mkfs.fat -F 16 -C " + Quoted(second.string()) +
                                   " 20480 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " +
                                   Quoted(second.string()) + " " +
                                   Quoted((dir_ / "REPORT.PDF").string()) + " ::/"));
        }
        // An exFAT card from the shared test images (made by another tool, with files).
        const auto card = std::filesystem::path(__FILE__)
                              .parent_path()
                              .parent_path()
                              .parent_path()
                              .parent_path() /
                          "shared" / "testdata" / "obhq-exfat" / "exfat.img.gz";
        exfat_ =
            std::filesystem::exists(card) &&
            RunCommand("gzip -dc " + Quoted(card.string()) + " | dd of=" + Quoted(disk.string()) +
                       " bs=512 seek=124928 conv=notrunc status=none");
        EXPECT_TRUE(RunCommand(
            "dd if=" + Quoted(first.string()) + " of=" + Quoted(disk.string()) +
            " bs=512 seek=2048 conv=notrunc status=none && dd if=" + Quoted(second.string()) +
            " of=" + Quoted(disk.string()) + " bs=512 seek=83968 conv=notrunc status=none"));
        return disk;
    }
    std::string SecondFileSystem() const { return ntfs_ ? "NTFS" : "FAT16"; }

    TempFolder dir_;
    bool ntfs_ = false;
    bool exfat_ = false;
};

TEST_F(GptDiskTest, PartitionsAreNamedAndTheirFilesRecoveredByteForByte) {
    const auto disk = MakeDisk();
    const RunResult partitions = Cli("partitions " + Quoted(disk.string()));
    EXPECT_EQ(partitions.exitCode, 0) << partitions.out;
    EXPECT_NE(partitions.out.find("GUID partition table, 512-byte sectors"), std::string::npos)
        << partitions.out;
    EXPECT_NE(partitions.out.find("Microsoft basic data"), std::string::npos) << partitions.out;
    EXPECT_NE(partitions.out.find("Photos"), std::string::npos) << partitions.out;
    EXPECT_NE(partitions.out.find("FAT32"), std::string::npos) << partitions.out;
    EXPECT_NE(partitions.out.find(SecondFileSystem()), std::string::npos) << partitions.out;
    EXPECT_EQ(partitions.out.find("0xee"), std::string::npos) << partitions.out;

    const RunResult json = Cli("partitions --json " + Quoted(disk.string()));
    EXPECT_NE(json.out.find("\"start\": 1048576"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"size\": 41943040"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"name\": \"Documents\""), std::string::npos) << json.out;

    const RunResult recover =
        Cli("recover " + Quoted(disk.string()) + " " + Quoted((dir_ / "out").string()));
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(ReadFile(dir_ / "out" / "Partition 1 (FAT32)" / "PHOTO.JPG"), Pattern(300000, 7))
        << recover.out;
    const auto second = dir_ / "out" / ("Partition 2 (" + SecondFileSystem() + ")");
    EXPECT_EQ(ReadFile(second / "REPORT.PDF"), Pattern(120000, 9)) << recover.out;

    if (exfat_) {
        EXPECT_NE(partitions.out.find("exFAT"), std::string::npos) << partitions.out;
        EXPECT_EQ(
            ReadFile(dir_ / "out" / "Partition 3 (exFAT, Test image)" / "dir1" / "file2").size(),
            13u)
            << recover.out;
    }
    const RunResult one = Cli("list " + Quoted(disk.string()) + " --volume 2");
    EXPECT_EQ(one.exitCode, 0) << one.out;
    EXPECT_NE(one.out.find("REPORT.PDF"), std::string::npos) << one.out;
    EXPECT_EQ(one.out.find("PHOTO.JPG"), std::string::npos) << one.out;
}

TEST_F(GptDiskTest, ADamagedPrimaryTableIsReadFromItsBackupAndAWipedBackupIsIgnored) {
    const auto disk = MakeDisk();
    // The primary header's sector zeroed, as a failed tool leaves it.
    ASSERT_TRUE(RunCommand("dd if=/dev/zero of=" + Quoted(disk.string()) +
                           " bs=512 seek=1 count=1 conv=notrunc status=none"));
    RunResult partitions = Cli("partitions " + Quoted(disk.string()));
    EXPECT_NE(partitions.out.find("the backup was read"), std::string::npos) << partitions.out;
    EXPECT_NE(partitions.out.find("Photos"), std::string::npos) << partitions.out;
    const RunResult list = Cli("-v list " + Quoted(disk.string()));
    EXPECT_NE(list.out.find("Partition 1 (FAT32)/PHOTO.JPG"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("backup copy at the end of the disk was used"), std::string::npos)
        << list.out;

    // Restored primary, wiped backup: the primary is read without a word.
    const auto fresh = MakeDisk("fresh.img");
    ASSERT_TRUE(RunCommand("dd if=/dev/zero of=" + Quoted(fresh.string()) +
                           " bs=512 seek=131071 count=1 conv=notrunc status=none"));
    partitions = Cli("partitions " + Quoted(fresh.string()));
    EXPECT_EQ(partitions.out.find("backup"), std::string::npos) << partitions.out;
    EXPECT_NE(partitions.out.find("Documents"), std::string::npos) << partitions.out;
}

TEST_F(GptDiskTest, WithBothCopiesGoneFindLostStillFindsTheVolumes) {
    const auto disk = MakeDisk();
    ASSERT_TRUE(RunCommand("dd if=/dev/zero of=" + Quoted(disk.string()) +
                           " bs=512 seek=1 count=33 conv=notrunc status=none && "
                           "dd if=/dev/zero of=" +
                           Quoted(disk.string()) +
                           " bs=512 seek=131039 count=33 conv=notrunc status=none"));
    const RunResult partitions = Cli("partitions " + Quoted(disk.string()));
    EXPECT_NE(partitions.out.find("both copies of the GUID partition table are damaged"),
              std::string::npos)
        << partitions.out;
    const RunResult lost = Cli("find-lost " + Quoted(disk.string()));
    EXPECT_NE(lost.out.find("1048576"), std::string::npos) << lost.out;
    EXPECT_NE(lost.out.find("FAT32"), std::string::npos) << lost.out;
}

// A disk of 4096-byte logical sectors (a loop device of that sector size, partitioned by
// sfdisk through it): its table counts in 4096-byte sectors, and the image of it has no
// sector size to tell.
TEST_F(GptDiskTest, FourKiBLogicalSectorsArePlacedRight) {
    if (!HaveTool("losetup"))
        GTEST_SKIP() << "util-linux losetup missing";
    const auto disk = dir_ / "4k.img";
    ASSERT_TRUE(RunCommand("truncate -s 64M " + Quoted(disk.string())));
    std::string device = CommandOutput("losetup -f --show --sector-size 4096 " +
                                       Quoted(disk.string()) + " 2>/dev/null");
    while (!device.empty() && device.back() == '\n')
        device.pop_back();
    if (device.rfind("/dev/loop", 0) != 0)
        GTEST_SKIP() << "no loop device of 4096-byte sectors can be attached here";
    const bool partitioned = RunCommand(
        std::string("printf 'label: gpt\\nstart=256, size=10240, "
                    "type=") +
        kBasicData + ", name=\"Card\"\\n' | sfdisk -q --no-reread --no-tell-kernel " + device);
    RunCommand("losetup -d " + device);
    ASSERT_TRUE(partitioned);
    // A FAT16 volume of 4096-byte sectors in the partition (byte 1 MiB, 40 MiB).
    const auto part = dir_ / "p.img";
    WriteFile(dir_ / "IMG_4K.JPG", Pattern(50000, 4));
    ASSERT_TRUE(RunCommand(
        "mkfs.fat -F 16 -S 4096 -s 1 -C " + Quoted(part.string()) +
        " 40960 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + Quoted(part.string()) + " " +
        Quoted((dir_ / "IMG_4K.JPG").string()) + " ::/ && dd if=" + Quoted(part.string()) +
        " of=" + Quoted(disk.string()) + " bs=4096 seek=256 conv=notrunc status=none"));
    const RunResult partitions = Cli("partitions " + Quoted(disk.string()));
    EXPECT_NE(partitions.out.find("GUID partition table, 4096-byte sectors"), std::string::npos)
        << partitions.out;
    EXPECT_NE(partitions.out.find("1048576"), std::string::npos) << partitions.out;
    const RunResult recover =
        Cli("recover " + Quoted(disk.string()) + " " + Quoted((dir_ / "out").string()));
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(ReadFile(dir_ / "out" / "Partition 1 (FAT16)" / "IMG_4K.JPG"), Pattern(50000, 4))
        << recover.out;
}

// File systems this program cannot list are named, never "Unknown, 0 objects": alone,
// the listing ends with exit 1 and the one line that points to --deep; on a disk, the
// other partitions are still listed.
TEST_F(GptDiskTest, FileSystemsThatCannotBeListedAreNamedAndSaySo) {
    if (!HaveTool("mkfs.ext4") || !HaveTool("mkswap"))
        GTEST_SKIP() << "e2fsprogs or util-linux mkswap missing";
    const auto ext4 = dir_ / "ext4.img";
    ASSERT_TRUE(RunCommand("truncate -s 20M " + Quoted(ext4.string()) + " && mkfs.ext4 -q -F " +
                           Quoted(ext4.string())));
    const RunResult alone = Cli("list " + Quoted(ext4.string()));
    EXPECT_EQ(alone.exitCode, 1) << alone.out;
    EXPECT_NE(alone.out.find("ext4, whose files this program cannot list; --deep"),
              std::string::npos)
        << alone.out;
    EXPECT_EQ(alone.out.find("Unknown"), std::string::npos) << alone.out;
    const RunResult info = Cli("info " + Quoted(ext4.string()));
    EXPECT_NE(info.out.find("fileSystem: ext4"), std::string::npos) << info.out;

    const auto disk = MakeDisk();
    const auto swap = dir_ / "swap.img";
    ASSERT_TRUE(RunCommand("truncate -s 20M " + Quoted(swap.string()) + " && mkswap -q " +
                           Quoted(swap.string()) + " >/dev/null && dd if=" + Quoted(swap.string()) +
                           " of=" + Quoted(disk.string()) +
                           " bs=512 seek=83968 conv=notrunc status=none"));
    const RunResult partitions = Cli("partitions " + Quoted(disk.string()));
    EXPECT_NE(partitions.out.find("Linux swap"), std::string::npos) << partitions.out;
    const RunResult list = Cli("list " + Quoted(disk.string()));
    EXPECT_EQ(list.exitCode, 1) << list.out;
    EXPECT_NE(list.out.find("Partition 1 (FAT32)/PHOTO.JPG"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Partition 2 (Linux swap): Linux swap, whose files"), std::string::npos)
        << list.out;
}

}  // namespace
}  // namespace duzez::test
