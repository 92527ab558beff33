#include "platform/drive_discovery.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/mount_info.h"

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

}  // namespace
}  // namespace duzez::platform
