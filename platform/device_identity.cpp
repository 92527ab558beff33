#include "platform/device_identity.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <charconv>
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

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.pop_back();
    const auto first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::uint64_t Number(const fs::path& file) {
    const std::string text = FirstLine(file);
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The serial of a whole device: MMC and NVMe name it beside the disk, SCSI gives a wwid,
// and a USB reader keeps it on the USB device a few levels above.
std::string SerialOf(const fs::path& diskDir) {
    std::error_code ec;
    const fs::path device = diskDir / "device";
    for (const char* name : {"serial", "wwid"}) {
        const std::string text = FirstLine(device / name);
        if (!text.empty())
            return text;
    }
    fs::path above = fs::canonical(device, ec);
    if (ec)
        return {};
    for (int level = 0; level < 8 && above.has_relative_path(); ++level) {
        above = above.parent_path();
        if (fs::exists(above / "idVendor", ec)) {
            const std::string text = FirstLine(above / "serial");
            return text.empty() ? std::string() : FirstLine(above / "idVendor") + ":" + text;
        }
    }
    return {};
}

}  // namespace

void DeviceIdentity::FillFrom(const DeviceIdentity& other) {
    if (serial.empty())
        serial = other.serial;
    if (fileSystemUuid.empty())
        fileSystemUuid = other.fileSystemUuid;
    if (partitionUuid.empty())
        partitionUuid = other.partitionUuid;
    if (partitionNumber == 0)
        partitionNumber = other.partitionNumber;
    if (sizeBytes == 0)
        sizeBytes = other.sizeBytes;
}

bool SameMedium(const DeviceIdentity& a, const DeviceIdentity& b) {
    bool compared = false;
    const auto agree = [&compared](const std::string& x, const std::string& y) {
        if (x.empty() || y.empty())
            return true;
        compared = true;
        return x == y;
    };
    if (!agree(a.serial, b.serial) || !agree(a.fileSystemUuid, b.fileSystemUuid) ||
        !agree(a.partitionUuid, b.partitionUuid)) {
        return false;
    }
    // One serial covers every partition of a card: the number tells them apart.
    if (a.partitionNumber != b.partitionNumber)
        return false;
    if (a.sizeBytes != 0 && b.sizeBytes != 0 && a.sizeBytes != b.sizeBytes)
        return false;
    return compared;
}

DeviceIdentity ReadDeviceIdentity(const fs::path& sysRoot, const std::string& kernelName,
                                  const std::string& fileSystemUuid) {
    DeviceIdentity identity;
    identity.fileSystemUuid = fileSystemUuid;
    if (kernelName.empty() || kernelName.find('/') != std::string::npos || kernelName == "." ||
        kernelName == "..") {
        return identity;
    }
    std::error_code ec;
    fs::path dir = sysRoot / "block" / kernelName;
    fs::path diskDir = dir;
    if (!fs::exists(dir, ec)) {
        dir.clear();
        for (fs::directory_iterator it(sysRoot / "block", ec), end; !ec && it != end;
             it.increment(ec)) {
            if (fs::exists(it->path() / kernelName / "partition", ec)) {
                diskDir = it->path();
                dir = diskDir / kernelName;
                break;
            }
        }
        if (dir.empty())
            return identity;
        identity.partitionNumber = static_cast<std::uint32_t>(Number(dir / "partition"));
    }
    identity.sizeBytes = Number(dir / "size") * 512;  // sysfs counts 512-byte units
    identity.serial = SerialOf(diskDir);
    return identity;
}

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
