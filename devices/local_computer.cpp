#include "devices/local_computer.h"

#include <cassert>
#include <fstream>
#include <iterator>

#include "core/window_messages.h"
#include "filesystems/boot_record.h"
#include "filesystems/exfat/file_system_exfat.h"
#include "filesystems/fat/file_system_fat.h"
#include "filesystems/ntfs/file_system_ntfs.h"
#include "platform/program_folders.h"
#include "platform/registry_store.h"
#include "platform/text_encoding.h"

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
    fileSystemFactory_ = [](CVolume& volume,
                            std::uint32_t id) -> std::unique_ptr<filesystems::CFileSystem> {
        namespace Ids = filesystems::FileSystemIds;
        if (id == Ids::Fat12 || id == Ids::Fat16 || id == Ids::Fat32) {
            return std::make_unique<filesystems::CFileSystem_FAT>(volume);
        }
        if (id == Ids::Ntfs)
            return std::make_unique<filesystems::CFileSystem_NTFS>(volume);
        if (id == Ids::ExFat)
            return std::make_unique<filesystems::CFileSystem_ExFAT>(volume);
        return nullptr;
    };

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

void CLocalComputer::ForgetVolumes(const std::vector<std::shared_ptr<CVolume>>& volumes) {
    for (const auto& volume : volumes) {
        // Also when its thread has not begun yet: it then finds the analysis stopped.
        if (volume->AnalysisThreadAlive())
            StopAnalysis(*volume, true);
        RemoveFromQueue(*volume);
        for (std::atomic<CVolume*>* current :
             {&SelectedVolume, &ActiveVolume, &LastAnalysedVolume}) {
            CVolume* expected = volume.get();
            current->compare_exchange_strong(expected, computerRoot_.get());
        }
    }
}

namespace {

// The sections of a shipped format file whose format keys `store` lacks, as a file of
// their own: formats added by a newer program reach a store an older one filled, while
// the formats already there keep the user's choices.
std::string MissingFormatSections(const std::string& shipped,
                                  const platform::RegistryStore& store) {
    constexpr std::string_view kRoot = "HKEY_CURRENT_USER\\";
    std::string missing;
    std::size_t at = shipped.find("\n[");
    while (at != std::string::npos) {
        const std::size_t open = at + 1;
        const std::size_t close = shipped.find(']', open);
        if (close == std::string::npos)
            break;
        const std::size_t next = shipped.find("\n[", close);
        std::string_view key = std::string_view(shipped).substr(open + 1, close - open - 1);
        if (key.starts_with(kRoot))
            key.remove_prefix(kRoot.size());
        if (!store.KeyExists(key))
            missing +=
                shipped.substr(open, (next == std::string::npos ? shipped.size() : next) - open) +
                "\n";
        at = next;
    }
    return missing;
}

}  // namespace

bool CLocalComputer::LoadSignatures() {
    bool imported = true;
    const std::string key =
        app_.GetRegistryPath() + "\\" + std::string(signatures::SignatureDatabase::kSubkey);
    const auto shipped = platform::FindProgramData("signatures.reg");
    std::string error = "signatures.reg is not installed beside the program";
    if (!app_.Store().KeyExists(key)) {
        imported = shipped && app_.Store().ImportFile(*shipped, &error);
    } else if (shipped) {
        std::ifstream in(*shipped, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        const std::string missing =
            MissingFormatSections(platform::DecodeTextFile(bytes).text, app_.Store());
        if (!missing.empty())
            imported = app_.Store().ImportText("Windows Registry Editor Version 5.00\n\n" + missing,
                                               &error);
    }
    if (!imported)
        log_.LogError("The file formats could not be installed: %s", error);
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

namespace duzez::devices {
namespace {

// File-system id and name of a found volume by its partition type.
std::pair<std::uint32_t, std::string> FileSystemOfPartitionType(std::int32_t type) {
    switch (type) {
        case 1:
        case 17:
            return {1, "FAT12"};
        case 4:
        case 6:
        case 14:
        case 20:
        case 22:
        case 30:
            return {4, "FAT16"};
        case 7:
            return {7, "NTFS"};
        case 11:
        case 12:
        case 27:
        case 28:
            return {11, "FAT32"};
        default:
            return {0, ""};
    }
}

constexpr std::uint32_t kFoundVolumeMessage = core::WM_APP + 502;

// Where a boot sector found at `start` of `parent` places its volume. Usually there; but
// when the volume's first sector is gone, the scan finds its backup copy, and the volume
// starts the copy's distance before it. Only the true start finds the FAT or the MFT.
struct Placement {
    std::uint64_t start = 0;       // bytes from the parent's start
    std::uint64_t bootSector = 0;  // 512-byte sectors from the volume's start
};
Placement PlaceBootSector(CVolume& parent, std::uint64_t start) {
    std::array<std::uint8_t, CVolume::kSectorSize> sector{};
    const auto readAt = [&](std::uint64_t offset) {
        return offset % CVolume::kSectorSize == 0 &&
               parent.ReadSectors(sector, offset / CVolume::kSectorSize, std::uint64_t{1}) ==
                   sector.size();
    };
    if (!readAt(start))
        return {start, 0};
    const std::uint32_t id = filesystems::DetectFileSystem(sector);
    const auto landmarks = filesystems::ReadBootLandmarks(sector, id);
    if (!landmarks)
        return {start, 0};
    if (start < landmarks->backupOffset)
        return {start, 0};
    // A copy: the original's place holds no boot sector of its own, but the structures.
    const std::uint64_t original = start - landmarks->backupOffset;
    if (!readAt(original) || filesystems::DetectFileSystem(sector) == id ||
        !readAt(original + landmarks->structureOffset) ||
        !filesystems::StructureAt(sector, id, *landmarks)) {
        return {start, 0};
    }
    return {original, landmarks->backupOffset / CVolume::kSectorSize};
}

}  // namespace

CVolume* CLocalComputer::AddFoundVolume(const filesystems::FoundObject& record) {
    const std::shared_ptr<CVolume> parent = volumes_.FindById(record.ParentId);
    if (!parent)
        return nullptr;
    const Placement placed = PlaceBootSector(*parent, record.Start);
    // A found volume reads through its disk's device: what its scan finds is placed on the
    // disk, not at the same offset from the disk's start.
    const std::uint64_t absolute =
        placed.start + (parent->VolumeType == VolumeKind::Found ? parent->StartOffset : 0);
    // Whatever lies on the volume already, found by a table or by a scan, is not listed
    // twice (a logical volume by its partition entry, a found one by its offset).
    for (const auto& volume : volumes_.Snapshot()) {
        if (volume->ParentVolume != parent.get() || volume == parent)
            continue;
        const std::uint64_t position = volume->VolumeType == VolumeKind::Logical
                                           ? volume->DriveLayout.PartitionEntry[0].StartingOffset
                                           : volume->StartOffset;
        // A backup boot sector of a volume already listed is that volume again: FAT32
        // keeps one in sector 6, NTFS one right after its last sector.
        const std::uint32_t fileSystem = volume->FileSystem->FileSystemId;
        const bool backup =
            (fileSystem == filesystems::FileSystemIds::Fat32 &&
             absolute == position + 6 * CVolume::kSectorSize) ||
            (fileSystem == filesystems::FileSystemIds::Ntfs && volume->TotalSize != 0 &&
             (absolute == position + volume->TotalSize ||
              absolute + CVolume::kSectorSize == position + volume->TotalSize));
        if (position == absolute || backup) {
            volume->VolumeFlags |= VolumeFlags::FoundAgain;
            return nullptr;
        }
    }
    // The volume's own boot sector, and the backup copies its file system keeps (FAT32 in
    // sector 6, NTFS in the volume's last sector), are the volume itself again.
    const bool ownBootSector =
        parent->VolumeType != VolumeKind::Physical &&
        (placed.start == 0 ||
         (parent->FileSystem->FileSystemId == filesystems::FileSystemIds::Fat32 &&
          record.Start == 6 * CVolume::kSectorSize) ||
         (parent->FileSystem->FileSystemId == filesystems::FileSystemIds::Ntfs &&
          parent->TotalSize >= CVolume::kSectorSize &&
          record.Start >= parent->TotalSize - 2 * CVolume::kSectorSize));
    if (ownBootSector) {
        parent->VolumeFlags |= VolumeFlags::FoundAgain;
        return nullptr;
    }
    auto found = std::make_shared<CVolume>(*this, VolumeKind::Found);
    const auto [id, name] = FileSystemOfPartitionType(record.SignatureId);
    found->FileSystem->FileSystemId = id;
    if (!name.empty())  // a GPT entry has no MBR type to name it
        found->FileSystem->FileSystemName = name;
    found->DriveType = DriveCategory::Found;
    found->StartOffset = absolute;
    found->BootSector = placed.bootSector;
    found->TotalSize = parent->TotalSize > placed.start ? parent->TotalSize - placed.start : 0;
    // A partition ends where its table entry says, not at the end of the disk: a scan of
    // it must not list the next partition's files.
    if (record.Size != filesystems::kUnknownSize && record.Size != 0)
        found->TotalSize = std::min(found->TotalSize, record.Size);
    found->ParentId = parent->Id;
    found->ParentVolume = parent.get();
    found->Id = NextId();
    found->VolumeFlags = VolumeFlags::Listed;
    volumes_.AddChild(*parent, *found);
    found->Analyse_Boot();
    // Named by its boot sector when it has one, else by its partition type.
    log_.LogMessage(core::StringId::FoundVolumeAt, found->FileSystem->FileSystemName, absolute);
    // What its table does not say, its boot sector does (a volume found by the scan).
    if (found->TotalSectors != 0)
        found->TotalSize = std::min(found->TotalSize, found->TotalSectors * CVolume::kSectorSize);
    found->TotalSectors = found->TotalSize / CVolume::kSectorSize;
    found->VolumeState = VolumeStatus::Ready;
    volumes_.Append(found);
    found->SyncTreeNode();
    parent->FoundObjectTree->AddObject(&found->TreeNode, true);
    if (auto window = app_.MainWindow()) {
        window->Post({kFoundVolumeMessage, reinterpret_cast<std::uintptr_t>(found.get()), 0, {}});
    }
    return found.get();
}

}  // namespace duzez::devices

namespace duzez::devices {

CVolume* CLocalComputer::LoadImage(const std::filesystem::path& image, std::string& error) {
    // The same file loaded again is the volume already listed, with what its analysis
    // found, not a second entry of the same name.
    std::error_code canonicalError;
    const std::filesystem::path canonical =
        std::filesystem::weakly_canonical(image, canonicalError);
    for (const auto& listed : volumes_.Snapshot()) {
        std::error_code listedError;
        if (!canonicalError && listed->VolumeType == VolumeKind::Image &&
            std::filesystem::weakly_canonical(listed->DevicePath, listedError) == canonical &&
            !listedError) {
            return listed.get();
        }
    }
    std::shared_ptr<CVolume> volume = CreateImageVolume(image, error);
    if (!volume)
        return nullptr;
    volumes_.Append(volume);
    volume->Analyse_Boot();
    volume->VolumeState = VolumeStatus::Ready;
    return volume.get();
}

}  // namespace duzez::devices
