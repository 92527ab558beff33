#include "platform/drive_discovery.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/mount_info.h"

namespace duzez::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadSysText(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t')) {
        text.pop_back();
    }
    return text;
}

std::uint64_t ReadSysNumber(const fs::path& file) {
    const std::string text = ReadSysText(file);
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool StartsWith(const std::string& s, std::string_view prefix) {
    return s.rfind(prefix, 0) == 0;
}

enum class Role { Disk, Volume, Skip };

Role RoleOf(const fs::path& sysDir, const std::string& name) {
    for (const std::string_view skipped : {"sr", "zram", "ram", "fd", "nbd"}) {
        if (StartsWith(name, skipped))
            return Role::Skip;
    }
    if (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos) {
        return Role::Skip;  // eMMC boot and replay-protected areas
    }
    if (StartsWith(name, "loop")) {
        return ReadSysText(sysDir / "loop" / "backing_file").empty() ? Role::Skip : Role::Disk;
    }
    if (StartsWith(name, "dm-") || StartsWith(name, "md"))
        return Role::Volume;
    return Role::Disk;
}

// A vendor field that is only a bus id ("0x1af4" on virtio) names no vendor.
std::string VendorText(const fs::path& deviceDir) {
    const std::string vendor = ReadSysText(deviceDir / "vendor");
    return StartsWith(vendor, "0x") ? std::string() : vendor;
}

void ReadDevNumbers(const fs::path& dir, BlockDeviceInfo& info) {
    const std::string dev = ReadSysText(dir / "dev");
    const std::size_t colon = dev.find(':');
    if (colon == std::string::npos)
        return;
    std::from_chars(dev.data(), dev.data() + colon, info.major);
    std::from_chars(dev.data() + colon + 1, dev.data() + dev.size(), info.minor);
}

void AddMountAndProbe(const std::vector<MountEntry>& mounts, BlockDeviceInfo& info) {
    info.fileSystem = ProbeFileSystem(info.devicePath);
    for (const MountEntry& mount : mounts) {
        if (mount.major == info.major && mount.minor == info.minor && (info.major != 0)) {
            info.mountPoint = mount.mountPoint;
            struct statvfs stats {};
            if (::statvfs(mount.mountPoint.c_str(), &stats) == 0) {
                info.freeBytes = std::uint64_t{stats.f_bfree} * stats.f_frsize;
            }
            break;
        }
    }
}

std::vector<MountEntry> ReadMounts(const fs::path& file) {
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMountInfo(text.str());
}

}  // namespace

bool DeviceNameLess(const std::string& a, const std::string& b) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0;
    std::size_t j = 0;
    bool samePrefix = false;  // whether the names agree on at least their first character
    while (i < a.size() && j < b.size()) {
        const bool digitA = isDigit(a[i]);
        const bool digitB = isDigit(b[j]);
        if (digitA != digitB)
            return digitA;
        std::size_t endA = i;
        std::size_t endB = j;
        while (endA < a.size() && isDigit(a[endA]) == digitA)
            ++endA;
        while (endB < b.size() && isDigit(b[endB]) == digitB)
            ++endB;
        std::string_view runA(a.data() + i, endA - i);
        std::string_view runB(b.data() + j, endB - j);
        if (digitA) {
            // Numbers by magnitude: nvme0n2 before nvme0n10.
            while (runA.size() > 1 && runA.front() == '0')
                runA.remove_prefix(1);
            while (runB.size() > 1 && runB.front() == '0')
                runB.remove_prefix(1);
            if (runA.size() != runB.size())
                return runA.size() < runB.size();
        } else {
            std::size_t common = 0;
            while (common < runA.size() && common < runB.size() && runA[common] == runB[common]) {
                ++common;
            }
            samePrefix = samePrefix || common > 0;
            // Within one kind of device the kernel counts letters like digits: sdz, sdaa.
            if (samePrefix && runA.size() != runB.size() && common < runA.size() &&
                common < runB.size()) {
                return runA.size() < runB.size();
            }
        }
        if (runA != runB)
            return runA < runB;
        samePrefix = true;
        i = endA;
        j = endB;
    }
    return a.size() - i < b.size() - j;
}

namespace {

BlockDeviceInfo ReadDiskEntry(const SystemRoots& roots, const std::string& name) {
    const fs::path dir = roots.sys / "block" / name;
    BlockDeviceInfo disk;
    disk.name = name;
    disk.devicePath = (roots.dev / name).string();
    disk.sizeBytes = ReadSysNumber(dir / "size") * 512;  // sysfs counts 512-byte units
    disk.logicalSectorSize =
        static_cast<std::uint32_t>(ReadSysNumber(dir / "queue" / "logical_block_size"));
    if (disk.logicalSectorSize == 0)
        disk.logicalSectorSize = 512;
    disk.removable = ReadSysNumber(dir / "removable") != 0;
    disk.vendor = VendorText(dir / "device");
    disk.model = ReadSysText(dir / "device" / "model");
    if (disk.model.empty())
        disk.model = ReadSysText(dir / "device" / "name");  // SD cards
    ReadDevNumbers(dir, disk);
    return disk;
}

std::vector<BlockDeviceInfo> ReadPartitionEntries(const SystemRoots& roots,
                                                  const BlockDeviceInfo& disk) {
    std::vector<BlockDeviceInfo> partitions;
    std::error_code ec;
    for (fs::directory_iterator it(roots.sys / "block" / disk.name, ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path partDir = it->path();
        if (!fs::exists(partDir / "partition"))
            continue;
        BlockDeviceInfo part;
        part.name = partDir.filename().string();
        part.devicePath = (roots.dev / part.name).string();
        part.parentDisk = disk.name;
        part.partitionNumber = static_cast<std::uint32_t>(ReadSysNumber(partDir / "partition"));
        part.startBytes = ReadSysNumber(partDir / "start") * 512;
        part.sizeBytes = ReadSysNumber(partDir / "size") * 512;
        // An extended partition's node stands for its container, 1 KiB of table, and
        // holds no volume: its logical partitions have nodes of their own.
        if (part.sizeBytes <= 1024)
            continue;
        part.logicalSectorSize = disk.logicalSectorSize;
        part.removable = disk.removable;
        ReadDevNumbers(partDir, part);
        partitions.push_back(std::move(part));
    }
    std::sort(partitions.begin(), partitions.end(),
              [](const auto& a, const auto& b) { return a.partitionNumber < b.partitionNumber; });
    return partitions;
}

std::vector<std::string> SortedBlockNames(const SystemRoots& roots) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(roots.sys / "block", ec), end; !ec && it != end;
         it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), DeviceNameLess);
    return names;
}

}  // namespace

bool IsListedDeviceName(const std::string& name) {
    return RoleOf(std::filesystem::path(), name) != Role::Skip && name.rfind("loop", 0) != 0;
}

DriveInventory DiscoverDrives(const SystemRoots& roots) {
    DriveInventory inventory;
    const std::vector<MountEntry> mounts = ReadMounts(roots.mountInfo);
    for (const std::string& name : SortedBlockNames(roots)) {
        const Role role = RoleOf(roots.sys / "block" / name, name);
        if (role == Role::Skip)
            continue;
        BlockDeviceInfo disk = ReadDiskEntry(roots, name);
        std::vector<BlockDeviceInfo> partitions = ReadPartitionEntries(roots, disk);
        if (role == Role::Volume || partitions.empty()) {
            // A device without a partition table may hold a file system itself (a card
            // formatted as a "superfloppy"): then it is a volume too.
            BlockDeviceInfo whole = disk;
            AddMountAndProbe(mounts, whole);
            if (role == Role::Volume || (whole.fileSystem && !whole.fileSystem->type.empty())) {
                inventory.volumes.push_back(std::move(whole));
            }
        }
        if (role == Role::Disk) {
            inventory.disks.push_back(std::move(disk));
            for (auto& part : partitions) {
                AddMountAndProbe(mounts, part);
                inventory.volumes.push_back(std::move(part));
            }
        }
    }
    return inventory;
}

std::optional<BlockDeviceInfo> DescribeBlockDevice(const SystemRoots& roots,
                                                   const std::string& name) {
    const std::vector<MountEntry> mounts = ReadMounts(roots.mountInfo);
    std::error_code ec;
    if (fs::exists(roots.sys / "block" / name, ec)) {
        BlockDeviceInfo disk = ReadDiskEntry(roots, name);
        AddMountAndProbe(mounts, disk);
        return disk;
    }
    for (const std::string& diskName : SortedBlockNames(roots)) {
        if (!fs::exists(roots.sys / "block" / diskName / name / "partition", ec))
            continue;
        for (BlockDeviceInfo& part : ReadPartitionEntries(roots, ReadDiskEntry(roots, diskName))) {
            if (part.name == name) {
                AddMountAndProbe(mounts, part);
                return part;
            }
        }
    }
    return std::nullopt;
}

std::vector<BlockDeviceInfo> PartitionsOf(const SystemRoots& roots, const std::string& diskName) {
    return ReadPartitionEntries(roots, ReadDiskEntry(roots, diskName));
}

}  // namespace duzez::platform
