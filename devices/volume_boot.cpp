// The boot area of a volume: file-system recognition, the boot sector's fields, the
// partition walk, and what the sector scan hands to the volume.

#include <exception>

#include "core/log.h"
#include "devices/local_computer.h"
#include "devices/partition_table.h"
#include "devices/volume.h"
#include "filesystems/boot_record.h"
#include "filesystems/exfat/file_system_exfat.h"
#include "filesystems/fat/file_system_fat.h"
#include "filesystems/forwarding_volume.h"
#include "filesystems/ntfs/file_system_ntfs.h"
#include "platform/blkid_probe.h"
#include "signatures/signature.h"

namespace duzez::devices {

namespace Ids = filesystems::FileSystemIds;

namespace {

// The volume as the free-space count reads it: reads and geometry go to the volume; the
// count adds nothing to its tree and runs to its end whether an analysis runs or not, so
// it neither needs the application's running flag nor disturbs an analysis.
class CountingView final : public filesystems::ForwardingVolume {
  public:
    explicit CountingView(CVolume& volume) : ForwardingVolume(volume), volume_(volume) {}

    std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                    std::uint64_t count) override {
        return volume_.ReadSectors(buffer, sector, count);
    }
    void CountSectorPhaseFile() override {}
    // Not the analysis's own: a count must not hand its caches or its progress over.
    filesystems::CFileSystem* FileSystemAnalyser() override { return nullptr; }
    void SetProgress(std::uint64_t, std::uint64_t) override {}
    void AddFileSystemObject(const filesystems::FoundObject& /*record*/) override {}
    bool AnalysisRunning() const override { return true; }

  private:
    CVolume& volume_;
};

}  // namespace

std::uint32_t CVolume::ReadBootSector() {
    return ReadSectors(BootBuffer, BootSector, std::uint64_t{2});
}

std::uint32_t CVolume::Analyse_Boot() {
    try {
        const std::uint32_t bytes = ReadBootSector();
        if (bytes == 0) {
            computer_.Log().LogErrorMessage(core::StringId::CantReadBootSector, DisplayNameText());
        }
        if (bytes < kSectorSize)
            return kNotReady;

        const std::uint32_t id = FileSystem->Detect(BootBuffer);
        FileSystem->FileSystemId = id;
        if (id != 0)
            FileSystem->SetFileSystemName(id);
        const auto fields = filesystems::ReadBootFields(BootBuffer, id);
        if (id != 0 && fields->sectorsPerCluster != 0)
            SectorsPerCluster = fields->sectorsPerCluster;
        // Sector counts are in the boot sector's own sectors; the engine counts 512 bytes.
        const std::uint64_t scale = fields->bytesPerSector >= kSectorSize &&
                                            fields->bytesPerSector <= 4096 &&
                                            fields->bytesPerSector % kSectorSize == 0
                                        ? fields->bytesPerSector / kSectorSize
                                        : 1;

        if (id == Ids::Fat12 || id == Ids::Fat16 || id == Ids::Fat32) {
            if (fields->fatSerial != 0) {
                SerialNumber = (SerialNumber & ~0xFFFFFFFFull) | fields->fatSerial;
            }
            if (VolumeLabel.empty())
                VolumeLabel = fields->fatLabel;
            if (TotalSectors == 0) {
                TotalSectors = scale * (fields->largeSectors != 0 ? fields->largeSectors
                                                                  : fields->smallSectors);
                if (TotalSectors == 0) {
                    computer_.Log().LogError(id == Ids::Fat32
                                                 ? "boot_fat32->BPB.Large_Sectors == 0 && "
                                                   "boot_fat32->BPB.Small_Sectors == 0"
                                                 : "boot_fat16->BPB.Large_Sectors == 0 && "
                                                   "boot_fat16->BPB.Small_Sectors == 0");
                }
            }
        } else if (id == Ids::ExFat) {
            if (fields->fatSerial != 0)
                SerialNumber = (SerialNumber & ~0xFFFFFFFFull) | fields->fatSerial;
            // Shifts the boot sector bounds (sectors of 512 to 4096 bytes, clusters up to
            // 32 MiB); counts here are in 512-byte sectors.
            const unsigned sectorShift = fields->exfatSectorShift;
            const unsigned clusterShift = fields->exfatClusterShift;
            if (sectorShift >= 9 && sectorShift <= 12 && sectorShift + clusterShift <= 25) {
                SectorsPerCluster = 1u << (sectorShift + clusterShift - 9);
                if (TotalSectors == 0 && fields->exfatVolumeLength < (1ull << 48))
                    TotalSectors = fields->exfatVolumeLength << (sectorShift - 9);
            }
        } else if (id == Ids::Ntfs) {
            // A serial number whose high half is zero is not taken.
            if ((fields->ntfsSerial >> 32) != 0)
                SerialNumber = fields->ntfsSerial;
            // Its size, so that its sector phase covers it and nothing after it.
            if (TotalSectors == 0 && fields->ntfsTotalSectors < (1ull << 48))
                TotalSectors = fields->ntfsTotalSectors * scale;
        }

        if (VolumeType == VolumeKind::Image) {
            std::string error;
            if (const auto device = computer_.Opener().Open(DevicePath, error)) {
                TotalSize = device->SizeBytes();
            }
            if (TotalSize != 0)
                TotalSectors = TotalSize / kSectorSize;
        }
        if (TotalSize == 0 && TotalSectors != 0)
            TotalSize = TotalSectors * kSectorSize;
        if (TotalClusters == 0 && TotalSectors != 0 && SectorsPerCluster != 0) {
            TotalClusters = TotalSectors / SectorsPerCluster;
        }
        ClusterSize = SectorsPerCluster * BytesPerSector;
        // exFAT keeps its label in the root directory, not in the boot sector.
        if (id == Ids::ExFat && VolumeLabel.empty()) {
            if (const auto probe = ProbeOwnRange(); probe && probe->type == "exfat")
                VolumeLabel = probe->label;
        }
        // The walk needs the sector count, which an image learns only above.
        if (id == 0 && !WalkPartitions())
            NameForeignFileSystem();
        SyncTreeNode();
        return 1;
    } catch (const std::exception&) {
        computer_.Log().LogError("CVolume::Analyse_Boot.except: ParseBoot");
        return kNotReady;
    }
}

bool CVolume::MeasureFreeSpace() {
    if (FreeBytesKnown)
        return true;
    const std::uint32_t id = FileSystem->FileSystemId;
    CountingView view(*this);
    std::optional<std::uint64_t> free;
    if (id == Ids::Fat12 || id == Ids::Fat16 || id == Ids::Fat16Large || id == Ids::Fat32) {
        filesystems::CFileSystem_FAT fat(view);
        fat.FileSystemId = id;
        free = fat.CountFreeBytes();
    } else if (id == Ids::ExFat) {
        free = filesystems::CFileSystem_ExFAT(view).CountFreeBytes();
    } else if (id == Ids::Ntfs) {
        free = filesystems::CFileSystem_NTFS(view).CountFreeBytes();
    }
    if (free) {
        FreeBytes = *free;
        FreeBytesKnown = true;
    }
    return FreeBytesKnown;
}

std::optional<platform::FileSystemProbe> CVolume::ProbeOwnRange() {
    // Disks and kernel partitions were probed when the drives were listed.
    if ((VolumeType != VolumeKind::Image && VolumeType != VolumeKind::Found) || TotalSize == 0)
        return std::nullopt;
    const std::uint64_t offset = VolumeType == VolumeKind::Found ? StartOffset : 0;
    const std::string& path = GetDevicePath();  // a found volume's is its disk's
    if (path.empty())
        return std::nullopt;
    return platform::ProbeFileSystemAt(path, offset, TotalSize);
}

void CVolume::NameForeignFileSystem() {
    const auto probe = ProbeOwnRange();
    // FAT and NTFS the boot sector names; a probe that sees them where the boot sector
    // did not is no better guide.
    if (!probe || probe->type.empty() || probe->type == "vfat" || probe->type == "ntfs")
        return;
    FileSystem->FileSystemName = platform::FileSystemDisplayName(*probe);
    if (VolumeLabel.empty())
        VolumeLabel = probe->label;
}

bool CVolume::WalkPartitions() {
    // A disk knows its logical sector size; an image does not, and the walk tries both.
    const std::uint32_t logical = VolumeType == VolumeKind::Physical ? Geometry.BytesPerSector : 0;
    const WalkResult walk = WalkPartitionTables(
        [this](std::uint64_t sector, std::span<std::uint8_t> buffer) {
            return ReadSectors(buffer, sector, std::uint64_t{1}) == kSectorSize;
        },
        TotalSectors, logical);
    if (walk.oversizedEntry)
        computer_.Log().LogException("pPartition->NumberSectors > TotalSectors");
    if (walk.gptFromBackup) {
        computer_.Log().LogError(
            "The primary GUID partition table of %s is damaged; its backup copy at the end "
            "of the disk was used.",
            DisplayNameText());
    }
    if (walk.gptUnreadable) {
        computer_.Log().LogError(
            "Both copies of the GUID partition table of %s are damaged; searching for lost "
            "drives can still find its volumes.",
            DisplayNameText());
    }
    for (const FoundPartition& partition : walk.partitions) {
        if (partition.damaged) {
            // Names come from the disk: arguments, never part of the format.
            computer_.Log().LogError(
                "Partition \"%s\" of %s lies outside the disk's usable area and is not read.",
                partition.name, DisplayNameText());
            continue;
        }
        if (computer_.Volumes().HasChildAt(*this, partition.startSector))
            continue;
        filesystems::FoundObject record;
        record.Start = partition.startSector * kSectorSize;
        record.Size = partition.sectorCount * kSectorSize;
        record.ParentId = Id;
        record.SignatureId = partition.type;
        computer_.AddFoundVolume(record);
    }
    return walk.kind != TableKind::None;
}

void CVolume::OnFoundItem(filesystems::FoundObject item) {
    namespace F = signatures::FormatIds;
    const std::int32_t type = item.SignatureId;
    if (type == F::NtfsBoot || type == F::Fat12Boot || type == F::Fat16Boot ||
        type == F::Fat32Boot) {
        item.ParentId = Id;
        computer_.AddFoundVolume(item);
        return;
    }
    if (VolumesOnly.load() != 0)
        return;
    if (type == F::NtfsFileRecord || type == F::FatDirectory || type == F::ExFatDirectory) {
        FileSystem->ParseFoundBlock(item);
        return;
    }
    if (type <= F::LastInternal)
        return;
    const auto result = FoundObjectTree->AddFoundFile(std::move(item));
    if (result.outcome != filesystems::FoundObjectTree::FoundFileResult::Outcome::Added)
        return;
    if (result.object->Is(filesystems::ObjectFlags::Folder)) {
        ++SectorFoldersFound;
    } else if (computer_.App().Settings().LogFoundFileNames()) {
        computer_.Log().LogMessage(core::StringId::FoundFile,
                                   std::string(result.object->GetName()));
    }
}

void CVolume::SetClusterGeometry(std::uint32_t bytesPerSector, std::uint32_t sectorsPerCluster) {
    BytesPerSector = bytesPerSector;
    SectorsPerCluster = sectorsPerCluster;
    ClusterSize = bytesPerSector * sectorsPerCluster;
}

void CVolume::AddFileSystemObject(const filesystems::FoundObject& record) {
    computer_.AddFileSystemObject(*this, record);
}

bool CVolume::AnalysisRunning() const {
    return computer_.App().AnalysisRunning.load();
}

core::CLog& CVolume::Log() {
    return computer_.Log();
}

void CVolume::SyncTreeNode() {
    TreeNode.Start = StartOffset;
    TreeNode.Size = TotalSize;
    TreeNode.Flags = VolumeFlags | filesystems::ObjectFlags::Folder;
    TreeNode.Id = Id;
    TreeNode.ParentId = ParentId;
    TreeNode.SetName(DisplayNameText());
}

}  // namespace duzez::devices
