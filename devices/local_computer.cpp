#include "devices/local_computer.h"

#include <cassert>

#include "platform/program_folders.h"

namespace duzez::devices {
namespace {

std::atomic<CLocalComputer*> g_instance{nullptr};

}  // namespace

CLocalComputer::CLocalComputer(core::CApp& app, LocalComputerOptions options)
    : app_(app),
      roots_(std::move(options.roots)),
      opener_(options.opener ? std::move(options.opener) : platform::MakeLocalDeviceOpener()),
      log_(app),
      signatures_(app.Store(), app.GetRegistryPath(), [this] { return NextId(); }),
      computerRoot_(std::make_unique<CVolume>(*this, VolumeKind::ComputerRoot)),
      imagesRoot_(std::make_unique<CVolume>(*this, VolumeKind::ImagesRoot)),
      volumes_(*this) {
    computerRoot_->Id = NodeId::ComputerRoot;
    computerRoot_->ParentId = NodeId::ComputerRoot;
    imagesRoot_->Id = NodeId::ImagesRoot;
    imagesRoot_->ParentId = NodeId::ComputerRoot;
    SelectedVolume = ActiveVolume = LastAnalysedVolume = computerRoot_.get();
    log_.ApplySettings(app_.Settings());

    [[maybe_unused]] CLocalComputer* previous = g_instance.exchange(this);
    assert(previous == nullptr && "only one CLocalComputer may exist at a time");

    if (options.listDrives)
        volumes_.Rescan();
    filter_.LoadFilter(app_.Store(), app_.GetRegistryPath());
    if (options.followMediaChanges) {
        monitor_ = std::make_unique<platform::MediaMonitor>(
            [this](const platform::MediaEvent& event) { volumes_.OnDeviceChange(event); });
    }
}

CLocalComputer::~CLocalComputer() {
    monitor_.reset();
    std::unique_lock lock(backgroundMutex_);
    backgroundDone_.wait(lock, [this] { return backgroundThreads_ == 0; });
    g_instance.store(nullptr);
}

CLocalComputer* CLocalComputer::Instance() {
    return g_instance.load();
}

std::uint64_t CLocalComputer::NextId() {
    return --idCounter_;
}

void CLocalComputer::BeginBackgroundWork() {
    std::lock_guard lock(backgroundMutex_);
    ++backgroundThreads_;
}

void CLocalComputer::EndBackgroundWork() {
    std::lock_guard lock(backgroundMutex_);
    --backgroundThreads_;
    backgroundDone_.notify_all();
}

bool CLocalComputer::LoadSignatures() {
    bool imported = true;
    const std::string key =
        app_.GetRegistryPath() + "\\" + std::string(signatures::SignatureDatabase::kSubkey);
    if (!app_.Store().KeyExists(key)) {
        const auto shipped = platform::FindProgramData("signatures.reg");
        std::string error = "signatures.reg is not installed beside the program";
        imported = shipped && app_.Store().ImportFile(*shipped, &error);
        if (!imported) {
            log_.LogError("The file formats could not be installed: %s", error);
        }
    }
    signatures_.LoadDatabase();
    return imported;
}

std::shared_ptr<CVolume> CLocalComputer::CreateImageVolume(const std::filesystem::path& image,
                                                           std::string& error) {
    const std::string path = std::filesystem::absolute(image).lexically_normal().string();
    const auto device = opener_->Open(path, error);
    if (!device)
        return nullptr;
    auto volume = std::make_shared<CVolume>(*this, VolumeKind::Image);
    volume->DriveType = DriveCategory::OsFile;
    volume->DevicePath = path;
    volume->RootPath = path;
    volume->TotalSize = device->SizeBytes();
    volume->TotalSectors = volume->TotalSize / CVolume::kSectorSize;
    volume->TotalClusters = volume->TotalSize / volume->ClusterSize;
    volume->Id = NextId();
    volume->ParentId = NodeId::ImagesRoot;
    volume->VolumeFlags = VolumeFlags::Listed;
    volume->VolumeState = VolumeStatus::Ready;
    return volume;
}

}  // namespace duzez::devices
