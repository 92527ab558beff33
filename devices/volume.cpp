#include "devices/volume.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <thread>

#include "core/log.h"
#include "devices/local_computer.h"
#include "platform/device_identity.h"
#include "platform/drive_discovery.h"
#include "platform/text_encoding.h"

namespace duzez::devices {
namespace {

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
// A synthetic geometry for the information views: the kernel gives only a size.
constexpr std::uint32_t kHeads = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;
constexpr std::uint32_t kFixedMedia = 12;
constexpr std::uint32_t kRemovableMedia = 11;
constexpr std::uint32_t kDeviceTypeDisk = 7;

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// sysfs texts are meant to be ASCII; anything else is taken as Latin-1.
std::string DeviceText(const std::string& raw) {
    return platform::DecodeTextFile(
               std::span(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()))
        .text;
}

std::uint64_t SerialFromUuid(const std::string& uuid) {
    std::uint64_t serial = 0;
    int digits = 0;
    for (const char c : uuid) {
        const int digit = (c >= '0' && c <= '9')   ? c - '0'
                          : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                          : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                   : -1;
        if (digit >= 0) {
            serial = (serial << 4) | static_cast<std::uint64_t>(digit);
            ++digits;
        }
    }
    // NTFS's serial is 16 digits and kept whole; of longer ones (ext4's UUID) the last 8.
    return digits == 16 ? serial : serial & 0xFFFFFFFFu;
}

// The MBR type of a partition entry, or one that fits the file system found in it.
std::uint8_t PartitionTypeCode(const platform::FileSystemProbe& probe) {
    if (probe.partitionType.size() > 2 && probe.partitionType.rfind("0x", 0) == 0 &&
        probe.partitionType.size() <= 4) {
        return static_cast<std::uint8_t>(std::stoul(probe.partitionType.substr(2), nullptr, 16));
    }
    if (probe.type == "vfat") {
        if (probe.version == "FAT32")
            return filesystems::FileSystemIds::Fat32;
        if (probe.version == "FAT16")
            return filesystems::FileSystemIds::Fat16Large;
        return filesystems::FileSystemIds::Fat12;
    }
    if (probe.type == "ntfs")
        return filesystems::FileSystemIds::Ntfs;
    return 0;
}

}  // namespace

CVolume::CVolume(CLocalComputer& computer, std::uint32_t volumeType)
    : FoundObjectTree(std::make_unique<filesystems::FoundObjectTree>(this, &computer.Signatures(),
                                                                     &computer.App())),
      FileSystem(std::make_unique<filesystems::CFileSystem>()),
      VolumeType(volumeType),
      computer_(computer) {}

CVolume::~CVolume() {
    Close();
}

char CVolume::DriveLetterOrZero() const {
    const bool letter =
        (DriveLetter >= 'A' && DriveLetter <= 'Z') || (DriveLetter >= 'a' && DriveLetter <= 'z');
    return letter ? DriveLetter : 0;
}

bool CVolume::IsOpen() const {
    std::lock_guard lock(readMutex_);
    return handle_ != nullptr;
}

const platform::BlockDeviceInfo* CVolume::Describe() {
    if (!deviceInfo_)
        deviceInfo_ = platform::DescribeBlockDevice(computer_.Roots(), KernelName);
    return deviceInfo_ ? &*deviceInfo_ : nullptr;
}

bool CVolume::OpenDrive() {
    std::lock_guard lock(readMutex_);
    return OpenLocked();
}

bool CVolume::OpenLocked() {
    // A medium that went away took its descriptor along: the one it returns with (maybe
    // under another name) is opened anew.
    if (reopen_.exchange(false))
        DropHandleLocked();
    if (handle_)
        return true;
    try {
        const bool throughParent =
            VolumeType == VolumeKind::Found || VolumeType == VolumeKind::Virtual;
        const std::string path = throughParent && GetParentVolume() != nullptr
                                     ? GetParentVolume()->GetDevicePath()
                                     : GetDevicePath();
        std::string error = "no device path";
        std::unique_ptr<platform::BlockDevice> device;
        if (!path.empty())
            device = computer_.Opener().Open(path, error);
        if (!device) {
            computer_.Log().LogError("Can't open volume '%s', System Error: %s", path, error);
            return false;
        }
        platform::BlockDevice* raw = device.get();
        handle_ = std::make_unique<platform::TimedDevice>(std::move(device));
        std::lock_guard lock(deviceMutex_);
        device_ = raw;
        return true;
    } catch (const std::exception&) {
        computer_.Log().LogError("OpenDrive except");
        return handle_ != nullptr;
    }
}

void CVolume::DropHandleLocked() {
    {
        std::lock_guard lock(deviceMutex_);
        device_ = nullptr;
    }
    handle_.reset();
}

void CVolume::Close() {
    std::lock_guard lock(readMutex_);
    DropHandleLocked();
}

void CVolume::CancelRead() {
    std::lock_guard lock(deviceMutex_);
    if (device_ != nullptr)
        device_->CancelRead();
}

bool CVolume::WaitsForMedium() const {
    return computer_.App().AnalysisRunning.load() && AnalysisThreadAlive();
}

void CVolume::MediumRemoved(const platform::DeviceIdentity& seen) {
    {
        std::lock_guard lock(identityMutex_);
        identity_.FillFrom(seen);
    }
    AnalysisGate.Pause();
    reopen_ = true;
    VolumeState = VolumeStatus::NotReady;
}

void CVolume::MediumReturned(const std::string& kernelName, const std::string& devicePath) {
    {
        // Names change only while the analysis waits at the gate, not inside a read.
        std::lock_guard lock(readMutex_);
        if (!kernelName.empty() && kernelName != KernelName) {
            if (RootPath == DevicePath)
                RootPath = devicePath;
            KernelName = kernelName;
            DevicePath = devicePath;
            deviceInfo_.reset();
        }
        reopen_ = true;
    }
    VolumeState = VolumeStatus::Ready;
    AnalysisGate.Resume();
}

platform::DeviceIdentity CVolume::Identity() const {
    std::lock_guard lock(identityMutex_);
    return identity_;
}

void CVolume::SetIdentity(const platform::DeviceIdentity& identity) {
    std::lock_guard lock(identityMutex_);
    identity_ = identity;
}

std::uint32_t CVolume::ReadSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                   std::int32_t count) {
    if (count <= 0)
        return 0;
    return ReadSectors(buffer, sector, static_cast<std::uint64_t>(count));
}

std::uint32_t CVolume::ReadSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                   std::uint64_t count) {
    if (count == 0)
        return 0;
    // The byte count must fit the 32-bit result and the caller's buffer.
    if (count > 0xFFFFFFFFull / kSectorSize || buffer.size() < count * kSectorSize)
        return 0;
    if (sector > kAllOnes / kSectorSize)
        return 0;
    const std::uint64_t relative = sector * kSectorSize;
    const std::size_t wanted = static_cast<std::size_t>(count * kSectorSize);
    const std::span<std::uint8_t> target = buffer.first(wanted);
    while (true) {
        // Waiting happens outside the read lock: the medium's return renames and
        // reopens the volume under it.
        const bool mayWait = WaitsForMedium();
        if (mayWait)
            AnalysisGate.Pass(&computer_.App().AnalysisRunning);
        std::lock_guard lock(readMutex_);
        const auto away = [this] { return AnalysisGate.IsPaused() && WaitsForMedium(); };
        if (away())
            continue;  // removed since the gate let this read through
        // An analysis stopped while its medium is away has nothing to read from, and
        // nothing to report about it either.
        if (AnalysisGate.IsPaused() && (mayWait || AnalysisThreadAlive()))
            return 0;
        if (!OpenLocked())
            return 0;
        // Beyond the end of the volume: nothing to read, nothing to say. The end is
        // measured from the volume's own start, so a found volume's last sectors stay
        // readable.
        if (relative > TotalSize)
            return 0;
        std::size_t bytes = 0;
        const ReadOutcome outcome = ReadLocked(target, StartOffset + relative, bytes);
        if (outcome == ReadOutcome::MediumAway && away())
            continue;  // the medium went during the read: read again once it is back
        return static_cast<std::uint32_t>(bytes);
    }
}

CVolume::ReadOutcome CVolume::ReadLocked(std::span<std::uint8_t> target, std::uint64_t offset,
                                         std::size_t& bytes) {
    const std::uint64_t attempts =
        std::uint64_t{computer_.App().Settings().ReadRetryAttempts()} + 1;
    bytes = 0;
    for (std::uint64_t attempt = 0; attempt < attempts; ++attempt) {
        const platform::DeviceReadResult result = handle_->Read(offset, target, readWaitLimit_);
        if (result.status != platform::DeviceReadResult::Status::Ok) {
            std::fill(target.begin(), target.end(), 0);
            bytes = 0;
            // A read that failed because the card was pulled is no damage to report.
            if (AnalysisGate.IsPaused() && WaitsForMedium())
                return ReadOutcome::MediumAway;
            computer_.Log().LogErrorMessage(core::StringId::VolumeReadRetry, DisplayNameText(),
                                            offset, static_cast<std::uint32_t>(attempt + 1));
            return ReadOutcome::Failed;
        }
        bytes = std::min(result.bytes, target.size());
        // Only the part the device did not fill is cleared: no second pass over the data.
        std::fill(target.begin() + static_cast<std::ptrdiff_t>(bytes), target.end(), 0);
        if (bytes == target.size())
            break;
    }
    return ReadOutcome::Done;
}

std::uint64_t CVolume::ClusterToSector(std::uint64_t cluster) const {
    if (cluster == 0 || SectorsPerCluster == 0)
        return kAllOnes;
    return cluster * SectorsPerCluster;
}

std::uint64_t CVolume::SetProgressPosition(std::uint64_t value) {
    if (value != kAllOnes)
        ProgressPosition.store(value);
    return ProgressPosition.load();
}

std::uint64_t CVolume::SetProgressEnd(std::uint64_t value) {
    if (value != kAllOnes)
        ProgressEnd.store(value);
    return ProgressEnd.load();
}

std::string CVolume::DisplayNameText() const {
    switch (VolumeType) {
        case VolumeKind::Physical:
            return Description;
        case VolumeKind::Virtual:
        case VolumeKind::Found:
            return "Volume at: " + std::to_string(StartOffset);
        case VolumeKind::Image:
            return std::filesystem::path(DevicePath).filename().string();
        default: {
            const std::string label = Trimmed(VolumeLabel);
            return label.empty() ? KernelName : KernelName + " (" + label + ")";
        }
    }
}

const std::string& CVolume::GetDisplayName() {
    DisplayName = DisplayNameText();
    return DisplayName;
}

const std::string& CVolume::GetDevicePath() {
    if ((VolumeType == VolumeKind::Found || VolumeType == VolumeKind::Virtual)) {
        static const std::string kNone;
        return GetParentVolume() != nullptr ? GetParentVolume()->GetDevicePath() : kNone;
    }
    return DevicePath;
}

CVolume* CVolume::GetParentVolume() const {
    return ParentVolume == this ? nullptr : ParentVolume;
}

void CVolume::MarkAnalysisThread(bool running) {
    {
        std::lock_guard lock(analysisMutex_);
        analysisThreadAlive_ = running;
        analysisThread_ = running ? std::this_thread::get_id() : std::thread::id();
    }
    analysisEnded_.notify_all();
}

bool CVolume::AnalysisThreadAlive() const {
    std::lock_guard lock(analysisMutex_);
    return analysisThreadAlive_;
}

bool CVolume::IsAnalysisThread() const {
    std::lock_guard lock(analysisMutex_);
    return analysisThreadAlive_ && analysisThread_ == std::this_thread::get_id();
}

bool CVolume::WaitForAnalysisThread(std::chrono::milliseconds limit) {
    std::unique_lock lock(analysisMutex_);
    return analysisEnded_.wait_for(lock, limit, [this] { return !analysisThreadAlive_; });
}

void CVolume::StartInformationQuery() {
    InformationRunning.store(true);
    computer_.BeginBackgroundWork();
    std::thread([self = shared_from_this()] {
        self->QueryInformation();
        self->InformationRunning.store(false);
        CLocalComputer& computer = self->computer_;
        computer.EndBackgroundWork();
    }).detach();
}

void CVolume::QueryInformation() {
    try {
        VolumeState.store(VolumeStatus::Querying);
        deviceInfo_.reset();  // read the device once for all the queries below
        // The boot area, where this process may read the device: listing drives needs no
        // rights, and a user without them gets no error line per disk.
        if (platform::IsReadable(GetDevicePath()) && OpenDrive()) {
            Analyse_Boot();
            Close();
        }
        if (VolumeType == VolumeKind::Physical) {
            QueryPhysicalDisk();
        } else if (VolumeType == VolumeKind::Logical) {
            QueryLogicalVolume();
        } else {
            VolumeState.store(TotalSize != 0 ? VolumeStatus::Ready : VolumeStatus::NotReady);
        }
        // Taken while the medium is here: a card that comes back under another kernel
        // name is known again by it.
        if (!KernelName.empty()) {
            const auto* info = Describe();
            SetIdentity(platform::ReadDeviceIdentity(
                computer_.Roots().sys, KernelName,
                info != nullptr && info->fileSystem ? info->fileSystem->uuid : std::string()));
        }
    } catch (const std::exception&) {
        computer_.Log().LogError("CVolume::QueryInformation except in drive: %s (%s), code: %d",
                                 DisplayNameText(), DevicePath, errno);
    }
}

void CVolume::QueryPhysicalDisk() {
    QueryDescription();
    QueryDeviceNumber();
    if (const auto geometry = QueryGeometry()) {
        Geometry = *geometry;
        BytesPerSector = geometry->BytesPerSector;
        // The kernel's size, not cylinders x heads x sectors, which would cut off the
        // last partial cylinder and every file in it.
        if (const auto* info = Describe()) {
            TotalSize = info->sizeBytes;
        }
        // The engine counts 512-byte sectors whatever the device's own size (4096 on many
        // new disks): its reads, its progress and an image's length are in those.
        TotalSectors = TotalSize / kSectorSize;
        TotalClusters = TotalSize / std::max<std::uint32_t>(ClusterSize, 1);
    }
    QueryLayout();
    VolumeState.store(VolumeStatus::Ready);
}

void CVolume::QueryLogicalVolume() {
    QueryDeviceNumber();
    DriveLayout = {};
    DriveLayout.PartitionCount = 1;
    const auto partition = QueryPartitionInfo();
    if (partition) {
        DriveLayout.PartitionEntry[0] = *partition;
    } else {
        computer_.Log().LogErrorMessage(core::StringId::GetPartitionInfoError, DisplayNameText());
    }
    computer_.Volumes().AttachToParentDisk(*this);
    const auto* info = Describe();
    if (partition) {
        FileSystem->SetFileSystemName(partition->PartitionType);
        TotalSize = partition->PartitionLength;
    } else if (info) {
        TotalSize = info->sizeBytes;
    }
    if (info) {
        if (info->fileSystem) {
            VolumeLabel =
                platform::TruncateCodePoints(DeviceText(info->fileSystem->label), kLabelCapacity);
            // The boot sector's serial, read above, is whole; NTFS's is 64 bits.
            if (SerialNumber == 0)
                SerialNumber = SerialFromUuid(info->fileSystem->uuid);
            const std::string name = platform::FileSystemDisplayName(*info->fileSystem);
            if (!name.empty())
                FileSystem->FileSystemName = name;
        }
        if (!info->mountPoint.empty())
            RootPath = info->mountPoint;
        FreeBytes = info->freeBytes.value_or(0);
        FreeBytesKnown = info->freeBytes.has_value();
    }
    if (TotalSize != 0) {
        TotalSectors = TotalSize / kSectorSize;  // 512-byte sectors, as above
        TotalClusters = TotalSize / std::max<std::uint32_t>(ClusterSize, 1);
        VolumeState.store(VolumeStatus::Ready);
    } else {
        VolumeState.store(VolumeStatus::NotReady);
    }
}

bool CVolume::QueryDescription() {
    const auto* info = Describe();
    if (!info)
        return false;
    const std::string vendor = DeviceText(info->vendor);
    const std::string model = DeviceText(info->model);
    if (!vendor.empty() && !model.empty()) {
        Description = vendor + ", " + model;
    } else if (!model.empty()) {
        Description = model;
    }
    return true;
}

std::optional<DiskGeometry> CVolume::QueryGeometry() {
    const auto* info = Describe();
    if (!info || info->logicalSectorSize == 0)
        return std::nullopt;
    DiskGeometry geometry;
    geometry.BytesPerSector = info->logicalSectorSize;
    geometry.TracksPerCylinder = kHeads;
    geometry.SectorsPerTrack = kSectorsPerTrack;
    geometry.Cylinders =
        info->sizeBytes / (std::uint64_t{kHeads} * kSectorsPerTrack * info->logicalSectorSize);
    geometry.MediaType = info->removable ? kRemovableMedia : kFixedMedia;
    return geometry;
}

bool CVolume::QueryDeviceNumber() {
    const auto* info = Describe();
    if (!info)
        return false;
    DeviceNumberInfo.DeviceType = kDeviceTypeDisk;
    DeviceNumberInfo.PartitionNumber = info->partitionNumber;
    const std::string disk = info->parentDisk.empty() ? info->name : info->parentDisk;
    DeviceNumberInfo.DeviceNumber = computer_.Volumes().DiskNumberOf(disk).value_or(kUnqueried);
    return true;
}

bool CVolume::QueryLayout() {
    const auto partitions = platform::PartitionsOf(computer_.Roots(), KernelName);
    DriveLayout = {};
    DriveLayout.PartitionCount =
        static_cast<std::uint32_t>(std::min<std::size_t>(partitions.size(), 4));
    for (std::size_t i = 0; i < DriveLayout.PartitionCount; ++i) {
        PartitionInformation& entry = DriveLayout.PartitionEntry[i];
        entry.StartingOffset = partitions[i].startBytes;
        entry.PartitionLength = partitions[i].sizeBytes;
        entry.HiddenSectors = static_cast<std::uint32_t>(partitions[i].startBytes / kSectorSize);
        entry.PartitionNumber = partitions[i].partitionNumber;
        entry.RecognizedPartition = 1;
    }
    return true;
}

std::optional<PartitionInformation> CVolume::QueryPartitionInfo() {
    const auto* info = Describe();
    if (!info)
        return std::nullopt;
    PartitionInformation entry;
    entry.StartingOffset = info->startBytes;
    entry.PartitionLength = info->sizeBytes;
    entry.HiddenSectors = static_cast<std::uint32_t>(info->startBytes / kSectorSize);
    entry.PartitionNumber = info->partitionNumber;
    entry.PartitionType = info->fileSystem ? PartitionTypeCode(*info->fileSystem) : 0;
    entry.RecognizedPartition = 1;
    return entry;
}

}  // namespace duzez::devices
