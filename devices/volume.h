#pragma once

// One readable thing: a physical disk, a partition or other file-system volume, a volume
// found on a disk, or a drive image file. It owns its read-only device handle, reads
// 512-byte sectors with retries and a wait limit, and carries the descriptor every other
// part reads. It is also a node of the drive tree.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "devices/volume_types.h"
#include "filesystems/analysed_volume.h"
#include "filesystems/file_system.h"
#include "filesystems/found_object_tree.h"
#include "filesystems/tree_volume.h"
#include "platform/blkid_probe.h"
#include "platform/device_identity.h"
#include "platform/drive_discovery.h"
#include "platform/pause_gate.h"
#include "platform/timed_device.h"

namespace duzez::devices {

class CLocalComputer;

class CVolume : public std::enable_shared_from_this<CVolume>, public filesystems::AnalysedVolume {
  public:
    static constexpr std::uint32_t kSectorSize = 512;
    static constexpr std::chrono::milliseconds kReadWaitLimit{100000};
    static constexpr std::size_t kLabelCapacity = 30;

    CVolume(CLocalComputer& computer, std::uint32_t volumeType);
    ~CVolume() override;
    CVolume(const CVolume&) = delete;
    CVolume& operator=(const CVolume&) = delete;

    // Node header, shared with found objects.
    std::uint64_t TotalSize = 0;
    std::uint16_t VolumeFlags = 0;
    std::uint64_t Id = 0;
    std::uint64_t ParentId = NodeId::ComputerRoot;

    std::array<std::uint8_t, 1024> BootBuffer{};
    // The 512-byte sector the boot sector is read from: 0, or the backup copy's sector
    // for a found volume whose first sector is gone.
    std::uint64_t BootSector = 0;
    std::unique_ptr<filesystems::FoundObjectTree> FoundObjectTree;
    std::unique_ptr<filesystems::CFileSystem> FileSystem;
    CVolume* ParentVolume = this;
    std::vector<CVolume*> ChildVolumes;
    std::uint32_t DriveType = DriveCategory::Unknown;
    std::uint32_t VolumeType;
    std::string Description;
    std::string VolumeLabel;
    std::string DisplayName;
    std::string DevicePath;
    std::string RootPath;  // mount point of a mounted volume, else the device path
    char DriveLetter = 0;  // no drive letters here; '0' + DriveNumber for a disk
    std::uint32_t DriveNumber = 0;
    std::string KernelName;  // "sdb", "sdb1"; empty for images and found volumes
    std::atomic<std::uint32_t> VolumeState{VolumeStatus::NotReady};
    std::atomic<std::uint64_t> ProgressPosition{0};
    std::atomic<std::uint64_t> ProgressEnd{0};
    // Known (FreeBytesKnown) from the statistics of the mounted file system, or once
    // MeasureFreeSpace has counted it; 0 and unknown until then.
    std::uint64_t FreeBytes = 0;
    bool FreeBytesKnown = false;
    std::uint64_t SerialNumber = 0;
    std::uint64_t TotalSectors = 0;
    std::uint64_t TotalClusters = 0;
    std::uint64_t StartOffset = 0;
    DiskGeometry Geometry;
    DriveLayoutInformation DriveLayout;
    DeviceNumberInformation DeviceNumberInfo;
    std::uint32_t SectorsPerCluster = 1;
    std::uint32_t BytesPerSector = 512;
    std::uint32_t ClusterSize = 512;
    std::atomic<std::uint32_t> FoldersFound{0};
    std::atomic<std::uint32_t> FilesFound{0};
    std::atomic<std::uint32_t> SectorFoldersFound{0};
    std::atomic<std::uint32_t> SectorFilesFound{0};
    std::atomic<std::uint32_t> VolumesOnly{0};
    std::atomic<std::uint32_t> FileSystemPhaseRunning{0};
    std::atomic<std::uint32_t> SectorPhaseRunning{0};
    std::atomic<bool> InformationRunning{false};
    // Every read of a volume under analysis passes through it: closed while the medium
    // is away, so no phase reads (and logs a failure) from a device that is gone.
    platform::PauseGate AnalysisGate;

    // The medium went: the volume is not ready, its analysis waits, and the descriptor
    // it reads through is dropped at the next read. `seen` completes an identity the
    // information query could not read.
    void MediumRemoved(const platform::DeviceIdentity& seen);
    // The medium is back, perhaps under another kernel name: the volume reopens it and
    // its analysis goes on. An empty name keeps the volume's own (one read through its
    // disk's device follows the disk).
    void MediumReturned(const std::string& kernelName, const std::string& devicePath);
    platform::DeviceIdentity Identity() const;
    void SetIdentity(const platform::DeviceIdentity& identity);

    // Makes the read running on another thread return at once (it fails). Does not wait
    // for that thread; the volume stays open.
    void CancelRead();

    // Opens the device lazily (found and virtual volumes open their parent's device, with
    // a handle of their own); false when it cannot be opened, with one log line.
    bool OpenDrive();
    void Close();
    bool IsOpen() const;

    // Reads `count` 512-byte sectors from `sector` (relative to the volume) into `buffer`;
    // returns the bytes read, 0 on failure. Short reads are retried up to the stored retry
    // count; the last short count is returned with the rest of the buffer zero.
    std::uint32_t ReadSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                              std::uint64_t count);
    // The signed-count form; a negative count reads nothing.
    std::uint32_t ReadSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                              std::int32_t count);

    std::uint64_t ClusterToSector(std::uint64_t cluster) const;
    std::uint64_t SetProgressPosition(std::uint64_t value);
    std::uint64_t SetProgressEnd(std::uint64_t value);

    const std::string& GetDisplayName();
    const std::string& GetDevicePath();
    CVolume* GetParentVolume() const;

    // The boot area: reads sectors 0 and 1, recognises the file system, fills the
    // descriptor from the boot sector, and walks a partition table when there is one.
    // kNotReady when fewer than 512 bytes could be read.
    std::uint32_t Analyse_Boot();
    std::uint32_t ReadBootSector();
    // Whether a partition table was found (its partitions become volumes).
    bool WalkPartitions();
    // Counts the free space in the file system's own allocation tables (the FAT, the
    // exFAT allocation bitmap, NTFS's $Bitmap) after Analyse_Boot, unless the mounted
    // system told it already; reads only, on the caller's thread, and leaves the analysis
    // state alone. Whether FreeBytes is known.
    bool MeasureFreeSpace();
    // The name of a file system this program cannot list (ext4, Btrfs, ISO 9660...), from
    // its superblock, so that it is not shown as no file system at all.
    void NameForeignFileSystem();
    // What libblkid finds in an image's or a found volume's own bytes.
    std::optional<platform::FileSystemProbe> ProbeOwnRange();
    // An item the sector scan found on this volume.
    void OnFoundItem(filesystems::FoundObject item);

    // This volume as a node of found-object trees (its own, and its disk's).
    filesystems::FoundObject TreeNode;
    void SyncTreeNode();

    static constexpr std::uint32_t kNotReady = 0x80004005;

    // The "BOOT" object of the last analysis: the first two sectors as a file.
    filesystems::FoundObject BootObject;

    // The analysis thread of this volume, if one runs.
    void MarkAnalysisThread(bool running);
    bool AnalysisThreadAlive() const;
    bool IsAnalysisThread() const;
    bool WaitForAnalysisThread(std::chrono::milliseconds limit);

    // Fills the descriptor from the device (disks and partitions).
    void QueryInformation();
    void StartInformationQuery();
    bool QueryDescription();
    std::optional<DiskGeometry> QueryGeometry();
    bool QueryDeviceNumber();
    bool QueryLayout();
    std::optional<PartitionInformation> QueryPartitionInfo();

    // The tree's view of this volume.
    std::uint64_t NodeId() const override { return Id; }
    char DriveLetterOrZero() const override;
    std::uint64_t VolumeSize() const override { return TotalSize; }
    std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                    std::uint64_t count) override {
        return ReadSectors(buffer, sector, count);
    }
    void CountSectorPhaseFile() override { ++SectorFilesFound; }
    filesystems::CFileSystem* FileSystemAnalyser() override { return FileSystem.get(); }

    // The analyser's view of this volume.
    std::span<const std::uint8_t> BootSectorBytes() const override { return BootBuffer; }
    std::uint64_t SectorCount() const override { return TotalSectors; }
    std::uint64_t ClusterCount() const override { return TotalClusters; }
    void SetClusterGeometry(std::uint32_t bytesPerSector, std::uint32_t sectorsPerCluster) override;
    void AddFileSystemObject(const filesystems::FoundObject& record) override;
    bool AnalysisRunning() const override;
    filesystems::FoundObjectTree& Tree() override { return *FoundObjectTree; }
    void SetProgress(std::uint64_t position, std::uint64_t end) override {
        ProgressEnd = end;
        ProgressPosition = position;
    }
    core::CLog& Log() override;

    void SetReadWaitLimit(std::chrono::milliseconds limit) { readWaitLimit_ = limit; }
    CLocalComputer& Computer() const { return computer_; }

    // The name GetDisplayName stores, without storing it (for other threads).
    std::string DisplayNameText() const;

  private:
    bool OpenLocked();
    void DropHandleLocked();
    // Whether a read of this volume waits while its medium is away: only an analysis
    // does, and only while it runs, so a stop always releases it.
    bool WaitsForMedium() const;
    enum class ReadOutcome { Done, Failed, MediumAway };
    ReadOutcome ReadLocked(std::span<std::uint8_t> target, std::uint64_t offset,
                           std::size_t& bytes);
    const platform::BlockDeviceInfo* Describe();
    void QueryPhysicalDisk();
    void QueryLogicalVolume();

    CLocalComputer& computer_;
    mutable std::mutex readMutex_;  // one outstanding read per volume
    mutable std::mutex analysisMutex_;
    std::condition_variable analysisEnded_;
    bool analysisThreadAlive_ = false;
    std::thread::id analysisThread_;
    std::optional<platform::BlockDeviceInfo> deviceInfo_;
    std::unique_ptr<platform::TimedDevice> handle_;
    // The device under handle_, for CancelRead from another thread (which must not wait
    // for readMutex_, held by the read it cancels).
    std::mutex deviceMutex_;
    platform::BlockDevice* device_ = nullptr;
    std::atomic<bool> reopen_{false};
    mutable std::mutex identityMutex_;
    platform::DeviceIdentity identity_;
    std::chrono::milliseconds readWaitLimit_ = kReadWaitLimit;
};

}  // namespace duzez::devices
