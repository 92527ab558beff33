// duzez-cli partitions / image / find-lost: partition tables, drive images, and the
// search for lost volumes over every sector.

#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/session.h"
#include "cli/terminal_text.h"
#include "devices/drive_image.h"
#include "devices/partition_table.h"

namespace duzez::cli {
namespace {

using devices::CVolume;

// The volume that stands for a partition of `disk` at `startByte`: a listed partition
// or a found volume.
CVolume* VolumeAt(Session& session, CVolume& disk, std::uint64_t startByte) {
    for (CVolume* volume : VolumesOn(session, disk)) {
        if (PositionOnDisk(*volume) == startByte)
            return volume;
    }
    return nullptr;
}

int ShowPartitions(const GlobalOptions& options, const std::string& target, bool json) {
    Session session(options);
    CVolume* disk = session.ResolveTarget(target);
    if (disk == nullptr)
        return kBadInput;
    // A disk that cannot be read is not a disk without partitions. Reading the boot area
    // also lists the partitions that are not known yet.
    if (!OpenForReading(*disk) || !ReadBootArea(*disk, TargetName(target, *disk)))
        return kBadInput;
    const std::uint32_t logical =
        disk->VolumeType == devices::VolumeKind::Physical ? disk->Geometry.BytesPerSector : 0;
    const auto walk = devices::WalkPartitionTables(
        [disk](std::uint64_t sector, std::span<std::uint8_t> buffer) {
            return disk->ReadSectors(buffer, sector, std::uint64_t{1}) == CVolume::kSectorSize;
        },
        disk->TotalSectors, logical);
    const bool gpt = walk.kind == devices::TableKind::Gpt;
    // Numbered from 1 in the order they lie on the disk, as 'list --volume N' counts; a
    // damaged entry is shown but is no volume, so it takes no number.
    auto partitions = walk.partitions;
    std::stable_sort(partitions.begin(), partitions.end(),
                     [](const auto& a, const auto& b) { return a.startSector < b.startSector; });
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    if (!json) {
        if (gpt) {
            std::printf(
                "GUID partition table, %u-byte sectors%s\n", walk.logicalSectorSize,
                walk.gptFromBackup ? " (the primary copy is damaged; the backup was read)" : "");
        }
        std::printf("%-3s %-14s %12s  %-22s %-8s %s\n", "#", "Start (byte)", "Size", "Type", "FS",
                    gpt ? "Name / label" : "Label");
    }
    int number = 0;
    for (const auto& partition : partitions) {
        const std::uint64_t start = partition.startSector * CVolume::kSectorSize;
        const std::uint64_t size = partition.sectorCount * CVolume::kSectorSize;
        CVolume* volume = partition.damaged ? nullptr : VolumeAt(session, *disk, start);
        const std::string fs = volume != nullptr ? volume->FileSystem->FileSystemName : "";
        const std::string label = volume != nullptr ? volume->VolumeLabel : "";
        char mbrType[8];
        std::snprintf(mbrType, sizeof mbrType, "0x%02x", partition.type);
        const std::string type = gpt ? partition.typeName : mbrType;
        const std::string shownNumber = partition.damaged ? "-" : std::to_string(++number);
        if (json) {
            nlohmann::ordered_json item = {
                {"number",
                 partition.damaged ? nlohmann::ordered_json() : nlohmann::ordered_json(number)},
                {"start", start},
                {"size", size}};
            if (gpt) {
                item["type"] = partition.typeName;
                item["name"] = partition.name;
                item["damaged"] = partition.damaged;
            } else {
                item["type"] = partition.type;
            }
            item["fileSystem"] = fs;
            item["label"] = label;
            out.push_back(std::move(item));
        } else {
            std::string names = gpt ? partition.name : label;
            if (gpt && !label.empty() && label != "NO NAME")
                names += names.empty() ? label : " / " + label;
            if (partition.damaged)
                names += " (damaged entry: outside the disk's usable area, not read)";
            std::printf("%-3s %-14llu %12s  %-22s %-8s %s\n", shownNumber.c_str(),
                        static_cast<unsigned long long>(start), HumanSize(size).c_str(),
                        TerminalText(type).c_str(), TerminalText(fs).c_str(),
                        TerminalText(names).c_str());
        }
    }
    if (json) {
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else if (partitions.empty()) {
        std::printf("(no partition table, or no partitions in it)\n");
    }
    if (walk.gptUnreadable) {
        std::fprintf(stderr,
                     "warning: both copies of the GUID partition table are damaged; "
                     "'find-lost' can still find the volumes by their boot sectors\n");
    }
    if (walk.cutShort) {
        std::fprintf(stderr,
                     "warning: the chain of extended partitions loops or is longer than "
                     "%zu tables; the walk stopped there\n",
                     devices::kMaxTables);
    }
    return kDone;
}

int CreateImage(const GlobalOptions& options, const std::string& target, const std::string& output,
                bool skipBad) {
    Session session(options);
    CVolume* volume = session.ResolveTarget(target);
    if (volume == nullptr || !OpenForReading(*volume))
        return kBadInput;
    std::string error;
    auto copy = devices::CreateImage(*volume, output, nullptr, skipBad, error);
    if (!copy) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return kBadInput;
    }
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    while (!copy->Job.Finished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const std::uint64_t total = copy->Job.TotalSectors;
        if (!terminal || total == 0)
            continue;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::uint64_t done = copy->Job.CurrentSector;
        std::fprintf(stderr, "\r%3llu%%  %7.1f MB/s  %02d:%02d ",
                     static_cast<unsigned long long>(done * 100 / total),
                     seconds > 0 ? static_cast<double>(done) * 512 / 1e6 / seconds : 0.0,
                     static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    }
    copy->Wait();
    if (terminal)
        std::fputc('\n', stderr);
    const auto& job = copy->Job;
    std::printf("%llu of %llu sectors written to %s\n",
                static_cast<unsigned long long>(job.SectorsWritten.load()),
                static_cast<unsigned long long>(job.TotalSectors.load()), output.c_str());
    if (!job.BadRanges.empty()) {
        std::uint64_t bad = 0;
        for (const auto& range : job.BadRanges)
            bad += range.second;
        std::printf("%llu unreadable sectors were written as zeros; their ranges are in %s.bad\n",
                    static_cast<unsigned long long>(bad), output.c_str());
    }
    if (!job.Error.empty()) {
        std::fprintf(stderr, "error: the image is incomplete: %s\n", job.Error.c_str());
        return kDoneWithFailures;
    }
    return job.BadRanges.empty() ? kDone : kDoneWithFailures;
}

int FindLost(const GlobalOptions& options, const std::string& target) {
    Session session(options);
    CVolume* disk = session.ResolveTarget(target);
    if (disk == nullptr || !OpenForReading(*disk))
        return kBadInput;
    // Not one sector to search: "no volumes found" would pass for an answer.
    if (disk->TotalSize < CVolume::kSectorSize) {
        std::fprintf(stderr, "error: cannot read the first sector of %s\n",
                     TerminalText(TargetName(target, *disk)).c_str());
        return kBadInput;
    }
    disk->VolumesOnly = 1;
    session.App().AnalysisRunning = true;
    ScanSectors(session.Computer(), *disk);
    const std::vector<CVolume*> found = VolumesOn(session, *disk);
    std::printf("%-3s %-14s %-8s %s\n", "#", "Start (byte)", "FS", "Label");
    int number = 0;
    for (const CVolume* volume : found) {
        std::printf("%-3d %-14llu %-8s %s\n", ++number,
                    static_cast<unsigned long long>(volume->StartOffset),
                    TerminalText(volume->FileSystem->FileSystemName).c_str(),
                    TerminalText(volume->VolumeLabel).c_str());
    }
    if (found.empty())
        std::printf("(no volumes found)\n");
    return kDone;
}

}  // namespace

void AddPartitionCommands(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    auto target = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    CLI::App* partitions =
        app.add_subcommand("partitions", "The partitions the partition tables list");
    partitions->add_option("TARGET", *target, "#N from 'drives', a device or an image")->required();
    partitions->add_flag("--json", *json, "One JSON document on stdout");
    partitions->callback([&body, &options, target, json] {
        body = [&options, target, json] { return ShowPartitions(options, *target, *json); };
    });

    auto source = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    auto skipBad = std::make_shared<bool>(false);
    CLI::App* image = app.add_subcommand("image", "Copy a drive sector by sector into a new file");
    image->add_option("TARGET", *source, "#N from 'drives', a device or an image")->required();
    image->add_option("OUT", *output, "The image file to create (.dsk)")->required();
    image->add_flag("--skip-bad", *skipBad,
                    "Go on past unreadable sectors: zeros in the image, ranges in OUT.bad");
    image->callback([&body, &options, source, output, skipBad] {
        body = [&options, source, output, skipBad] {
            return CreateImage(options, *source, *output, *skipBad);
        };
    });

    auto lost = std::make_shared<std::string>();
    CLI::App* findLost = app.add_subcommand("find-lost", "Search every sector for lost volumes");
    findLost->add_option("TARGET", *lost, "#N from 'drives', a device or an image")->required();
    findLost->callback(
        [&body, &options, lost] { body = [&options, lost] { return FindLost(options, *lost); }; });
}

}  // namespace duzez::cli
