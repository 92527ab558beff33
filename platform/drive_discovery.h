#pragma once

// The machine's disks and volumes, read from sysfs, libblkid, mountinfo and statvfs. The
// roots are parameters so that tests can run on a fake tree.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/blkid_probe.h"

namespace duzez::platform {

struct SystemRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
};

struct BlockDeviceInfo {
    std::string name;        // kernel name: "sdb", "sdb1", "nvme0n1p2"
    std::string devicePath;  // "/dev/sdb1"
    std::string parentDisk;  // kernel name of the disk a partition lies on; "" for disks
    unsigned major = 0;
    unsigned minor = 0;
    std::uint32_t partitionNumber = 0;  // 0 for a whole device
    std::uint64_t startBytes = 0;       // on the parent disk
    std::uint64_t sizeBytes = 0;
    std::uint32_t logicalSectorSize = 512;
    bool removable = false;
    std::string vendor;  // trailing blanks cut; "" when the device reports none
    std::string model;
    std::optional<FileSystemProbe> fileSystem;
    std::string mountPoint;  // "" when not mounted
    std::optional<std::uint64_t> freeBytes;
};

struct DriveInventory {
    std::vector<BlockDeviceInfo> disks;    // whole disks, in name order
    std::vector<BlockDeviceInfo> volumes;  // partitions and file-system devices
};

// Optical drives, zram and ram disks, floppies and loop devices without a backing file are
// left out; device-mapper and md devices are volumes, not disks.
DriveInventory DiscoverDrives(const SystemRoots& roots);

// One disk or partition by kernel name, with its file system and mount point.
std::optional<BlockDeviceInfo> DescribeBlockDevice(const SystemRoots& roots,
                                                   const std::string& name);
// The partitions the kernel knows on a disk, in number order (without probing them).
std::vector<BlockDeviceInfo> PartitionsOf(const SystemRoots& roots, const std::string& diskName);
// Whether a device of this name is one the drive list may hold (not a loop, optical,
// zram or ram device), judged by its name alone.
bool IsListedDeviceName(const std::string& name);

// Orders kernel names as people expect: sda < sdb < sdz < sdaa, nvme0n1 < nvme0n10.
bool DeviceNameLess(const std::string& a, const std::string& b);

}  // namespace duzez::platform
