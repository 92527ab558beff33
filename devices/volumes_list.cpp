#include "devices/volumes_list.h"

#include <algorithm>

#include "core/window_messages.h"
#include "devices/local_computer.h"
#include "devices/volume.h"
#include "platform/blkid_probe.h"
#include "platform/device_identity.h"
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
    std::vector<std::shared_ptr<CVolume>> dropped;
    {
        std::lock_guard lock(mutex_);
        for (const auto& volume : volumes_) {
            (KeptAcrossRescans(*volume) ? kept : dropped).push_back(volume);
        }
        volumes_.clear();  // the others go, with what their analysis found
    }
    // Their analyses end and the computer stops pointing at them before they are retired.
    computer_.ForgetVolumes(dropped);
    {
        std::lock_guard lock(mutex_);
        // Those dropped by the rescan before stay one rescan at least: the views were
        // rebuilt since, and let go of them. The kept volumes count as listed.
        volumes_.insert(volumes_.end(), kept.begin(), kept.end());
        PruneRetiredLocked();
        RetireLocked(dropped);
        volumes_.resize(volumes_.size() - kept.size());
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
        // Volumes appended meanwhile (found by a running scan of an image) stay behind.
        volumes_.insert(volumes_.begin(), fresh.begin(), fresh.end());
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
    volumes_.insert(volumes_.begin() + static_cast<std::ptrdiff_t>(fresh.size()), kept.begin(),
                    kept.end());
    return volumes_.size();
}

void CVolumesList::RetireLocked(const std::vector<std::shared_ptr<CVolume>>& dropped) {
    const auto isDropped = [&dropped](const CVolume* volume) {
        return std::any_of(dropped.begin(), dropped.end(),
                           [volume](const auto& d) { return d.get() == volume; });
    };
    using Group = const std::vector<std::shared_ptr<CVolume>>*;
    for (const Group group : std::initializer_list<Group>{&volumes_, &retired_, &dropped}) {
        for (const auto& volume : *group)
            std::erase_if(volume->ChildVolumes, isDropped);
    }
    retired_.insert(retired_.end(), dropped.begin(), dropped.end());
}

namespace {

// Whether `tree` indexes this very object (not merely one with its id).
bool TreeHolds(const filesystems::FoundObjectTree& tree, const filesystems::FoundObject& object) {
    filesystems::FoundObjectTree::Cursor cursor = filesystems::FoundObjectTree::kFreshCursor;
    while (const filesystems::FoundObject* found = tree.FindById(object.Id, cursor)) {
        if (found == &object)
            return true;
    }
    return false;
}

}  // namespace

void CVolumesList::PruneRetiredLocked() {
    if (retired_.empty())
        return;
    // Reachable: used by a thread, pointed at by the computer, or reached from a volume
    // that stays (its parent, its child, its node in the parent's tree). Repeated until
    // nothing changes, as keeping one retired volume can keep another.
    std::vector<CVolume*> staying;
    for (const auto& volume : volumes_)
        staying.push_back(volume.get());
    for (CVolume* pointer : {computer_.SelectedVolume.load(), computer_.ActiveVolume.load(),
                             computer_.LastAnalysedVolume.load()}) {
        if (pointer != nullptr)
            staying.push_back(pointer);
    }
    for (CVolume* queued : computer_.AnalysisQueue())
        staying.push_back(queued);
    std::vector<bool> keep(retired_.size(), false);
    const auto stays = [&staying](const CVolume* volume) {
        return std::find(staying.begin(), staying.end(), volume) != staying.end();
    };
    bool changed = true;
    while (changed) {
        changed = false;
        for (std::size_t i = 0; i < retired_.size(); ++i) {
            if (keep[i])
                continue;
            CVolume* volume = retired_[i].get();
            bool reachable = retired_[i].use_count() > 1 || stays(volume);
            const CVolume* parent = volume->GetParentVolume();
            if (!reachable && parent != nullptr && stays(parent))
                reachable = TreeHolds(*parent->FoundObjectTree, volume->TreeNode);
            for (std::size_t j = 0; !reachable && j < staying.size(); ++j) {
                const CVolume* other = staying[j];
                reachable = other->ParentVolume == volume ||
                            std::find(other->ChildVolumes.begin(), other->ChildVolumes.end(),
                                      volume) != other->ChildVolumes.end();
            }
            if (reachable) {
                keep[i] = true;
                staying.push_back(volume);
                changed = true;
            }
        }
    }
    std::vector<std::shared_ptr<CVolume>> still;
    for (std::size_t i = 0; i < retired_.size(); ++i) {
        if (keep[i])
            still.push_back(std::move(retired_[i]));
    }
    retired_ = std::move(still);
}

std::size_t CVolumesList::RetiredCount() const {
    std::lock_guard lock(mutex_);
    return retired_.size();
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
    // The query of a volume a later rescan dropped must not hang it under a new disk.
    if (std::none_of(volumes_.begin(), volumes_.end(),
                     [&volume](const auto& listed) { return listed.get() == &volume; })) {
        return;
    }
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
    const std::string& name = event.deviceName;
    if (name.empty() || name.find('/') != std::string::npos)
        return;
    const bool arrived = event.kind == platform::MediaEvent::Kind::Arrived;
    // What arrived is known by what it is, not by its name: the kernel gives a card that
    // returns the next free name, and a different card the old one.
    platform::DeviceIdentity seen = event.identity;
    if (arrived) {
        seen.FillFrom(platform::ReadDeviceIdentity(computer_.Roots().sys, name));
        if (seen.fileSystemUuid.empty()) {
            if (const auto probe = platform::ProbeFileSystem(computer_.Roots().dev / name))
                seen.fileSystemUuid = probe->uuid;
        }
    }
    const auto volumes = Snapshot();
    std::vector<CVolume*> onDevice;
    for (const auto& volume : volumes) {
        if (volume->KernelName.empty())
            continue;  // images and found volumes follow their disk
        bool match = volume->KernelName == name;
        if (arrived) {
            const platform::DeviceIdentity known = volume->Identity();
            if (known.Known() && seen.Known())
                match = platform::SameMedium(known, seen);
        }
        if (match)
            onDevice.push_back(volume.get());
    }
    const auto isOnDevice = [&onDevice](const CVolume* volume) {
        return volume != nullptr &&
               std::find(onDevice.begin(), onDevice.end(), volume) != onDevice.end();
    };
    if (onDevice.empty() && !platform::IsListedDeviceName(name))
        return;
    const std::string devicePath = (computer_.Roots().dev / name).string();
    // The disks first: the volumes read through them take the new name from them.
    for (CVolume* volume : onDevice) {
        if (arrived) {
            volume->MediumReturned(name, devicePath);
        } else {
            volume->MediumRemoved(seen);
        }
    }
    for (const auto& volume : volumes) {
        if (isOnDevice(volume.get()) || !isOnDevice(volume->GetParentVolume()))
            continue;
        if (!arrived) {
            volume->MediumRemoved({});
        } else if (volume->KernelName.empty()) {
            // A partition has a device of its own and waits for its own arrival.
            volume->MediumReturned({}, {});
        }
    }
    computer_.Log().LogMessage(
        arrived ? core::StringId::MediumConnected : core::StringId::MediumRemoved, name);
    if (auto window = computer_.App().MainWindow()) {
        window->Post({kMediaChangedMessage, arrived ? kDeviceArrived : kDeviceRemoved, 0, name});
    }
}

}  // namespace duzez::devices
