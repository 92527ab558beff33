#pragma once

// The engine objects one command works with, created the way every front end creates
// them: the application object with its settings and language, then the machine.

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/human_units.h"
#include "core/app.h"
#include "devices/local_computer.h"

namespace duzez::cli {

class Session {
  public:
    // Problems met on the way (a damaged store, a bad language file) go to stderr. The
    // machine's drives are listed at once with `listDrives`, else only when a target names
    // one: a command on an image file opens no device.
    explicit Session(const GlobalOptions& options, bool listDrives = false);

    core::CApp& App() { return app_; }
    devices::CLocalComputer& Computer() { return *computer_; }

    // TARGET: "#N" from the drive list, a device path that is listed, or else an image
    // file (or any other readable device), which joins the list as an image. Null with a
    // message on stderr when it cannot be read.
    devices::CVolume* ResolveTarget(const std::string& target);

    // The user asked to stop (Ctrl-C): the phase running ends and no later one starts.
    void RequestStop() {
        stopRequested_ = true;
        app_.AnalysisRunning = false;
    }
    bool StopRequested() const { return stopRequested_; }
    const std::atomic<bool>& StopFlag() const { return stopRequested_; }

    // The exit code when OpenTarget found nothing to read: bad input, unless the target
    // was read and only holds a file system this program cannot list.
    int OpenFailure() const { return openFailure_; }
    void SetOpenFailure(int code) { openFailure_ = code; }

  private:
    devices::CVolume* FindTarget(const std::string& target);
    void ListDrives();

    core::CApp app_;
    std::unique_ptr<devices::CLocalComputer> computer_;
    bool drivesListed_ = false;
    std::atomic<bool> stopRequested_{false};
    int openFailure_ = kBadInput;
};

// The line that says a volume's files cannot be listed, for a file system this program
// names but cannot read (ext4, APFS...); empty for any other volume, or with `deep`.
std::string UnlistableNote(const devices::CVolume& volume, const std::string& name, bool deep);

// How messages name what TARGET resolved to: the device path of "#N", else TARGET as given.
std::string TargetName(const std::string& target, devices::CVolume& volume);

// The boot area of `volume` read and recognised (partitions found on the way join the
// list); false, with a message naming it `name`, when not even its first sector can be
// read (an empty or truncated file, a failing disk).
bool ReadBootArea(devices::CVolume& volume, const std::string& name);

// 0 when `path` opens for reading now (it is closed at once), else the system's reason.
int ReadOpenError(const std::string& path);
// The system's words for `error`, starting lower case: "no such file or directory".
std::string SystemErrorText(int error);

// Opens `volume` for reading; false, with the reason on stderr ("error: cannot read
// /dev/sdb: permission denied; ..."), when the system refuses.
bool OpenForReading(devices::CVolume& volume);

// Where a volume starts on the disk it lies on (a partition by its entry, a found volume
// by its offset).
std::uint64_t PositionOnDisk(const devices::CVolume& volume);
// The volumes that lie on `disk`, in the order they lie.
std::vector<devices::CVolume*> VolumesOn(Session& session, devices::CVolume& disk);

// The found volume `number` (from 1, in the order they lie) on `target`; null with a
// message when there is none.
devices::CVolume* FoundVolumeOf(Session& session, devices::CVolume& target, int number);

// Runs the sector phase of `volume` on its own thread, with a progress line on stderr
// when that is a terminal. The caller sets the application's running flag first.
void ScanSectors(devices::CLocalComputer& computer, devices::CVolume& volume);

// TARGET, or its volume `number` when that is not 0, opened and its boot area read. Null
// with a message on stderr when it cannot be read, or when, without `deep`, it holds
// neither a partition table nor a file system to list.
devices::CVolume* OpenTarget(Session& session, const std::string& target, int number, bool deep);

// The volume `number` (from 1) that a search of every sector of TARGET finds, as
// find-lost numbers them: a lost partition whose table entry is gone, opened for its own
// analysis. Null with a message when there is none.
devices::CVolume* OpenFoundVolume(Session& session, const std::string& target, int number);

// The file-system phase of `volume` and, with `deep`, its sector phase, unless a stop was
// requested before.
void AnalyseVolume(Session& session, devices::CVolume& volume, bool deep);

// Whether the volume holds a file system the file-system phase lists (FAT, NTFS).
bool ListsFiles(const devices::CVolume& volume);

// What a command reads of a target: its volume, or, for a disk with a partition table, no
// file system of its own and no --volume, each partition under a name of its own.
struct VolumePart {
    devices::CVolume* volume = nullptr;
    std::string folder;  // "Partition 2 (NTFS, Data)"; empty for the target itself
    bool analysed = false;
};
std::vector<VolumePart> PartsOf(Session& session, devices::CVolume& target, int number);
// Where `object` of `part` is listed: "/DCIM/IMG_0001.JPG", or under the part's name for
// one of a disk's volumes ("/Partition 1 (FAT32)/DCIM/IMG_0001.JPG").
std::string ListedPath(const VolumePart& part, const filesystems::FoundObject& object);
// Prints the unlistable note of one of a disk's volumes (the target itself says it when
// opened); whether it did.
bool ReportUnlistablePart(const VolumePart& part, bool deep);

// After a deep analysis of a whole target that holds no file system and no partition
// table of its own: the file-system phase of every volume its scan found, each under a
// name of its own ("Volume 2 (NTFS, Data)", numbered as find-lost numbers them). Adds to
// `listedStarts` where, on the target, the files they list start: a file carved there is
// one of them again. Empty for any other part.
std::vector<VolumePart> AnalyseFoundVolumes(Session& session, const VolumePart& scanned, bool deep,
                                            std::set<std::uint64_t>& listedStarts);

// OpenTarget, then AnalyseVolume.
devices::CVolume* AnalyseTarget(Session& session, const std::string& target, int number, bool deep);

}  // namespace duzez::cli
