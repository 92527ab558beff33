// GPT disks made with sfdisk, as every current installer partitions them: FAT32, NTFS and
// exFAT partitions listed and recovered by name, a damaged primary table read from its backup,
// a wiped backup ignored, both copies gone, and 4096-byte logical sectors.

#include <gtest/gtest.h>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

// Each of `parts` is in the output or, with `present` false, none is.
void ExpectOutput(const RunResult& result, std::initializer_list<std::string_view> parts,
                  bool present = true) {
    for (const std::string_view part : parts)
        EXPECT_EQ(result.out.find(part) != std::string::npos, present)
            << (present ? "missing: " : "unwanted: ") << part << "\nin:\n"
            << result.out;
}

// Copies `from` into `disk` at sector `seek` of `bs` bytes (or zeroes `count` sectors).
std::string Dd(const std::string& from, const fs::path& disk, std::size_t seek,
               const std::string& extra = "", std::size_t bs = 512) {
    return "dd if=" + from + " of=" + Quoted(disk.string()) + " bs=" + std::to_string(bs) +
           " seek=" + std::to_string(seek) + extra + " conv=notrunc status=none";
}

class GptDiskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("sfdisk"))
            GTEST_SKIP() << "dosfstools, mtools or util-linux missing";
    }
    RunResult Cli(const std::string& arguments) { return RunCli(arguments, dir_.path()); }
    RunResult Cli(const std::string& command, const fs::path& disk, const std::string& rest = "") {
        return Cli(command + " " + Quoted(disk.string()) + rest);
    }
    std::string Out() const { return " " + Quoted((dir_ / "out").string()); }

    // A FAT volume of `sectors` holding `file`, made as `image`.
    std::string FatWith(const fs::path& image, const std::string& options, int sectors,
                        const std::string& file) {
        return "mkfs.fat " + options + " -C " + Quoted(image.string()) + " " +
               std::to_string(sectors) + " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " +
               Quoted(image.string()) + " " + Quoted((dir_ / file).string()) + " ::/";
    }

    // 64 MiB: "Photos" (FAT32, 40 MiB from sector 2048, PHOTO.JPG), "Documents" (NTFS when
    // mkntfs and ntfscp are here, else FAT16, REPORT.PDF) behind it.
    fs::path MakeDisk(const std::string& name = "gpt.img") {
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
        EXPECT_TRUE(RunCommand(FatWith(first, "-F 32", 40960, "PHOTO.JPG")));
        const auto second = dir_ / (name + ".p2");
        ntfs_ = HaveTool("mkntfs") && HaveTool("ntfscp");
        EXPECT_TRUE(RunCommand(ntfs_
                                   ? "truncate -s 20M " + Quoted(second.string()) +
                                         " && mkntfs -q -F -f " + Quoted(second.string()) +
                                         " 2>/dev/null && ntfscp " + Quoted(second.string()) + " " +
                                         Quoted((dir_ / "REPORT.PDF").string()) + " REPORT.PDF"
                                   : FatWith(second, "-F 16", 20480, "REPORT.PDF")));
        // An exFAT card from the shared test images (made by another tool, with files).
        const auto card =
            fs::path(__FILE__).parent_path() / "../../../shared/testdata/obhq-exfat/exfat.img.gz";
        exfat_ = fs::exists(card) && RunCommand("gzip -dc " + Quoted(card.string()) + " | " +
                                                Dd("/dev/stdin", disk, 124928));
        EXPECT_TRUE(RunCommand(Dd(Quoted(first.string()), disk, 2048) + " && " +
                               Dd(Quoted(second.string()), disk, 83968)));
        return disk;
    }
    std::string SecondFileSystem() const { return ntfs_ ? "NTFS" : "FAT16"; }

    TempFolder dir_;
    bool ntfs_ = false;
    bool exfat_ = false;
};

TEST_F(GptDiskTest, PartitionsAreNamedAndTheirFilesRecoveredByteForByte) {
    const auto disk = MakeDisk();
    const RunResult partitions = Cli("partitions", disk);
    EXPECT_EQ(partitions.exitCode, 0) << partitions.out;
    ExpectOutput(partitions, {"GUID partition table, 512-byte sectors", "Microsoft basic data",
                              "Photos", "FAT32", SecondFileSystem()});
    ExpectOutput(partitions, {"0xee"}, false);
    ExpectOutput(Cli("partitions --json", disk),
                 {"\"start\": 1048576", "\"size\": 41943040", "\"name\": \"Documents\""});

    const RunResult recover = Cli("recover", disk, Out());
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(ReadFile(dir_ / "out" / "Partition 1 (FAT32)" / "PHOTO.JPG"), Pattern(300000, 7))
        << recover.out;
    const auto second = dir_ / "out" / ("Partition 2 (" + SecondFileSystem() + ")");
    EXPECT_EQ(ReadFile(second / "REPORT.PDF"), Pattern(120000, 9)) << recover.out;

    if (exfat_) {
        ExpectOutput(partitions, {"exFAT"});
        EXPECT_EQ(
            ReadFile(dir_ / "out" / "Partition 3 (exFAT, Test image)" / "dir1" / "file2").size(),
            13u)
            << recover.out;
    }
    const RunResult one = Cli("list", disk, " --volume 2");
    EXPECT_EQ(one.exitCode, 0) << one.out;
    ExpectOutput(one, {"REPORT.PDF"});
    ExpectOutput(one, {"PHOTO.JPG"}, false);
}

TEST_F(GptDiskTest, ADamagedPrimaryTableIsReadFromItsBackupAndAWipedBackupIsIgnored) {
    const auto disk = MakeDisk();
    // The primary header's sector zeroed, as a failed tool leaves it.
    ASSERT_TRUE(RunCommand(Dd("/dev/zero", disk, 1, " count=1")));
    ExpectOutput(Cli("partitions", disk), {"the backup was read", "Photos"});
    ExpectOutput(Cli("-v list", disk),
                 {"Partition 1 (FAT32)/PHOTO.JPG", "backup copy at the end of the disk was used"});

    // Restored primary, wiped backup: the primary is read without a word.
    const auto fresh = MakeDisk("fresh.img");
    ASSERT_TRUE(RunCommand(Dd("/dev/zero", fresh, 131071, " count=1")));
    const RunResult partitions = Cli("partitions", fresh);
    ExpectOutput(partitions, {"backup"}, false);
    ExpectOutput(partitions, {"Documents"});
}

TEST_F(GptDiskTest, WithBothCopiesGoneFindLostStillFindsTheVolumes) {
    const auto disk = MakeDisk();
    ASSERT_TRUE(RunCommand(Dd("/dev/zero", disk, 1, " count=33") + " && " +
                           Dd("/dev/zero", disk, 131039, " count=33")));
    ExpectOutput(Cli("partitions", disk), {"both copies of the GUID partition table are damaged"});
    ExpectOutput(Cli("find-lost", disk), {"1048576", "FAT32"});
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
    const bool partitioned =
        RunCommand(std::string("printf 'label: gpt\\nstart=256, size=10240, type=") + kBasicData +
                   ", name=\"Card\"\\n' | sfdisk -q --no-reread --no-tell-kernel " + device);
    RunCommand("losetup -d " + device);
    ASSERT_TRUE(partitioned);
    // A FAT16 volume of 4096-byte sectors in the partition (byte 1 MiB, 40 MiB).
    const auto part = dir_ / "p.img";
    WriteFile(dir_ / "IMG_4K.JPG", Pattern(50000, 4));
    ASSERT_TRUE(RunCommand(FatWith(part, "-F 16 -S 4096 -s 1", 40960, "IMG_4K.JPG") + " && " +
                           Dd(Quoted(part.string()), disk, 256, "", 4096)));
    ExpectOutput(Cli("partitions", disk), {"GUID partition table, 4096-byte sectors", "1048576"});
    const RunResult recover = Cli("recover", disk, Out());
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
    const RunResult alone = Cli("list", ext4);
    EXPECT_EQ(alone.exitCode, 1) << alone.out;
    ExpectOutput(alone, {"ext4, whose files this program cannot list; --deep"});
    ExpectOutput(alone, {"Unknown"}, false);
    ExpectOutput(Cli("info", ext4), {"File system:       ext4\n"});

    const auto disk = MakeDisk();
    const auto swap = dir_ / "swap.img";
    ASSERT_TRUE(RunCommand("truncate -s 20M " + Quoted(swap.string()) + " && mkswap -q " +
                           Quoted(swap.string()) + " >/dev/null && " +
                           Dd(Quoted(swap.string()), disk, 83968)));
    ExpectOutput(Cli("partitions", disk), {"Linux swap"});
    const RunResult list = Cli("list", disk);
    EXPECT_EQ(list.exitCode, 1) << list.out;
    ExpectOutput(list, {"Partition 1 (FAT32)/PHOTO.JPG",
                        "Partition 2 (Linux swap): Linux swap, whose files"});
}

}  // namespace
}  // namespace duzez::test
