// duzez-cli drives / info: the drive list as the drive tree shows it, and one volume.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/session.h"
#include "cli/terminal_text.h"

namespace duzez::cli {
namespace {

using devices::CVolume;

std::string Text(core::CApp& app, std::optional<core::StringId> id, const char* fallback = "") {
    return id ? app.Languages().GetString(*id) : std::string(fallback);
}

nlohmann::ordered_json VolumeJson(core::CApp& app, std::size_t index, CVolume& volume) {
    nlohmann::ordered_json j;
    j["number"] = index;
    j["kind"] = Text(app, devices::VolumeCategoryText(volume.VolumeType));
    j["mediaType"] = Text(app, devices::DriveTypeText(volume.DriveType), "unknown");
    j["devicePath"] = volume.GetDevicePath();
    j["name"] = volume.GetDisplayName();
    j["size"] = volume.TotalSize;
    j["fileSystem"] = volume.FileSystem->FileSystemName;
    j["state"] = app.Languages().GetString(devices::VolumeStateText(volume.VolumeState));
    return j;
}

nlohmann::ordered_json VolumeDetailsJson(core::CApp& app, std::size_t index, CVolume& volume) {
    nlohmann::ordered_json j = VolumeJson(app, index, volume);
    j["rootPath"] = volume.RootPath;
    j["label"] = volume.VolumeLabel;
    j["serialNumber"] = volume.SerialNumber;
    j["startOffset"] = volume.StartOffset;
    j["totalSectors"] = volume.TotalSectors;
    j["bytesPerSector"] = volume.BytesPerSector;
    j["sectorsPerCluster"] = volume.SectorsPerCluster;
    j["clusterSize"] = volume.ClusterSize;
    j["freeBytes"] = volume.FreeBytes;
    j["description"] = volume.Description;
    if (const CVolume* parent = volume.GetParentVolume()) {
        j["parent"] = const_cast<CVolume*>(parent)->GetDisplayName();
    }
    return j;
}

void PrintDriveTable(core::CApp& app, devices::CVolumesList& list) {
    std::printf("%-3s %-12s %-14s %-28s %10s  %-8s %s\n", "#", "Kind", "Device", "Name", "Size",
                "FS", "State");
    const auto volumes = list.Snapshot();
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const nlohmann::ordered_json j = VolumeJson(app, i, *volumes[i]);
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
            out.push_back(VolumeJson(session.App(), i, *volumes[i]));
        }
        std::cout << JsonText(out) << '\n';
    } else {
        PrintDriveTable(session.App(), list);
    }
    return kDone;
}

int ShowInfo(const GlobalOptions& options, const std::string& target, bool json) {
    Session session(options);
    CVolume* volume = session.ResolveTarget(target);
    if (volume == nullptr)
        return kBadInput;
    std::size_t index = 0;
    while (session.Computer().Volumes().GetAt(index) != volume)
        ++index;
    const nlohmann::ordered_json j = VolumeDetailsJson(session.App(), index, *volume);
    if (json) {
        std::cout << JsonText(j) << '\n';
        return kDone;
    }
    for (const auto& [key, value] : j.items()) {
        std::cout << key << ": "
                  << TerminalText(
                         value.is_string()
                             ? value.get<std::string>()
                             : value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))
                  << '\n';
    }
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
    CLI::App* drives = app.add_subcommand("drives", "List the disks, volumes and images");
    drives->add_flag("--json", *json, "One JSON document on stdout");
    drives->callback([&body, &options, json] {
        body = [&options, json] { return ShowDrives(options, *json); };
    });

    auto target = std::make_shared<std::string>();
    auto infoJson = std::make_shared<bool>(false);
    CLI::App* info = app.add_subcommand("info", "Show what is known about one volume");
    info->add_option("TARGET", *target, "#N from 'drives', a device path or an image file")
        ->required();
    info->add_flag("--json", *infoJson, "One JSON document on stdout");
    info->callback([&body, &options, target, infoJson] {
        body = [&options, target, infoJson] { return ShowInfo(options, *target, *infoJson); };
    });
}

}  // namespace duzez::cli
