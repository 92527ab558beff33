#include "platform/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>

namespace duzez::platform {
namespace {

namespace fs = std::filesystem;

// The whole disk a block device number belongs to (itself for a disk).
dev_t WholeDisk(dev_t device, const fs::path& sysRoot) {
    std::error_code ec;
    const fs::path link = sysRoot / "dev" / "block" /
                          (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
    const fs::path real = fs::canonical(link, ec);
    if (ec || !fs::exists(real / "partition", ec))
        return device;
    std::ifstream dev(real.parent_path() / "dev");
    unsigned diskMajor = 0;
    unsigned diskMinor = 0;
    char colon = 0;
    if (dev >> diskMajor >> colon >> diskMinor && colon == ':')
        return makedev(diskMajor, diskMinor);
    return device;
}

fs::path NearestExisting(fs::path path) {
    std::error_code ec;
    path = fs::absolute(path, ec);
    while (!path.empty() && !fs::exists(path, ec)) {
        if (path == path.parent_path())
            break;
        path = path.parent_path();
    }
    return path;
}

}  // namespace

bool IsReadable(const fs::path& path) {
    return ::access(path.c_str(), R_OK) == 0;
}

bool PathLiesOnSource(const fs::path& target, const fs::path& source, const fs::path& sysRoot) {
    struct stat sourceInfo {};
    if (::stat(source.c_str(), &sourceInfo) != 0)
        return false;
    std::error_code ec;
    if (S_ISREG(sourceInfo.st_mode)) {
        // An image file: only the file itself is out of bounds.
        return fs::exists(target, ec) && fs::equivalent(target, source, ec);
    }
    if (!S_ISBLK(sourceInfo.st_mode))
        return false;
    if (fs::exists(target, ec) && fs::equivalent(target, source, ec))
        return true;
    struct stat targetInfo {};
    if (::stat(NearestExisting(target).c_str(), &targetInfo) != 0)
        return false;
    const dev_t sourceDevice = sourceInfo.st_rdev;
    const dev_t targetDevice = targetInfo.st_dev;
    return targetDevice == sourceDevice ||
           WholeDisk(targetDevice, sysRoot) == WholeDisk(sourceDevice, sysRoot);
}

bool FolderHolds(const fs::path& folder, const fs::path& file) {
    std::error_code ec;
    const fs::path outer = fs::weakly_canonical(folder, ec);
    if (ec)
        return false;
    const fs::path inner = fs::weakly_canonical(file, ec);
    if (ec)
        return false;
    auto part = inner.begin();
    for (const auto& component : outer) {
        if (component.empty())
            continue;  // the empty last part of "/a/b/"
        if (part == inner.end() || *part != component)
            return false;
        ++part;
    }
    return part != inner.end();
}

}  // namespace duzez::platform
