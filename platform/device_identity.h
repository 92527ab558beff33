#pragma once

// Whether a path lies on a given device: an image must never be written onto the disk or
// image it is copied from.

#include <cstdint>
#include <filesystem>
#include <string>

namespace duzez::platform {

// True when `target` (a file to be created; its nearest existing folder counts) would lie
// on `source`: the same file, the same block device, a file system on it, or on another
// partition of the same disk.
bool PathLiesOnSource(const std::filesystem::path& target, const std::filesystem::path& source,
                      const std::filesystem::path& sysRoot = "/sys");

// True when `file` lies anywhere below `folder` (links resolved on both sides).
bool FolderHolds(const std::filesystem::path& folder, const std::filesystem::path& file);

// Whether this process may read the file or device (no open, no error to report).
bool IsReadable(const std::filesystem::path& path);

// What a medium is, whatever kernel name it gets: a card taken out as sdb may come back
// as sdc, and another card may come back as sdb. Empty fields are unknown.
struct DeviceIdentity {
    std::string serial;          // of the whole device: the reader's, card's or disk's serial
    std::string fileSystemUuid;  // "ABCD-1234" for FAT, 16 hex digits for NTFS
    std::string partitionUuid;   // of the partition-table entry
    std::uint32_t partitionNumber = 0;  // 0 for a whole device
    std::uint64_t sizeBytes = 0;

    bool Known() const {
        return !serial.empty() || !fileSystemUuid.empty() || !partitionUuid.empty();
    }
    // Takes the fields this identity does not know from `other`.
    void FillFrom(const DeviceIdentity& other);
};

// True only when both identities know something and nothing they both know differs.
bool SameMedium(const DeviceIdentity& a, const DeviceIdentity& b);

// The serial, partition number and size sysfs gives for a kernel name (disk or
// partition), and the file-system UUID when `fileSystemUuid` is given.
DeviceIdentity ReadDeviceIdentity(const std::filesystem::path& sysRoot,
                                  const std::string& kernelName,
                                  const std::string& fileSystemUuid = {});

}  // namespace duzez::platform
