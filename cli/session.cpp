#include "cli/session.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

#include "cli/scan_progress.h"
#include "cli/terminal_text.h"
#include "filesystems/found_object_tree.h"
#include "recovery/safe_names.h"

namespace duzez::cli {

int ReadOpenError(const std::string& path) {
    // O_NONBLOCK: learning the reason must not wait on a pipe, a tape or a card reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

std::string SystemErrorText(int error) {
    std::string text = std::strerror(error);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

namespace {

// "#3" as 3; nothing for "#", "#x" or "#1x".
std::optional<std::size_t> DriveNumber(const std::string& target) {
    std::size_t number = 0;
    const char* first = target.data() + 1;
    const char* last = target.data() + target.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (first == last || error != std::errc() || end != last)
        return std::nullopt;
    return number;
}

bool UnderDev(const std::filesystem::path& path) {
    return path.string().rfind("/dev/", 0) == 0;
}

// Whether TARGET can only be found in the drive list: "#N", or a path that is, or leads
// to, a node under /dev.
bool NamesDrive(const std::string& target) {
    if (!target.empty() && target[0] == '#')
        return true;
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(target, ec);
    return UnderDev(target) || (!ec && UnderDev(canonical));
}

// Why `path` cannot be opened, for the user. The engine keeps only a message; the number
// the system gives decides what to say. `engineError` serves when the path does open now.
std::string WhyUnreadable(const std::string& path, const std::string& engineError) {
    if (path.empty())
        return engineError.empty() ? "it has no device to read" : engineError;
    const int error = ReadOpenError(path);
    if (error == 0)
        return engineError.empty() ? "it could not be opened" : engineError;
    if (error == EACCES || error == EPERM) {
        // Root is refused only by the system itself (a container, a locked device).
        return ::geteuid() == 0
                   ? "permission denied"
                   : "permission denied; reading drives needs root or membership of the "
                     "disk group";
    }
    return SystemErrorText(error);
}

// What to try when a file holds nothing this program reads: a packed image must be
// unpacked first.
std::string CompressedHint(const std::string& target) {
    static const char* const kPacked[] = {".gz", ".xz", ".bz2", ".zst", ".zip", ".7z"};
    for (const char* suffix : kPacked) {
        const std::string ending(suffix);
        if (target.size() > ending.size() &&
            target.compare(target.size() - ending.size(), ending.size(), ending) == 0) {
            return "it looks compressed (" + ending.substr(1) +
                   "): unpack it first, then read the image inside";
        }
    }
    return "try --deep";
}

// The file systems the file-system phase lists.
bool ListableFileSystem(std::uint32_t id) {
    namespace Ids = filesystems::FileSystemIds;
    return id == Ids::Fat12 || id == Ids::Fat16 || id == Ids::Fat32 || id == Ids::Ntfs ||
           id == Ids::ExFat;
}

}  // namespace

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
    drivesListed_ = listDrives;
    computer_->LoadSignatures();
}

void Session::ListDrives() {
    if (drivesListed_)
        return;
    drivesListed_ = true;
    computer_->Volumes().Rescan();
}

devices::CVolume* Session::ResolveTarget(const std::string& target) {
    devices::CVolume* volume = FindTarget(target);
    // A drive whose information query has not run knows only its size in bytes.
    if (volume != nullptr && volume->TotalSectors == 0)
        volume->TotalSectors = volume->TotalSize / devices::CVolume::kSectorSize;
    return volume;
}

devices::CVolume* Session::FindTarget(const std::string& target) {
    const std::string shown = TerminalText(target);
    if (NamesDrive(target))
        ListDrives();
    auto& volumes = computer_->Volumes();
    if (!target.empty() && target[0] == '#') {
        const std::optional<std::size_t> index = DriveNumber(target);
        if (!index) {
            std::fprintf(stderr, "error: '%s' is not a drive number\n", shown.c_str());
            return nullptr;
        }
        if (devices::CVolume* volume = volumes.GetAt(*index))
            return volume;
        std::fprintf(stderr, "error: there is no drive %s (see 'duzez-cli drives')\n",
                     shown.c_str());
        return nullptr;
    }
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(target, ec);
    if (!ec) {
        for (const auto& volume : volumes.Snapshot()) {
            if (!volume->DevicePath.empty() &&
                std::filesystem::weakly_canonical(volume->DevicePath, ec) == wanted &&
                volume->VolumeType != devices::VolumeKind::Found) {
                return volume.get();
            }
        }
    }
    // Only a disk, a partition or an image file is read; opening a pipe would wait for
    // a writer that never comes.
    const auto status = std::filesystem::status(target, ec);
    if (!ec && !std::filesystem::is_regular_file(status) &&
        !std::filesystem::is_block_file(status)) {
        std::fprintf(stderr, "error: cannot read %s: not a disk, a partition or an image file\n",
                     shown.c_str());
        return nullptr;
    }
    std::string error;
    devices::CVolume* image = computer_->LoadImage(target, error);
    if (image == nullptr) {
        std::fprintf(stderr, "error: cannot read %s: %s\n", shown.c_str(),
                     WhyUnreadable(target, error).c_str());
    }
    return image;
}

std::string TargetName(const std::string& target, devices::CVolume& volume) {
    if (target.empty() || target[0] != '#')
        return target;
    const std::string& path = volume.GetDevicePath();
    return path.empty() ? volume.GetDisplayName() : path;
}

bool OpenForReading(devices::CVolume& volume) {
    if (volume.OpenDrive())
        return true;
    // Found volumes are read through their disk's device, whose path this is.
    const std::string path = volume.GetDevicePath();
    std::fprintf(stderr, "error: cannot read %s: %s\n",
                 TerminalText(path.empty() ? volume.GetDisplayName() : path).c_str(),
                 WhyUnreadable(path, "").c_str());
    return false;
}

// Runs the sector phase of `volume` on its own thread, with a progress line on a
// terminal.
void ScanSectors(devices::CLocalComputer& computer, devices::CVolume& volume) {
    // The file-system phase leaves its own figures (in clusters) until the scan sets its.
    volume.ProgressPosition = 0;
    volume.ProgressEnd = volume.TotalSectors;
    ScanProgress progress(volume);
    std::thread phase([&] { computer.AnalyseSectors(volume); });
    progress.Follow(computer.App().AnalysisRunning);
    phase.join();
    progress.Finish();
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

devices::CVolume* FoundVolumeOf(Session& session, devices::CVolume& target, int number) {
    const std::vector<devices::CVolume*> found = VolumesOn(session, target);
    if (number < 1 || static_cast<std::size_t>(number) > found.size()) {
        std::fprintf(stderr, "error: %s has %zu partitions; there is no volume %d\n",
                     TerminalText(target.GetDisplayName()).c_str(), found.size(), number);
        return nullptr;
    }
    return found[static_cast<std::size_t>(number - 1)];
}

bool ReadBootArea(devices::CVolume& volume, const std::string& name) {
    if (volume.Analyse_Boot() != devices::CVolume::kNotReady)
        return true;
    std::fprintf(stderr, "error: cannot read the first sector of %s\n", TerminalText(name).c_str());
    return false;
}

std::string UnlistableNote(const devices::CVolume& volume, const std::string& name, bool deep) {
    const std::string& fileSystem = volume.FileSystem->FileSystemName;
    if (deep || ListableFileSystem(volume.FileSystem->FileSystemId) || fileSystem.empty() ||
        fileSystem == "Unknown") {
        return {};
    }
    return TerminalText(name) + ": " + TerminalText(fileSystem) +
           ", whose files this program cannot list; --deep still finds photos and documents "
           "by their content";
}

std::string ListedPath(const VolumePart& part, const filesystems::FoundObject& object) {
    const std::string folder = part.volume->FoundObjectTree->GetFolderPath(object);
    const std::string& prefix = part.folder;
    return (prefix.empty() ? "" : "/" + prefix) + (folder.rfind('/', 0) == 0 ? "" : "/") + folder +
           std::string(object.GetName());
}

bool ReportUnlistablePart(const VolumePart& part, bool deep) {
    if (part.folder.empty())
        return false;
    const std::string note = UnlistableNote(*part.volume, part.folder, deep);
    if (!note.empty())
        std::fprintf(stderr, "%s\n", note.c_str());
    return !note.empty();
}

devices::CVolume* OpenTarget(Session& session, const std::string& target, int number, bool deep) {
    devices::CVolume* disk = session.ResolveTarget(target);
    if (disk == nullptr)
        return nullptr;
    std::string name = TargetName(target, *disk);
    devices::CVolume* volume = disk;
    if (number != 0) {
        // A disk whose partitions have no device nodes (a loop device attached without
        // partition scanning) knows them only once its partition table is read.
        if (VolumesOn(session, *disk).empty() &&
            (!OpenForReading(*disk) || !ReadBootArea(*disk, name))) {
            return nullptr;
        }
        volume = FoundVolumeOf(session, *disk, number);
        if (volume == nullptr)
            return nullptr;
        name = "volume " + std::to_string(number) + " of " + name;
    }
    if (!OpenForReading(*volume))
        return nullptr;
    if (!ReadBootArea(*volume, name))
        return nullptr;
    // Without a file system or a partition table the listing would be empty, which reads
    // as "nothing was deleted here"; only the sector scan can find anything.
    if (const std::string note = UnlistableNote(*volume, name, deep);
        !note.empty() && VolumesOn(session, *volume).empty()) {
        std::fprintf(stderr, "%s\n", note.c_str());
        session.SetOpenFailure(kDoneWithFailures);
        return nullptr;
    }
    if (!deep && !ListableFileSystem(volume->FileSystem->FileSystemId) &&
        VolumesOn(session, *volume).empty()) {
        std::fprintf(stderr, "error: no partition table or file system found on %s; %s\n",
                     TerminalText(name).c_str(), CompressedHint(target).c_str());
        return nullptr;
    }
    return volume;
}

namespace {

// "Partition 2 (NTFS, Data)": a name a person can tell the volumes of one disk apart by.
std::string PartFolder(const std::string& kind, std::size_t number, devices::CVolume& volume) {
    std::string name =
        kind + " " + std::to_string(number) + " (" + volume.FileSystem->FileSystemName;
    std::string label = volume.VolumeLabel;
    while (!label.empty() && label.back() == ' ')
        label.pop_back();
    if (!label.empty() && label != "NO NAME")  // FAT's word for no label
        name += ", " + label;
    // A label comes from the disk: the name becomes a folder, so it is cleaned.
    return recovery::CleanComponent(name + ")");
}

}  // namespace

std::vector<VolumePart> PartsOf(Session& session, devices::CVolume& target, int number) {
    const std::vector<devices::CVolume*> partitions = VolumesOn(session, target);
    if (number != 0 || ListsFiles(target) || partitions.empty())
        return {{&target, {}}};
    std::vector<VolumePart> parts;
    for (std::size_t i = 0; i < partitions.size(); ++i)
        parts.push_back({partitions[i], PartFolder("Partition", i + 1, *partitions[i])});
    return parts;
}

std::vector<VolumePart> AnalyseFoundVolumes(Session& session, const VolumePart& scanned, bool deep,
                                            std::set<std::uint64_t>& listedStarts) {
    devices::CVolume& target = *scanned.volume;
    if (!deep || !scanned.folder.empty() || ListsFiles(target))
        return {};
    std::vector<VolumePart> parts;
    const std::vector<devices::CVolume*> found = VolumesOn(session, target);
    for (std::size_t i = 0; i < found.size() && !session.StopRequested(); ++i) {
        devices::CVolume& volume = *found[i];
        if (!ListsFiles(volume) || !OpenForReading(volume))
            continue;
        // Its free space was part of the target's scan: only its file system is read.
        AnalyseVolume(session, volume, false);
        // Found volumes lie on the disk; the target's own objects count from its start.
        const std::uint64_t offset = PositionOnDisk(volume) - PositionOnDisk(target);
        for (const filesystems::FoundObject* object : volume.FoundObjectTree->ListedObjects())
            listedStarts.insert(offset + object->Start);
        parts.push_back({&volume, PartFolder("Volume", i + 1, volume), true});
    }
    return parts;
}

devices::CVolume* OpenFoundVolume(Session& session, const std::string& target, int number) {
    devices::CVolume* disk = session.ResolveTarget(target);
    if (disk == nullptr || !OpenForReading(*disk))
        return nullptr;
    const std::string name = TargetName(target, *disk);
    if (!ReadBootArea(*disk, name))
        return nullptr;
    disk->VolumesOnly = 1;
    session.App().AnalysisRunning = true;
    ScanSectors(session.Computer(), *disk);
    session.App().AnalysisRunning = false;
    disk->VolumesOnly = 0;
    devices::CVolume* volume = FoundVolumeOf(session, *disk, number);
    if (volume == nullptr)
        return nullptr;
    const std::string found = "volume " + std::to_string(number) + " found on " + name;
    if (!OpenForReading(*volume) || !ReadBootArea(*volume, found))
        return nullptr;
    return volume;
}

bool ListsFiles(const devices::CVolume& volume) {
    return ListableFileSystem(volume.FileSystem->FileSystemId);
}

void AnalyseVolume(Session& session, devices::CVolume& volume, bool deep) {
    auto& computer = session.Computer();
    computer.ActiveVolume = &volume;
    // The running flag is set before the stop is looked at: a stop in between still holds.
    session.App().AnalysisRunning = true;
    if (session.StopRequested()) {
        session.App().AnalysisRunning = false;
        return;
    }
    computer.AnalyseFileSystem(volume);
    session.App().AnalysisRunning = false;
    if (!deep)
        return;
    volume.VolumesOnly = 0;
    session.App().AnalysisRunning = true;
    if (!session.StopRequested())
        ScanSectors(computer, volume);
    session.App().AnalysisRunning = false;
}

devices::CVolume* AnalyseTarget(Session& session, const std::string& target, int number,
                                bool deep) {
    devices::CVolume* volume = OpenTarget(session, target, number, deep);
    if (volume != nullptr)
        AnalyseVolume(session, *volume, deep);
    return volume;
}

}  // namespace duzez::cli
