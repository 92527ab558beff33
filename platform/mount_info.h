#pragma once

// /proc/self/mountinfo, for the mount points of block devices.

#include <string>
#include <string_view>
#include <vector>

namespace duzez::platform {

struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string mountPoint;  // octal escapes (\040 for a blank) resolved
    std::string fileSystem;
    std::string source;
};

std::vector<MountEntry> ParseMountInfo(std::string_view text);

}  // namespace duzez::platform
