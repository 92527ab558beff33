#pragma once

// Whether a path lies on a given device: an image must never be written onto the disk or
// image it is copied from.

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

}  // namespace duzez::platform
