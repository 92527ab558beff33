// Whole disks as people bring them: partition tables, tables lost, volumes whose first
// sector is gone, loop devices without partition nodes, 4096-byte sectors.

#include <gtest/gtest.h>

#include <fstream>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_folder.h"

namespace duzez::test {
namespace {

class WholeDiskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("sfdisk") ||
            !HaveTool("losetup")) {
            GTEST_SKIP() << "dosfstools, mtools or util-linux missing";
        }
    }
    RunResult Cli(const std::string& arguments) { return RunCli(arguments, dir_.path()); }

    TempFolder dir_;
};

// The loop device `file` is attached to, or empty where none can be attached.
std::string AttachLoop(const std::filesystem::path& file, const std::string& options) {
    std::string device = CommandOutput("losetup -f --show " + options + " " +
                                       Quoted(file.string()) + " 2>/dev/null");
    while (!device.empty() && device.back() == '\n')
        device.pop_back();
    return device.rfind("/dev/loop", 0) == 0 ? device : "";
}

std::filesystem::path FourPartitionDisk(const std::filesystem::path& dir) {
    const auto disk = dir / "disk.img";
    EXPECT_TRUE(RunCommand("truncate -s 64M " + Quoted(disk.string()) +
                           " && printf 'label: dos\\nstart=2048, size=30720, type=6\\n"
                           "start=32768, size=30720, type=6\\nstart=63488, size=30720, "
                           "type=6\\nstart=94208, size=30720, type=6\\n' | sfdisk -q " +
                           Quoted(disk.string())));
    for (int n = 1; n <= 4; ++n) {
        const auto part = dir / ("p" + std::to_string(n) + ".img");
        const std::string name = "PART" + std::to_string(n) + ".JPG";
        WriteFile(dir / name, Pattern(10000 + n * 1000, static_cast<unsigned>(n)));
        EXPECT_TRUE(RunCommand("mkfs.fat -C -F 16 " + Quoted(part.string()) + " 15360"));
        EXPECT_TRUE(RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quoted(part.string()) + " " +
                               Quoted((dir / name).string()) + " ::/"));
        const int start = 2048 + (n - 1) * 30720;
        EXPECT_TRUE(RunCommand("dd if=" + Quoted(part.string()) + " of=" + Quoted(disk.string()) +
                               " bs=512 seek=" + std::to_string(start) +
                               " conv=notrunc status=none"));
    }
    return disk;
}

// A whole disk without --volume: every partition's files, each partition in a folder of
// its own; --volume N still takes one.
TEST_F(WholeDiskTest, AWholeDiskRecoversEveryPartitionIntoItsOwnFolder) {
    const auto disk = FourPartitionDisk(dir_.path());
    const RunResult whole =
        Cli("recover " + Quoted(disk.string()) + " " + Quoted((dir_ / "all").string()));
    EXPECT_EQ(whole.exitCode, 0) << whole.out;
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(ReadFile(dir_ / "all" / ("Partition " + std::to_string(n) + " (FAT16)") /
                           ("PART" + std::to_string(n) + ".JPG")),
                  Pattern(10000 + n * 1000, static_cast<unsigned>(n)))
            << whole.out;
    }
    const RunResult list = Cli("list " + Quoted(disk.string()));
    EXPECT_NE(list.out.find("Partition 4 (FAT16)/PART4.JPG"), std::string::npos) << list.out;
    const RunResult one = Cli("recover " + Quoted(disk.string()) + " " +
                              Quoted((dir_ / "one").string()) + " --volume 3");
    EXPECT_EQ(one.exitCode, 0) << one.out;
    EXPECT_EQ(ReadFile(dir_ / "one" / "PART3.JPG"), Pattern(13000, 3));
}

// Scanning a partition finds its own boot sector again: that is the partition, not a new
// volume at its offset 0 (which would read the disk's partition table).
TEST_F(WholeDiskTest, ScanningAPartitionAddsNoVolumeForItsOwnBootSector) {
    const auto disk = FourPartitionDisk(dir_.path());
    const RunResult scan = Cli("-v list " + Quoted(disk.string()) + " --volume 2 --deep");
    EXPECT_EQ(scan.exitCode, 0) << scan.out;
    EXPECT_NE(scan.out.find("Starting drive sector analysis"), std::string::npos) << scan.out;
    EXPECT_EQ(scan.out.find("volume at: 0\n"), std::string::npos) << scan.out;
    EXPECT_EQ(scan.out.find("Volume at: 0"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("/PART2.JPG"), std::string::npos) << scan.out;
}

// A disk whose partition table was zeroed: find-lost finds the volumes, and --found N
// lists and recovers their files by name.
TEST_F(WholeDiskTest, LostPartitionsAreListedAndRecoveredByName) {
    const auto disk = FourPartitionDisk(dir_.path());
    ASSERT_TRUE(RunCommand("dd if=/dev/zero of=" + Quoted(disk.string()) +
                           " bs=1 seek=446 count=64 conv=notrunc status=none"));
    const RunResult lost = Cli("find-lost " + Quoted(disk.string()));
    EXPECT_NE(lost.out.find("4   48234496"), std::string::npos) << lost.out;
    const RunResult list = Cli("list " + Quoted(disk.string()) + " --found 3");
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_NE(list.out.find("/PART3.JPG"), std::string::npos) << list.out;
    const RunResult recover = Cli("recover " + Quoted(disk.string()) + " " +
                                  Quoted((dir_ / "out").string()) + " --found 4");
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(ReadFile(dir_ / "out" / "PART4.JPG"), Pattern(14000, 4));
}

// A loop device attached without partition scanning has no nodes for its partitions:
// --volume N reads its partition table first.
TEST_F(WholeDiskTest, VolumeNOnADeviceWithoutPartitionNodes) {
    const auto disk = FourPartitionDisk(dir_.path());
    const std::string device = AttachLoop(disk, "");
    if (device.empty())
        GTEST_SKIP() << "no loop device can be attached here";
    const RunResult list = Cli("list " + Quoted(device) + " --volume 2");
    const RunResult recover =
        Cli("recover " + Quoted(device) + " " + Quoted((dir_ / "out").string()) + " --volume 4");
    RunCommand("losetup -d " + Quoted(device));
    EXPECT_EQ(list.exitCode, 0) << list.out;
    EXPECT_NE(list.out.find("/PART2.JPG"), std::string::npos) << list.out;
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_EQ(ReadFile(dir_ / "out" / "PART4.JPG"), Pattern(14000, 4));
}

// A device of 4096-byte sectors: the engine still counts 512-byte ones, so its image is
// the whole device, and the device's own sector size is what info shows.
TEST_F(WholeDiskTest, ADeviceOf4096ByteSectorsIsImagedWhole) {
    const auto backing = dir_ / "four.img";
    WriteFile(backing, Pattern(8 << 20, 29));
    const std::string device = AttachLoop(backing, "--sector-size 4096");
    if (device.empty())
        GTEST_SKIP() << "no loop device of 4096-byte sectors can be attached here";
    const RunResult image =
        Cli("image " + Quoted(device) + " " + Quoted((dir_ / "copy.dsk").string()));
    const RunResult info = Cli("info " + Quoted(device));
    RunCommand("losetup -d " + Quoted(device));
    EXPECT_EQ(image.exitCode, 0) << image.out;
    EXPECT_TRUE(ReadFile(dir_ / "copy.dsk") == Pattern(8 << 20, 29)) << image.out;
    EXPECT_NE(info.out.find("Bytes per sector:  4096\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("512-byte sectors:  16,384\n"), std::string::npos) << info.out;
}

// A camera card's FAT32 and a Windows NTFS volume on one disk whose partition table was
// zeroed and whose first sectors were wiped: a deep recovery of the whole disk finds both,
// places them from their backup boot sectors, writes every file under its name in a
// folder per volume, and does not write the same photos again as carved files.
TEST_F(WholeDiskTest, ADeepRecoveryOfADiskWithoutTableRecoversItsVolumesByName) {
    if (!HaveTool("mkntfs") || !HaveTool("ntfs-3g"))
        GTEST_SKIP() << "ntfs-3g missing";
    const auto fat = dir_ / "fat.img";
    const auto ntfs = dir_ / "ntfs.img";
    const auto mount = dir_ / "mnt";
    const std::string photo = "\xFF\xD8\xFF\xE0" + Pattern(60000, 5);
    const std::string scan = "\xFF\xD8\xFF\xE0" + Pattern(70000, 9);
    WriteFile(dir_ / "PHOTO.JPG", photo);
    ASSERT_TRUE(RunCommand("mkfs.fat -C -F 32 " + Quoted(fat.string()) +
                           " 40960 && "
                           "MTOOLS_SKIP_CHECK=1 mcopy -i " +
                           Quoted(fat.string()) + " " + Quoted((dir_ / "PHOTO.JPG").string()) +
                           " ::/"));
    std::filesystem::create_directories(mount);
    ASSERT_TRUE(RunCommand("truncate -s 16M " + Quoted(ntfs.string()) + " && mkntfs -q -F -f " +
                           Quoted(ntfs.string())));
    if (!RunCommand("ntfs-3g " + Quoted(ntfs.string()) + " " + Quoted(mount.string())))
        GTEST_SKIP() << "FUSE is not available here";
    WriteFile(mount / "SCAN.JPG", scan);
    ASSERT_TRUE(RunCommand("umount " + Quoted(mount.string())));

    const auto disk = dir_ / "disk.img";
    ASSERT_TRUE(RunCommand("truncate -s 96M " + Quoted(disk.string()) +
                           " && printf 'label: dos\\nstart=2048, size=81920, type=c\\n"
                           "start=86016, size=32768, type=7\\n' | sfdisk -q " +
                           Quoted(disk.string())));
    const std::string into = " of=" + Quoted(disk.string()) + " conv=notrunc status=none";
    ASSERT_TRUE(RunCommand("dd if=" + Quoted(fat.string()) + into + " bs=512 seek=2048"));
    ASSERT_TRUE(RunCommand("dd if=" + Quoted(ntfs.string()) + into + " bs=512 seek=86016"));
    ASSERT_TRUE(RunCommand("dd if=/dev/zero" + into + " bs=1 seek=446 count=64"));
    ASSERT_TRUE(RunCommand("dd if=/dev/zero" + into + " bs=512 seek=2048 count=1"));
    ASSERT_TRUE(RunCommand("dd if=/dev/zero" + into + " bs=512 seek=86016 count=1"));

    const RunResult lost = Cli("find-lost " + Quoted(disk.string()));
    EXPECT_NE(lost.out.find(" 1048576 "), std::string::npos) << lost.out;
    EXPECT_NE(lost.out.find(" 44040192 "), std::string::npos) << lost.out;
    const RunResult list = Cli("list " + Quoted(disk.string()) + " --found 1");
    EXPECT_NE(list.out.find("/PHOTO.JPG"), std::string::npos) << list.out;

    const auto out = dir_ / "out";
    const RunResult recover =
        Cli("recover " + Quoted(disk.string()) + " " + Quoted(out.string()) + " --deep");
    EXPECT_EQ(recover.exitCode, 0) << recover.out;
    EXPECT_TRUE(ReadFile(out / "Volume 1 (FAT32)" / "PHOTO.JPG") == photo) << recover.out;
    EXPECT_TRUE(ReadFile(out / "Volume 2 (NTFS)" / "SCAN.JPG") == scan) << recover.out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
        const std::string path = entry.path().lexically_relative(out).string();
        const bool carved = entry.is_regular_file() && path.rfind("Volume ", 0) != 0;
        EXPECT_FALSE(carved && ReadFile(entry.path()).rfind("\xFF\xD8\xFF\xE0", 0) == 0) << path;
    }
}

}  // namespace
}  // namespace duzez::test
