// duzez-cli partitions / image / find-lost: partition tables, drive images, and the
// search for lost volumes over every sector.

#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/interrupt.h"
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
        std::printf("%-3s %-14s %12s  %-22s %-8s %s\n", "#", "Disk offset", "Size", "Type", "FS",
                    gpt ? "Name / label" : "Label");
    }
    // The table counts from the start of what was read; a partition read as a disk (an
    // extended one, a disk inside a partition) lies that far into its own disk.
    const std::uint64_t base = PositionOnDisk(*disk);
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
                {"diskOffset", base + start},
                {"size", size}};
            if (gpt) {
                item["type"] = partition.typeName;
                item["name"] = partition.name;
            } else {
                item["type"] = partition.type;
                item["name"] = nullptr;  // MBR entries have no names
            }
            item["damaged"] = partition.damaged;
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
                        static_cast<unsigned long long>(base + start), HumanSize(size).c_str(),
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
    // Before any thread starts, so that every thread leaves Ctrl-C to it.
    InterruptWatch interrupts("Stopping; the image keeps what was copied so far.");
    Session session(options);
    CVolume* volume = session.ResolveTarget(target);
    if (volume == nullptr || !OpenForReading(*volume))
        return kBadInput;
    std::string error;
    auto copy =
        devices::CreateImage(*volume, output, nullptr, skipBad, error, platform::InvokingUser());
    if (!copy) {
        std::fprintf(stderr, "error: %s\n", error.c_str());
        return kBadInput;
    }
    const InterruptWatch::Handlers handlers(interrupts, [&copy] { copy->Stop(); });
    // Progress only on a terminal: a script reading stderr gets the messages alone.
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    const auto draw = [&copy, start](bool last) {
        const std::uint64_t total = copy->Job.TotalSectors;
        if (total == 0)
            return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const std::uint64_t done = std::min<std::uint64_t>(copy->Job.SectorsWritten, total);
        std::string time = "elapsed " + ClockText(seconds);
        // What is left at the pace so far, once there is a pace to go by.
        if (!last && done != 0)
            time += ", left " + ClockText(seconds * static_cast<double>(total - done) /
                                          static_cast<double>(done));
        std::fprintf(stderr, "\r\033[K%3llu%%  %7.1f MB/s  %s",
                     static_cast<unsigned long long>(done * 100 / total),
                     seconds > 0 ? static_cast<double>(done) * 512 / 1e6 / seconds : 0.0,
                     time.c_str());
    };
    while (!copy->Job.Finished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (terminal && !copy->Job.Finished)
            draw(false);
    }
    copy->Wait();
    // The last state stays on the terminal as the record of the copy.
    if (terminal && copy->Job.TotalSectors != 0) {
        draw(true);
        std::fputc('\n', stderr);
    }
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
    if (job.SectorsWritten < job.TotalSectors) {
        std::fprintf(stderr, "error: the image is incomplete: the copy was stopped by Ctrl-C\n");
        return kDoneWithFailures;
    }
    return job.BadRanges.empty() ? kDone : kDoneWithFailures;
}

int FindLost(const GlobalOptions& options, const std::string& target, bool json) {
    // Before any thread starts, so that every thread leaves Ctrl-C to it.
    InterruptWatch interrupts;
    Session session(options);
    const InterruptWatch::Handlers handlers(interrupts, [&session] { session.RequestStop(); });
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
    // The running flag is set before the stop is looked at: a stop in between still holds.
    session.App().AnalysisRunning = true;
    if (!session.StopRequested())
        ScanSectors(session.Computer(), *disk);
    session.App().AnalysisRunning = false;
    const std::vector<CVolume*> found = VolumesOn(session, *disk);
    // A volume found on a found volume keeps its place on the disk; one found on anything
    // else, its place in what was searched.
    const std::uint64_t base = PositionOnDisk(*disk);
    const std::uint64_t foundBase = disk->VolumeType == devices::VolumeKind::Found ? base : 0;
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    if (!json)
        std::printf("%-3s %-14s %12s  %-8s %s\n", "#", "Disk offset", "Size", "FS", "Label");
    int number = 0;
    for (const CVolume* volume : found) {
        const std::uint64_t start = volume->StartOffset - std::min(foundBase, volume->StartOffset);
        ++number;
        if (json) {
            out.push_back({{"number", number},
                           {"start", start},
                           {"diskOffset", base + start},
                           {"size", volume->TotalSize},
                           {"fileSystem", volume->FileSystem->FileSystemName},
                           {"label", volume->VolumeLabel}});
            continue;
        }
        std::printf("%-3d %-14llu %12s  %-8s %s\n", number,
                    static_cast<unsigned long long>(base + start),
                    HumanSize(volume->TotalSize).c_str(),
                    TerminalText(volume->FileSystem->FileSystemName).c_str(),
                    TerminalText(volume->VolumeLabel).c_str());
    }
    if (json)
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    else if (found.empty())
        std::printf("(no volumes found)\n");
    return SayIfInterrupted(interrupts,
                            "The search was stopped by Ctrl-C: only the volumes it had found "
                            "are listed.")
               ? kDoneWithFailures
               : kDone;
}

}  // namespace

void AddPartitionCommands(CLI::App& app, CommandBody& body, const GlobalOptions& options) {
    auto target = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    CLI::App* partitions =
        app.add_subcommand("partitions", "The partitions the partition tables list");
    partitions->add_option("TARGET", *target, kTargetHelp)->required();
    partitions->add_flag("--json", *json, "One JSON document on stdout");
    partitions->callback([&body, &options, target, json] {
        body = [&options, target, json] { return ShowPartitions(options, *target, *json); };
    });

    auto source = std::make_shared<std::string>();
    auto output = std::make_shared<std::string>();
    auto skipBad = std::make_shared<bool>(false);
    CLI::App* image = app.add_subcommand("image", "Copy a drive sector by sector into a new file");
    image->add_option("TARGET", *source, kTargetHelp)->required();
    image->add_option("OUT", *output, "The image file to create (.dsk)")->required();
    image->add_flag("--skip-bad", *skipBad,
                    "Go on past unreadable sectors: zeros in the image, ranges in OUT.bad");
    image->callback([&body, &options, source, output, skipBad] {
        body = [&options, source, output, skipBad] {
            return CreateImage(options, *source, *output, *skipBad);
        };
    });

    auto lost = std::make_shared<std::string>();
    auto lostJson = std::make_shared<bool>(false);
    CLI::App* findLost = app.add_subcommand("find-lost", "Search every sector for lost volumes");
    findLost->add_option("TARGET", *lost, kTargetHelp)->required();
    findLost->add_flag("--json", *lostJson, "One JSON document on stdout");
    findLost->callback([&body, &options, lost, lostJson] {
        body = [&options, lost, lostJson] { return FindLost(options, *lost, *lostJson); };
    });
}

}  // namespace duzez::cli
