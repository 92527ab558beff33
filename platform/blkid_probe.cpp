#include "platform/blkid_probe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <memory>

#include "platform/unique_fd.h"

namespace duzez::platform {
namespace {

struct ProbeDeleter {
    void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};

std::string Lookup(blkid_probe probe, const char* name) {
    const char* value = nullptr;
    std::size_t length = 0;
    if (blkid_probe_lookup_value(probe, name, &value, &length) != 0 || value == nullptr) {
        return {};
    }
    // Lengths include the terminating zero.
    return std::string(value, length > 0 && value[length - 1] == '\0' ? length - 1 : length);
}

using ProbeHandle = std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter>;

std::optional<FileSystemProbe> Collect(blkid_probe probe) {
    FileSystemProbe result;
    result.type = Lookup(probe, "TYPE");
    result.version = Lookup(probe, "VERSION");
    result.label = Lookup(probe, "LABEL");
    result.uuid = Lookup(probe, "UUID");
    result.partitionType = Lookup(probe, "PART_ENTRY_TYPE");
    if (result.type.empty() && result.partitionType.empty())
        return std::nullopt;
    return result;
}

}  // namespace

std::optional<FileSystemProbe> ProbeFileSystemAt(const std::filesystem::path& path,
                                                 std::uint64_t offset, std::uint64_t size) {
    if (size == 0)
        return std::nullopt;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    ProbeHandle probe(blkid_new_probe());
    if (!probe || blkid_probe_set_device(probe.get(), fd.get(), static_cast<blkid_loff_t>(offset),
                                         static_cast<blkid_loff_t>(size)) != 0) {
        return std::nullopt;
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID |
                                                       BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 0);
    if (blkid_do_safeprobe(probe.get()) != 0)
        return std::nullopt;
    return Collect(probe.get());
}

std::string FileSystemDisplayName(const FileSystemProbe& probe) {
    static const std::map<std::string, std::string> kNames = {{"ntfs", "NTFS"},
                                                              {"exfat", "exFAT"},
                                                              {"ext2", "ext2"},
                                                              {"ext3", "ext3"},
                                                              {"ext4", "ext4"},
                                                              {"btrfs", "Btrfs"},
                                                              {"xfs", "XFS"},
                                                              {"hfsplus", "HFS+"},
                                                              {"hfs", "HFS"},
                                                              {"apfs", "APFS"},
                                                              {"iso9660", "ISO 9660"},
                                                              {"udf", "UDF"},
                                                              {"swap", "Linux swap"},
                                                              {"crypto_LUKS", "LUKS"},
                                                              {"LVM2_member", "LVM"},
                                                              {"linux_raid_member", "Linux RAID"},
                                                              {"f2fs", "F2FS"},
                                                              {"zfs_member", "ZFS"},
                                                              {"BitLocker", "BitLocker"},
                                                              {"squashfs", "SquashFS"}};
    if (probe.type == "vfat")
        return probe.version.empty() ? "FAT" : probe.version;
    const auto known = kNames.find(probe.type);
    return known != kNames.end() ? known->second : probe.type;
}

std::optional<FileSystemProbe> ProbeFileSystem(const std::filesystem::path& device) {
    ProbeHandle probe(blkid_new_probe_from_filename(device.c_str()));
    if (!probe)
        return std::nullopt;
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID |
                                                       BLKID_SUBLKS_TYPE | BLKID_SUBLKS_VERSION);
    blkid_probe_enable_partitions(probe.get(), 1);
    blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
    if (blkid_do_safeprobe(probe.get()) != 0) {
        return std::nullopt;
    }
    return Collect(probe.get());
}

}  // namespace duzez::platform
