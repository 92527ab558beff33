// duzez-cli drives / info: the drive list as the drive tree shows it, and one volume.

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "cli/session.h"
#include "cli/terminal_text.h"

namespace duzez::cli {
namespace {

using devices::CVolume;
namespace Ids = filesystems::FileSystemIds;

std::string Text(core::CApp& app, std::optional<core::StringId> id, const char* fallback = "") {
    return id ? app.Languages().GetString(*id) : std::string(fallback);
}

// Whether this user may open the drive for reading, and if not, why in a few words.
struct Access {
    bool readable = false;
    std::string reason;  // empty when readable
};

// The group whose members may read the device node at `path` ("disk"); empty when only
// root may.
std::string ReadingGroup(const std::string& path) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0 || (node.st_mode & S_IRGRP) == 0 || node.st_gid == 0)
        return {};
    std::vector<char> buffer(4096);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(node.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return {};
    }
    return found->gr_name;
}

Access AccessOf(CVolume& volume) {
    // A found volume is read through its disk's device, whose path this is.
    const std::string path = volume.GetDevicePath();
    if (path.empty())
        return {false, "no device to read"};
    const int error = ReadOpenError(path);
    if (error == 0)
        return {true, {}};
    if (error == EACCES || error == EPERM) {
        // Root is refused only by the system itself (a container, a locked device).
        if (::geteuid() == 0)
            return {false, "permission denied"};
        struct stat node {};
        if (::stat(path.c_str(), &node) == 0 && !S_ISBLK(node.st_mode))
            return {false, "permission denied"};
        const std::string group = ReadingGroup(path);
        return {false, group.empty() ? "needs root" : "needs root or the " + group + " group"};
    }
    return {false, SystemErrorText(error)};
}

// "31.9 GB (31,914,983,424 bytes)"; "512 bytes" says it all.
std::string SizeText(std::uint64_t bytes) {
    const std::string human = HumanSize(bytes);
    return bytes < 1000 ? human : human + " (" + GroupedDigits(bytes) + " bytes)";
}

bool KnownFileSystem(const CVolume& volume) {
    return volume.FileSystem->FileSystemId != Ids::None;
}

// The serial number as file-system tools show it: "0x1234abcd", 16 digits for NTFS's 64
// bits; null when there is none.
nlohmann::ordered_json SerialText(const CVolume& volume) {
    const std::uint32_t id = volume.FileSystem->FileSystemId;
    const bool wide = id == Ids::Ntfs || (id == Ids::None && volume.SerialNumber > 0xFFFFFFFFull);
    const std::uint64_t serial = wide ? volume.SerialNumber : volume.SerialNumber & 0xFFFFFFFFu;
    if (serial == 0)
        return nullptr;
    char text[24];
    std::snprintf(text, sizeof text, wide ? "0x%016llx" : "0x%08llx",
                  static_cast<unsigned long long>(serial));
    return text;
}

nlohmann::ordered_json VolumeJson(core::CApp& app, std::optional<std::size_t> number,
                                  CVolume& volume, const Access& access) {
    nlohmann::ordered_json j;
    j["number"] = number ? nlohmann::ordered_json(*number) : nlohmann::ordered_json();
    j["kind"] = Text(app, devices::VolumeCategoryText(volume.VolumeType));
    j["mediaType"] = Text(app, devices::DriveTypeText(volume.DriveType), "unknown");
    j["devicePath"] = volume.GetDevicePath();
    j["name"] = volume.GetDisplayName();
    j["size"] = volume.TotalSize;
    j["fileSystem"] = volume.FileSystem->FileSystemName;
    // A drive this user cannot open is not ready for anything this program does.
    j["state"] = access.readable
                     ? app.Languages().GetString(devices::VolumeStateText(volume.VolumeState))
                     : access.reason;
    j["readable"] = access.readable;
    j["unreadableReason"] =
        access.readable ? nlohmann::ordered_json() : nlohmann::ordered_json(access.reason);
    return j;
}

nlohmann::ordered_json VolumeDetailsJson(core::CApp& app, std::optional<std::size_t> number,
                                         CVolume& volume, const Access& access) {
    nlohmann::ordered_json j = VolumeJson(app, number, volume, access);
    const bool fileSystem = KnownFileSystem(volume);
    j["rootPath"] = volume.RootPath;
    j["label"] = volume.VolumeLabel;
    j["serialNumber"] = SerialText(volume);
    j["diskOffset"] = PositionOnDisk(volume);
    j["totalSectors"] = volume.TotalSectors;
    j["bytesPerSector"] = volume.BytesPerSector;
    j["sectorsPerCluster"] =
        fileSystem ? nlohmann::ordered_json(volume.SectorsPerCluster) : nlohmann::ordered_json();
    j["clusterSize"] =
        fileSystem ? nlohmann::ordered_json(volume.ClusterSize) : nlohmann::ordered_json();
    j["freeBytes"] =
        volume.FreeBytesKnown ? nlohmann::ordered_json(volume.FreeBytes) : nlohmann::ordered_json();
    j["description"] = volume.Description;
    const CVolume* parent = volume.GetParentVolume();
    j["parent"] = parent != nullptr
                      ? nlohmann::ordered_json(const_cast<CVolume*>(parent)->GetDisplayName())
                      : nlohmann::ordered_json();
    return j;
}

void PrintDriveTable(core::CApp& app, devices::CVolumesList& list) {
    std::printf("%-3s %-12s %-14s %-28s %10s  %-8s %s\n", "#", "Kind", "Device", "Name", "Size",
                "FS", "State");
    const auto volumes = list.Snapshot();
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const nlohmann::ordered_json j = VolumeJson(app, i, *volumes[i], AccessOf(*volumes[i]));
        const auto field = [&j](const char* key) {
            return TerminalText(j[key].get<std::string>());
        };
        std::printf("%-3zu %-12s %-14s %-28s %10s  %-8s %s\n", i, field("kind").c_str(),
                    field("devicePath").c_str(), field("name").c_str(),
                    HumanSize(volumes[i]->TotalSize).c_str(), field("fileSystem").c_str(),
                    field("state").c_str());
    }
    if (volumes.empty()) {
        std::printf("(no drives found)\n");
    }
}

// Names and paths come from disks and from the user: what is not UTF-8 becomes U+FFFD in
// the JSON instead of an abort.
std::string JsonText(const nlohmann::ordered_json& document) {
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

int ShowDrives(const GlobalOptions& options, bool json) {
    Session session(options, true);
    auto& list = session.Computer().Volumes();
    if (json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        const auto volumes = list.Snapshot();
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            out.push_back(VolumeJson(session.App(), i, *volumes[i], AccessOf(*volumes[i])));
        }
        std::cout << JsonText(out) << '\n';
    } else {
        PrintDriveTable(session.App(), list);
    }
    return kDone;
}

// The lines of `info`: words a person reads, in the order they ask about a card.
void PrintDetails(const nlohmann::ordered_json& j, CVolume& volume) {
    std::vector<std::pair<std::string, std::string>> rows;
    const auto text = [&j](const char* key) { return j[key].get<std::string>(); };
    if (!j["number"].is_null())
        rows.emplace_back("Number", "#" + std::to_string(j["number"].get<std::size_t>()));
    rows.emplace_back("Kind", text("kind"));
    rows.emplace_back("Media", text("mediaType"));
    rows.emplace_back("Device", text("devicePath"));
    rows.emplace_back("Name", text("name"));
    if (!volume.Description.empty() && volume.Description != text("name"))
        rows.emplace_back("Description", volume.Description);
    if (volume.GetParentVolume() != nullptr) {
        rows.emplace_back("On disk", text("parent"));
        rows.emplace_back(
            "Starts at",
            "byte " + GroupedDigits(j["diskOffset"].get<std::uint64_t>()) + " of the disk");
    }
    rows.emplace_back("Size", SizeText(volume.TotalSize));
    rows.emplace_back("512-byte sectors", GroupedDigits(volume.TotalSectors));
    rows.emplace_back("Bytes per sector", std::to_string(volume.BytesPerSector));
    rows.emplace_back("File system", text("fileSystem"));
    rows.emplace_back("Label", volume.VolumeLabel.empty() ? "none" : volume.VolumeLabel);
    rows.emplace_back("Serial number", j["serialNumber"].is_null() ? "none" : text("serialNumber"));
    if (KnownFileSystem(volume))
        rows.emplace_back("Cluster size", SizeText(volume.ClusterSize));
    rows.emplace_back("Free space", volume.FreeBytesKnown ? SizeText(volume.FreeBytes) : "unknown");
    if (!volume.RootPath.empty() && volume.RootPath != text("devicePath"))
        rows.emplace_back("Mounted at", volume.RootPath);
    rows.emplace_back("State", text("state"));
    rows.emplace_back("Readable", j["readable"].get<bool>() ? "yes" : "no");
    std::size_t width = 0;
    for (const auto& row : rows)
        width = std::max(width, row.first.size());
    for (const auto& [label, value] : rows) {
        std::cout << label << ':' << std::string(width + 2 - label.size(), ' ')
                  << TerminalText(value) << '\n';
    }
}

int ShowInfo(const GlobalOptions& options, const std::string& target, bool json) {
    Session session(options);
    CVolume* volume = session.ResolveTarget(target);
    if (volume == nullptr)
        return kBadInput;
    // The number 'drives' shows it under. An image file joins this run's list only: a
    // fresh 'drives' never lists it, so its place here is no number to give.
    std::optional<std::size_t> number;
    if (volume->VolumeType != devices::VolumeKind::Image) {
        const auto volumes = session.Computer().Volumes().Snapshot();
        const auto at = std::find_if(volumes.begin(), volumes.end(), [volume](const auto& listed) {
            return listed.get() == volume;
        });
        if (at != volumes.end())
            number = static_cast<std::size_t>(at - volumes.begin());
    }
    const Access access = AccessOf(*volume);
    // The free space is counted in the file system's own tables when the mounted system
    // did not tell it; a query still running in the background leaves it unknown.
    if (access.readable && !volume->InformationRunning.load() && volume->OpenDrive())
        volume->MeasureFreeSpace();
    const nlohmann::ordered_json j = VolumeDetailsJson(session.App(), number, *volume, access);
    if (json) {
        std::cout << JsonText(j) << '\n';
        return kDone;
    }
    PrintDetails(j, *volume);
    return kDone;
}

}  // namespace

void PrintDriveList(const GlobalOptions& options) {
    Session session(options, true);
    std::printf("\nDrives:\n");
    PrintDriveTable(session.App(), session.Computer().Volumes());
}

void AddDriveCommands(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    auto json = std::make_shared<bool>(false);
    CLI::App* drives = app.add_subcommand(
        "drives", "List this machine's disks and volumes; image files are named by their path");
    drives->add_flag("--json", *json, "One JSON document on stdout");
    drives->callback([&body, &options, json] {
        body = [&options, json] { return ShowDrives(options, *json); };
    });

    auto target = std::make_shared<std::string>();
    auto infoJson = std::make_shared<bool>(false);
    CLI::App* info = app.add_subcommand("info", "Show what is known about one volume");
    info->add_option("TARGET", *target, kTargetHelp)->required();
    info->add_flag("--json", *infoJson, "One JSON document on stdout");
    info->callback([&body, &options, target, infoJson] {
        body = [&options, target, infoJson] { return ShowInfo(options, *target, *infoJson); };
    });
}

}  // namespace duzez::cli
