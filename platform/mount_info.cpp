#include "platform/mount_info.h"

#include <charconv>

namespace duzez::platform {
namespace {

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const std::size_t blank = line.find(' ');
        if (blank != 0)
            fields.push_back(line.substr(0, blank));
        if (blank == std::string_view::npos)
            break;
        line.remove_prefix(blank + 1);
    }
    return fields;
}

std::string Unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            int value = 0;
            bool octal = true;
            for (std::size_t k = 1; k <= 3; ++k) {
                const char c = s[i + k];
                if (c < '0' || c > '7')
                    octal = false;
                value = value * 8 + (c - '0');
            }
            if (octal && value < 256) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const auto fields = Fields(line);
        // id parent major:minor root mountpoint options [optional...] - fstype source super
        std::size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-")
            ++separator;
        if (fields.size() < 5 || separator + 2 >= fields.size())
            continue;
        const std::string_view device = fields[2];
        const std::size_t colon = device.find(':');
        if (colon == std::string_view::npos)
            continue;
        MountEntry entry;
        const auto majorResult = std::from_chars(device.data(), device.data() + colon, entry.major);
        const auto minorResult =
            std::from_chars(device.data() + colon + 1, device.data() + device.size(), entry.minor);
        if (majorResult.ec != std::errc() || minorResult.ec != std::errc())
            continue;
        entry.mountPoint = Unescape(fields[4]);
        entry.fileSystem = std::string(fields[separator + 1]);
        entry.source = Unescape(fields[separator + 2]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace duzez::platform
