#include "platform/drive_discovery.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/mount_info.h"
#include "tests/support/temp_folder.h"

namespace duzez::platform {
namespace {

TEST(DeviceNames, SortAsPeopleCount) {
    std::vector<std::string> names = {"sdaa",    "sdb",     "nvme0n10", "sda",
                                      "nvme0n2", "mmcblk0", "sdz"};
    std::sort(names.begin(), names.end(), DeviceNameLess);
    EXPECT_EQ(names, (std::vector<std::string>{"mmcblk0", "nvme0n2", "nvme0n10", "sda", "sdb",
                                               "sdz", "sdaa"}));
}

TEST(DeviceNames, OnlyDisksAndVolumesAreListed) {
    EXPECT_TRUE(IsListedDeviceName("sdb1"));
    EXPECT_TRUE(IsListedDeviceName("mmcblk0p1"));
    for (const char* name :
         {"sr0", "zram0", "ram3", "loop2", "fd0", "mmcblk0boot0", "mmcblk0rpmb"}) {
        EXPECT_FALSE(IsListedDeviceName(name)) << name;
    }
}

TEST(MountInfo, FieldsEscapesAndOptionalTags) {
    const auto entries = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt/My\\040Photos rw,noatime master:1 - vfat /dev/sdb1 rw\n"
        "37 35 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "broken line\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].major, 98u);
    EXPECT_EQ(entries[0].minor, 0u);
    EXPECT_EQ(entries[0].mountPoint, "/mnt/My Photos");
    EXPECT_EQ(entries[0].fileSystem, "vfat");
    EXPECT_EQ(entries[0].source, "/dev/sdb1");
    EXPECT_EQ(entries[1].mountPoint, "/");
}

// sdb with a primary partition, an extended container and one logical partition, as the
// kernel shows them: the container is no volume, and the others keep their numbers.
TEST(Partitions, AnExtendedContainerIsNoVolume) {
    test::TempFolder root;
    const auto disk = root / "sys" / "block" / "sdb";
    test::WriteFile(disk / "size", "131072\n");
    for (const auto& [name, number, start, size] :
         {std::tuple{"sdb1", "1", "2048", "20480"}, std::tuple{"sdb2", "2", "22528", "2"},
          std::tuple{"sdb5", "5", "24576", "20480"}}) {
        test::WriteFile(disk / name / "partition", std::string(number) + "\n");
        test::WriteFile(disk / name / "start", std::string(start) + "\n");
        test::WriteFile(disk / name / "size", std::string(size) + "\n");
    }
    SystemRoots roots;
    roots.sys = root / "sys";
    roots.dev = root / "dev";
    const std::vector<BlockDeviceInfo> partitions = PartitionsOf(roots, "sdb");
    ASSERT_EQ(partitions.size(), 2u);
    EXPECT_EQ(partitions[0].name, "sdb1");
    EXPECT_EQ(partitions[1].name, "sdb5");
    EXPECT_EQ(partitions[1].partitionNumber, 5u);
    EXPECT_EQ(partitions[1].startBytes, 24576u * 512);
}

}  // namespace
}  // namespace duzez::platform
