#pragma once

// The volumes the user can pick: the machine's disks and volumes, found every rescan, then
// the drive images and virtual drives, which survive rescans.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/media_monitor.h"

namespace duzez::devices {

class CLocalComputer;
class CVolume;

class CVolumesList {
  public:
    static constexpr std::chrono::milliseconds kInformationWait{4000};

    explicit CVolumesList(CLocalComputer& computer);
    ~CVolumesList();
    CVolumesList(const CVolumesList&) = delete;
    CVolumesList& operator=(const CVolumesList&) = delete;

    // Rebuilds the list and returns the number of volumes. The volumes it drops leave
    // every structure that points at them, but live on in a retired list until nothing
    // can reach them (a parent's tree still showing their node, a thread still using
    // them): the views rebuilt after a rescan may still hold them for a moment.
    std::size_t Rescan();
    // The same on its own thread; WaitForRescan waits for it up to `limit`.
    void RescanAsync();
    bool WaitForRescan(std::chrono::milliseconds limit);

    CVolume* GetAt(std::size_t index) const;  // null beyond the list
    std::size_t GetCount() const;
    std::vector<std::shared_ptr<CVolume>> Snapshot() const;
    void Append(std::shared_ptr<CVolume> volume);

    // A medium arrived or went: the volumes on that device change state, their analysis
    // pauses or resumes, the log says so and the main window is told.
    void OnDeviceChange(const platform::MediaEvent& event);

    // The number of the listed physical disk with this kernel name.
    std::optional<std::uint32_t> DiskNumberOf(const std::string& kernelName) const;
    // Links a partition to the physical disk it lies on.
    void AttachToParentDisk(CVolume& volume);
    // Whether one of the volume's children starts at `sector` of it.
    bool HasChildAt(const CVolume& volume, std::uint64_t sector) const;
    void AddChild(CVolume& parent, CVolume& child);
    std::shared_ptr<CVolume> FindById(std::uint64_t id) const;
    // Dropped volumes still kept alive.
    std::size_t RetiredCount() const;

  private:
    // Takes the dropped volumes out of their parents' child lists and keeps them.
    void RetireLocked(const std::vector<std::shared_ptr<CVolume>>& dropped);
    // Frees the retired volumes nothing can reach any more.
    void PruneRetiredLocked();

    CLocalComputer& computer_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<CVolume>> volumes_;
    std::vector<std::shared_ptr<CVolume>> retired_;
    std::mutex rescanMutex_;
    std::thread rescanThread_;
    std::shared_ptr<std::atomic<bool>> rescanDone_;
};

}  // namespace duzez::devices
