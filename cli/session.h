#pragma once

// The engine objects one command works with, created the way every front end creates
// them: the application object with its settings and language, then the machine.

#include <memory>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/app.h"
#include "devices/local_computer.h"

namespace duzez::cli {

class Session {
  public:
    // Problems met on the way (a damaged store, a bad language file) go to stderr.
    explicit Session(const GlobalOptions& options, bool listDrives = true);

    core::CApp& App() { return app_; }
    devices::CLocalComputer& Computer() { return *computer_; }

    // TARGET: "#N" from the drive list, a device path that is listed, or else an image
    // file (or any other readable device), which joins the list as an image. Null with a
    // message on stderr when it cannot be read.
    devices::CVolume* ResolveTarget(const std::string& target);

  private:
    devices::CVolume* FindTarget(const std::string& target);

    core::CApp app_;
    std::unique_ptr<devices::CLocalComputer> computer_;
};

// Where a volume starts on the disk it lies on (a partition by its entry, a found volume
// by its offset).
std::uint64_t PositionOnDisk(const devices::CVolume& volume);
// The volumes that lie on `disk`, in the order they lie.
std::vector<devices::CVolume*> VolumesOn(Session& session, devices::CVolume& disk);

// The found volume `number` (from 1, in the order they lie) on `target`; null with a
// message when there is none.
devices::CVolume* FoundVolumeOf(Session& session, devices::CVolume& target, int number);

// Runs the sector phase of `volume` on its own thread, with a progress line on stderr
// when that is a terminal.
void ScanSectors(devices::CLocalComputer& computer, devices::CVolume& volume);

// TARGET, or its volume `number` when that is not 0, with its file system listed and,
// with `deep`, its sectors scanned; null with a message on stderr when it cannot be read.
devices::CVolume* AnalyseTarget(Session& session, const std::string& target, int number, bool deep);

// "1.5 GB", "640 KB", "512 bytes".
std::string HumanSize(std::uint64_t bytes);

}  // namespace duzez::cli
