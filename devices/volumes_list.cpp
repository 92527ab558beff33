#include "devices/volumes_list.h"

#include <algorithm>

#include "core/window_messages.h"
#include "devices/local_computer.h"
#include "devices/volume.h"
#include "platform/drive_discovery.h"

namespace duzez::devices {
namespace {

constexpr std::uint64_t kDeviceArrived = 0x8000;
constexpr std::uint64_t kDeviceRemoved = 0x8004;
constexpr std::uint32_t kMediaChangedMessage = core::WM_APP + 506;

std::shared_ptr<CVolume> MakePhysicalDisk(CLocalComputer& computer,
                                          const platform::BlockDeviceInfo& info,
                                          std::uint32_t number) {
    auto volume = std::make_shared<CVolume>(computer, VolumeKind::Physical);
    volume->DriveType = DriveCategory::Fixed;
    volume->DriveNumber = number;
    volume->DriveLetter = static_cast<char>('0' + number);
    volume->KernelName = info.name;
    volume->DevicePath = info.devicePath;
    volume->RootPath = info.devicePath;
    volume->Description =
        computer.App().Languages().Format(core::StringId::DriveNumber, {static_cast<int>(number)});
    volume->TotalSize = info.sizeBytes;
    volume->VolumeState = VolumeStatus::Ready;
    volume->Id = computer.NextId();
    volume->VolumeFlags = VolumeFlags::Listed;
    return volume;
}

std::shared_ptr<CVolume> MakeLogicalVolume(CLocalComputer& computer,
                                           const platform::BlockDeviceInfo& info) {
    auto volume = std::make_shared<CVolume>(computer, VolumeKind::Logical);
    volume->DriveType = info.removable ? DriveCategory::Removable : DriveCategory::Fixed;
    volume->KernelName = info.name;
    volume->DevicePath = info.devicePath;
    volume->RootPath = info.mountPoint.empty() ? info.devicePath : info.mountPoint;
    volume->Id = computer.NextId();
    volume->VolumeFlags = VolumeFlags::Listed;
    return volume;
}

bool KeptAcrossRescans(const CVolume& volume) {
    return volume.VolumeType == VolumeKind::Image || volume.VolumeType == VolumeKind::Virtual;
}

}  // namespace

CVolumesList::CVolumesList(CLocalComputer& computer) : computer_(computer) {}

CVolumesList::~CVolumesList() {
    std::lock_guard lock(rescanMutex_);
    if (rescanThread_.joinable())
        rescanThread_.join();
}

std::size_t CVolumesList::Rescan() {
    std::vector<std::shared_ptr<CVolume>> kept;
    {
        std::lock_guard lock(mutex_);
        for (const auto& volume : volumes_) {
            if (KeptAcrossRescans(*volume))
                kept.push_back(volume);
        }
        volumes_.clear();  // the others go, with what their analysis found
    }

    const platform::DriveInventory inventory = platform::DiscoverDrives(computer_.Roots());
    std::vector<std::shared_ptr<CVolume>> fresh;
    for (std::size_t i = 0; i < inventory.disks.size(); ++i) {
        fresh.push_back(
            MakePhysicalDisk(computer_, inventory.disks[i], static_cast<std::uint32_t>(i)));
    }
    for (const auto& info : inventory.volumes) {
        fresh.push_back(MakeLogicalVolume(computer_, info));
    }
    {
        std::lock_guard lock(mutex_);
        volumes_ = fresh;
    }
    for (const auto& volume : fresh) {
        volume->StartInformationQuery();
    }
    // All the queries together get kInformationWait; a slow one goes on in the background.
    const auto deadline = std::chrono::steady_clock::now() + kInformationWait;
    for (const auto& volume : fresh) {
        while (volume->InformationRunning.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    std::lock_guard lock(mutex_);
    volumes_.insert(volumes_.end(), kept.begin(), kept.end());
    return volumes_.size();
}

void CVolumesList::RescanAsync() {
    std::lock_guard lock(rescanMutex_);
    if (rescanThread_.joinable())
        rescanThread_.join();
    rescanDone_ = std::make_shared<std::atomic<bool>>(false);
    rescanThread_ = std::thread([this, done = rescanDone_] {
        Rescan();
        done->store(true);
    });
}

bool CVolumesList::WaitForRescan(std::chrono::milliseconds limit) {
    std::shared_ptr<std::atomic<bool>> done;
    {
        std::lock_guard lock(rescanMutex_);
        done = rescanDone_;
    }
    if (!done)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done->load()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

CVolume* CVolumesList::GetAt(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < volumes_.size() ? volumes_[index].get() : nullptr;
}

std::size_t CVolumesList::GetCount() const {
    std::lock_guard lock(mutex_);
    return volumes_.size();
}

std::vector<std::shared_ptr<CVolume>> CVolumesList::Snapshot() const {
    std::lock_guard lock(mutex_);
    return volumes_;
}

void CVolumesList::Append(std::shared_ptr<CVolume> volume) {
    std::lock_guard lock(mutex_);
    volumes_.push_back(std::move(volume));
}

std::optional<std::uint32_t> CVolumesList::DiskNumberOf(const std::string& kernelName) const {
    std::lock_guard lock(mutex_);
    for (const auto& volume : volumes_) {
        if (volume->VolumeType == VolumeKind::Physical && volume->KernelName == kernelName) {
            return volume->DriveNumber;
        }
    }
    return std::nullopt;
}

void CVolumesList::AttachToParentDisk(CVolume& volume) {
    std::lock_guard lock(mutex_);
    for (const auto& disk : volumes_) {
        if (disk->VolumeType == VolumeKind::Physical &&
            disk->DriveNumber == volume.DeviceNumberInfo.DeviceNumber) {
            volume.ParentVolume = disk.get();
            disk->ChildVolumes.push_back(&volume);
        }
    }
}

bool CVolumesList::HasChildAt(const CVolume& volume, std::uint64_t sector) const {
    std::lock_guard lock(mutex_);
    for (const CVolume* child : volume.ChildVolumes) {
        if (child->DriveLayout.PartitionEntry[0].StartingOffset / CVolume::kSectorSize == sector) {
            return true;
        }
    }
    return false;
}

void CVolumesList::AddChild(CVolume& parent, CVolume& child) {
    std::lock_guard lock(mutex_);
    parent.ChildVolumes.push_back(&child);
}

std::shared_ptr<CVolume> CVolumesList::FindById(std::uint64_t id) const {
    std::lock_guard lock(mutex_);
    for (const auto& volume : volumes_) {
        if (volume->Id == id)
            return volume;
    }
    return nullptr;
}

void CVolumesList::OnDeviceChange(const platform::MediaEvent& event) {
    if (!platform::IsListedDeviceName(event.deviceName))
        return;
    const bool arrived = event.kind == platform::MediaEvent::Kind::Arrived;
    for (const auto& volume : Snapshot()) {
        const CVolume* disk = volume->GetParentVolume();
        const bool onDevice = volume->KernelName == event.deviceName ||
                              (disk != nullptr && disk->KernelName == event.deviceName);
        if (!onDevice)
            continue;
        volume->VolumeState = arrived ? VolumeStatus::Ready : VolumeStatus::NotReady;
        if (arrived) {
            volume->AnalysisGate.Resume();
        } else {
            volume->AnalysisGate.Pause();
        }
    }
    computer_.Log().LogMessage(
        arrived ? core::StringId::MediumConnected : core::StringId::MediumRemoved,
        event.deviceName);
    if (auto window = computer_.App().MainWindow()) {
        window->Post(
            {kMediaChangedMessage, arrived ? kDeviceArrived : kDeviceRemoved, 0, event.deviceName});
    }
}

}  // namespace duzez::devices
