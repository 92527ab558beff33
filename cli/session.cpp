#include "cli/session.h"

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace duzez::cli {

Session::Session(const GlobalOptions& globals, bool listDrives) {
    app_.LoadSettings();
    app_.ApplyInterfaceLanguage();
    for (const std::string& problem : app_.StartupProblems()) {
        std::fprintf(stderr, "warning: %s\n", problem.c_str());
    }
    // Log lines go to the log (and stderr when the setting says so); the CLI prints its
    // own results.
    devices::LocalComputerOptions options;
    options.listDrives = listDrives;
    options.followMediaChanges = false;
    // Results go to stdout; the log's lines reach stderr only when asked for. (Set in the
    // record in memory, which this process never saves.)
    app_.Settings().SetFlag(core::CSettings::kLogToDebugOutput, globals.verbose);
    computer_ = std::make_unique<devices::CLocalComputer>(app_, std::move(options));
    computer_->LoadSignatures();
}

devices::CVolume* Session::ResolveTarget(const std::string& target) {
    devices::CVolume* volume = FindTarget(target);
    // A drive whose information query has not run knows only its size in bytes.
    if (volume != nullptr && volume->TotalSectors == 0)
        volume->TotalSectors = volume->TotalSize / devices::CVolume::kSectorSize;
    return volume;
}

devices::CVolume* Session::FindTarget(const std::string& target) {
    auto& volumes = computer_->Volumes();
    if (!target.empty() && target[0] == '#') {
        std::size_t index = 0;
        try {
            index = std::stoul(target.substr(1));
        } catch (const std::exception&) {
            std::fprintf(stderr, "error: '%s' is not a drive number\n", target.c_str());
            return nullptr;
        }
        if (devices::CVolume* volume = volumes.GetAt(index))
            return volume;
        std::fprintf(stderr, "error: there is no drive %s (see 'duzez-cli drives')\n",
                     target.c_str());
        return nullptr;
    }
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(target, ec);
    for (const auto& volume : volumes.Snapshot()) {
        if (!volume->DevicePath.empty() &&
            std::filesystem::weakly_canonical(volume->DevicePath, ec) == wanted &&
            volume->VolumeType != devices::VolumeKind::Found) {
            return volume.get();
        }
    }
    std::string error;
    devices::CVolume* image = computer_->LoadImage(target, error);
    if (image == nullptr) {
        std::fprintf(stderr, "error: cannot read '%s': %s\n", target.c_str(), error.c_str());
    }
    return image;
}

// Runs the sector phase of `volume` on its own thread, with a progress line on a
// terminal.
void ScanSectors(devices::CLocalComputer& computer, devices::CVolume& volume) {
    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    computer.App().AnalysisRunning = true;
    std::thread phase([&] { computer.AnalyseSectors(volume); });
    const auto start = std::chrono::steady_clock::now();
    while (computer.App().AnalysisRunning && terminal) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const std::uint64_t end = volume.ProgressEnd;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (end != 0) {
            std::fprintf(stderr, "\rscanning %3llu%%  %7.1f MB/s ",
                         static_cast<unsigned long long>(volume.ProgressPosition * 100 / end),
                         seconds > 0
                             ? static_cast<double>(volume.ProgressPosition) * 512 / 1e6 / seconds
                             : 0.0);
        }
    }
    phase.join();
    if (terminal)
        std::fputc('\n', stderr);
}

std::uint64_t PositionOnDisk(const devices::CVolume& volume) {
    return volume.VolumeType == devices::VolumeKind::Logical
               ? volume.DriveLayout.PartitionEntry[0].StartingOffset
               : volume.StartOffset;
}

std::vector<devices::CVolume*> VolumesOn(Session& session, devices::CVolume& disk) {
    std::vector<devices::CVolume*> on;
    for (const auto& volume : session.Computer().Volumes().Snapshot()) {
        if (volume->GetParentVolume() == &disk && volume.get() != &disk)
            on.push_back(volume.get());
    }
    std::stable_sort(on.begin(), on.end(),
                     [](const devices::CVolume* a, const devices::CVolume* b) {
                         return PositionOnDisk(*a) < PositionOnDisk(*b);
                     });
    return on;
}

std::string HumanSize(std::uint64_t bytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

devices::CVolume* FoundVolumeOf(Session& session, devices::CVolume& target, int number) {
    const std::vector<devices::CVolume*> found = VolumesOn(session, target);
    if (number < 1 || static_cast<std::size_t>(number) > found.size()) {
        std::fprintf(stderr, "error: %s has %zu partitions; there is no volume %d\n",
                     target.GetDisplayName().c_str(), found.size(), number);
        return nullptr;
    }
    return found[static_cast<std::size_t>(number - 1)];
}

devices::CVolume* AnalyseTarget(Session& session, const std::string& target, int number,
                                bool deep) {
    devices::CVolume* volume = session.ResolveTarget(target);
    if (volume != nullptr && number != 0)
        volume = FoundVolumeOf(session, *volume, number);
    if (volume == nullptr)
        return nullptr;
    if (!volume->OpenDrive()) {
        std::fprintf(stderr, "error: cannot read %s (see the log with -v)\n",
                     volume->GetDisplayName().c_str());
        return nullptr;
    }
    auto& computer = session.Computer();
    volume->Analyse_Boot();
    computer.ActiveVolume = volume;
    session.App().AnalysisRunning = true;
    computer.AnalyseFileSystem(*volume);
    session.App().AnalysisRunning = false;
    if (deep) {
        volume->VolumesOnly = 0;
        ScanSectors(computer, *volume);
    }
    return volume;
}

}  // namespace duzez::cli
