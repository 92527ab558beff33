#include "filesystems/ntfs/file_system_ntfs.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_set>

#include "core/log.h"
#include "filesystems/found_object_tree.h"
#include "platform/byte_order.h"

namespace duzez::filesystems {
namespace {

namespace Type = ntfs::AttributeType;
constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kRootRecord = 5;
constexpr std::uint64_t kBitmapRecord = 6;
constexpr std::uint32_t kMaxClusterSize = 2 * 1024 * 1024;
constexpr std::size_t kMaxExtensionRecords = 4096;
constexpr std::size_t kBitmapChunkBytes = 1024 * 1024;
constexpr std::size_t kRecordBufferBytes = 16384;  // the most of record 0 that is read

}  // namespace

CFileSystem_NTFS::CFileSystem_NTFS(AnalysedVolume& volume) : volume_(volume) {}

bool CFileSystem_NTFS::Prepare() {
    const auto boot = ntfs::ReadBootParameters(volume_.BootSectorBytes());
    if (!boot)
        return false;
    boot_ = *boot;
    bytesPerSector_ = boot->bytesPerSector;
    if (bytesPerSector_ < 512 || bytesPerSector_ > 4096 ||
        (bytesPerSector_ & (bytesPerSector_ - 1)) != 0) {
        return false;
    }
    // Values above 0x80 give the cluster size as a power of two (large clusters).
    std::uint64_t sectorsPerCluster = boot->sectorsPerCluster;
    if (sectorsPerCluster > 0x80)
        sectorsPerCluster = std::uint64_t{1}
                            << std::min(256 - sectorsPerCluster, std::uint64_t{31});
    const std::uint64_t clusterSize = sectorsPerCluster * bytesPerSector_;
    if (clusterSize == 0 || clusterSize > kMaxClusterSize)
        return false;
    clusterSize_ = static_cast<std::uint32_t>(clusterSize);
    clusterSectors_ = clusterSize_ / kSector;
    clusterCount_ = volume_.VolumeSize() / clusterSize_;
    fileSystemClusters_ = boot->totalSectors / sectorsPerCluster;
    volume_.SetClusterGeometry(bytesPerSector_, static_cast<std::uint32_t>(sectorsPerCluster));
    recordSize_ = ntfs::RecordSizeFromBoot(boot->clustersPerRecord, clusterSize_).value_or(1024);
    return true;
}

int CFileSystem_NTFS::Analyse() {
    core::CLog& log = volume_.Log();
    current_ = {};
    open_ = {};
    parsedSectors_.clear();
    UsedAreas.clear();
    if (!Prepare() || !LoadMft()) {
        log.LogError("CFileSystem_NTFS: Load MFT failed.");
        return 0;
    }
    LoadClusterBitmap();
    log.LogMessage(core::StringId::AnalyzingMft);
    volume_.SetProgress(0, recordCount_ == 0 ? 0 : recordCount_ - 1);

    const std::uint64_t perBlock = std::clamp<std::uint64_t>(
        kMftBlockBytes / recordSize_, 1, std::max<std::uint64_t>(recordCount_, 1));
    std::vector<std::uint8_t> block(static_cast<std::size_t>(perBlock * recordSize_));
    std::vector<std::uint8_t> record(recordSize_);
    FoundObject scratch;
    for (std::uint64_t first = 0; first < recordCount_; first += perBlock) {
        const std::uint64_t count = std::min(perBlock, recordCount_ - first);
        const auto view = std::span(block).first(static_cast<std::size_t>(count * recordSize_));
        // One read for many records; where it falls short, record by record.
        const bool whole = ReadAttributeData(mft_, first * recordSize_, view) == view.size();
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t number = first + i;
            std::span<const std::uint8_t> bytes;
            if (whole)
                bytes = view.subspan(static_cast<std::size_t>(i * recordSize_), recordSize_);
            else if (ReadRecord(number, record))
                bytes = record;
            if (ntfs::HasFileSignature(bytes)) {
                scratch.InitObject();
                scratch.Id = number;
                ReportRecord(bytes, scratch);
            }
            volume_.SetProgress(number, recordCount_ - 1);
            if (!volume_.AnalysisRunning())
                return 1;
        }
    }
    return 1;
}

void CFileSystem_NTFS::ReportRecord(std::span<const std::uint8_t> bytes, FoundObject& object) {
    const auto header = ntfs::ReadRecordHeader(bytes);
    if (!header)
        return;
    if ((header->flags & ntfs::RecordFlags::InUse) == 0)
        object.Flags |= ObjectFlags::Deleted;
    if ((header->flags & ntfs::RecordFlags::Directory) != 0)
        object.Flags |= ObjectFlags::Folder;
    object.Flags |= ObjectFlags::UtcTimes;
    current_.bytes.assign(bytes.begin(), bytes.end());
    ParseRecord(current_);
    if (!FillObject(current_, object))
        return;
    object.Start = DataStart(current_);
    if (object.Id == kRootRecord || object.ParentId == 0)
        return;
    if (object.Is(ObjectFlags::Deleted) && !object.Is(ObjectFlags::Folder) && RunsInUse(current_))
        object.Flags |= ObjectFlags::Overwritten;
    volume_.AddFileSystemObject(object);
}

bool CFileSystem_NTFS::RunsInUse(const MftRecord& record) const {
    // The cluster bitmap gives each cluster in use to a live file: a deleted file whose runs
    // meet one has lost those bytes to it.
    for (const ntfs::DataRun& run : record.runs) {
        if (run.sparse || run.length == 0)
            continue;
        const std::uint64_t first = ClusterToSector(run.lcn);
        const std::uint64_t end = first + run.length * clusterSectors_;
        auto area = std::upper_bound(UsedAreas.begin(), UsedAreas.end(), first,
                                     [](std::uint64_t sector, const SectorRange& range) {
                                         return sector < range.firstSector;
                                     });
        if (area != UsedAreas.begin() &&
            std::prev(area)->firstSector + std::prev(area)->sectorCount > first)
            return true;
        if (area != UsedAreas.end() && area->firstSector < end)
            return true;
    }
    return false;
}

bool CFileSystem_NTFS::LoadMft() {
    // Record 0 from the MFT, else from its mirror; read at the largest size a record
    // buffer holds, then cut to the size the record itself gives.
    std::vector<std::uint8_t> bytes;
    const auto readCopy = [&](std::uint64_t cluster) {
        if (cluster >= clusterCount_)
            return false;
        const std::uint64_t sector = ClusterToSector(cluster);
        const std::uint64_t sectors =
            std::min<std::uint64_t>(kRecordBufferBytes / kSector, volume_.SectorCount() - sector);
        bytes.assign(static_cast<std::size_t>(sectors * kSector), 0);
        return volume_.ReadVolumeSectors(bytes, sector, sectors) != 0 &&
               ntfs::HasFileSignature(bytes);
    };
    if (!readCopy(boot_.mftCluster) && !readCopy(boot_.mirrorCluster))
        return false;
    const auto header = ntfs::ReadRecordHeader(bytes);
    if (!header || header->bytesAllocated < ntfs::kMinRecordSize ||
        header->bytesAllocated > ntfs::kMaxRecordSize) {
        return false;
    }
    recordSize_ = header->bytesAllocated;
    bytes.resize(std::min<std::size_t>(recordSize_, kRecordBufferBytes));
    mft_.bytes = std::move(bytes);
    ParseRecord(mft_);
    MergeExtensionRuns(mft_, 0);
    // A forged size cannot make the MFT larger than the volume.
    const std::uint64_t dataSize = std::min(mft_.dataSize, volume_.VolumeSize());
    recordCount_ = dataSize / recordSize_;
    mftExtents_.clear();
    for (const auto& run : mft_.runs) {
        if (!run.sparse && run.lcn < clusterCount_)
            mftExtents_.push_back(
                {ClusterToSector(run.lcn),
                 std::min(run.length, clusterCount_ - run.lcn) * clusterSectors_});
    }
    // The mirror's copies of the first records are listed from the MFT itself.
    if (boot_.mirrorCluster < clusterCount_) {
        const std::uint64_t mirrorBytes = std::max<std::uint64_t>(4ull * recordSize_, clusterSize_);
        mftExtents_.push_back({ClusterToSector(boot_.mirrorCluster),
                               (mirrorBytes + clusterSize_ - 1) / clusterSize_ * clusterSectors_});
    }
    std::sort(
        mftExtents_.begin(), mftExtents_.end(),
        [](const SectorRange& a, const SectorRange& b) { return a.firstSector < b.firstSector; });
    return true;
}

void CFileSystem_NTFS::MergeExtensionRuns(MftRecord& record, std::uint64_t number) {
    std::unordered_set<std::uint64_t> loaded{number};
    std::vector<std::uint8_t> bytes(recordSize_);
    for (auto list = ntfs::FindAttribute(record.bytes, Type::AttributeList); list;
         list = ntfs::FindNextAttribute(record.bytes, *list, Type::AttributeList)) {
        const auto value = ntfs::ResidentValue(record.bytes, *list);
        if (!value)
            continue;  // a non-resident attribute list is not read
        for (const auto& entry : ntfs::ReadAttributeList(*value)) {
            if (entry.type != Type::Data || loaded.size() > kMaxExtensionRecords ||
                !loaded.insert(entry.record).second || !ReadRecord(entry.record, bytes)) {
                continue;
            }
            if (!ntfs::ApplyFixups(bytes))
                continue;
            for (auto data = ntfs::FindAttribute(bytes, Type::Data); data;
                 data = ntfs::FindNextAttribute(bytes, *data, Type::Data)) {
                const auto part = ntfs::ReadNonResident(bytes, *data);
                if (!part || data->nameLength != 0)
                    continue;
                for (const auto& run : ntfs::DecodeRuns(part->runList, part->lowestVcn)) {
                    // The base record's own part is listed too: its runs are known already.
                    const bool known = std::any_of(
                        record.runs.begin(), record.runs.end(), [&run](const ntfs::DataRun& r) {
                            return !r.sparse && !run.sparse && r.lcn == run.lcn;
                        });
                    if (!known)
                        record.runs.push_back(run);
                }
            }
        }
    }
    std::stable_sort(
        record.runs.begin(), record.runs.end(),
        [](const ntfs::DataRun& a, const ntfs::DataRun& b) { return a.firstVcn < b.firstVcn; });
}

void CFileSystem_NTFS::LoadClusterBitmap() {
    core::CLog& log = volume_.Log();
    log.LogMessage(core::StringId::LoadingClustersBitmapStart);
    std::uint64_t cluster = 0;
    std::uint64_t runStart = 0;
    bool inRun = false;
    const auto mark = [&](std::span<const std::uint8_t> chunk) {
        for (const std::uint8_t byte : chunk) {
            if ((byte == 0xFF && inRun) || (byte == 0x00 && !inRun)) {
                cluster += 8;
                continue;
            }
            for (int bit = 0; bit < 8; ++bit, ++cluster) {
                const bool used = (byte >> bit) & 1;
                if (used && !inRun) {
                    runStart = cluster;
                    inRun = true;
                } else if (!used && inRun) {
                    UsedAreas.push_back(
                        {ClusterToSector(runStart), (cluster - runStart) * clusterSectors_});
                    inRun = false;
                }
            }
        }
        return volume_.AnalysisRunning();
    };
    if (volume_.AnalysisRunning())
        ReadClusterBitmap((clusterCount_ + 7) / 8, mark);
    if (inRun)
        UsedAreas.push_back({ClusterToSector(runStart), (cluster - runStart) * clusterSectors_});
    log.LogMessage(core::StringId::LoadingClustersBitmapComplete);
}

bool CFileSystem_NTFS::ReadClusterBitmap(
    std::uint64_t bytes, const std::function<bool(std::span<const std::uint8_t>)>& use) {
    std::vector<std::uint8_t> record(recordSize_);
    if (bytes == 0 || !ReadRecord(kBitmapRecord, record))
        return false;
    MftRecord bitmap;
    bitmap.bytes = std::move(record);
    ParseRecord(bitmap);
    // One bit per cluster: a larger size is forged and not followed.
    const std::uint64_t size = std::min(bitmap.dataSize, bytes);
    std::vector<std::uint8_t> chunk(
        static_cast<std::size_t>(std::min<std::uint64_t>(kBitmapChunkBytes, size)));
    for (std::uint64_t offset = 0; offset < size; offset += chunk.size()) {
        const auto view = std::span(chunk).first(
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size - offset)));
        if (ReadAttributeData(bitmap, offset, view) != view.size() || !use(view))
            return false;
    }
    return size == bytes;
}

std::optional<std::uint64_t> CFileSystem_NTFS::CountFreeBytes() {
    if (!Prepare() || !LoadMft())
        return std::nullopt;
    // Clusters past the end of the volume that is here are read as no one's.
    const std::uint64_t clusters = std::min(fileSystemClusters_, clusterCount_);
    std::uint64_t used = 0;
    std::uint64_t counted = 0;
    const bool whole =
        ReadClusterBitmap((clusters + 7) / 8, [&](std::span<const std::uint8_t> chunk) {
            for (const std::uint8_t byte : chunk) {
                // The last byte's bits beyond the last cluster belong to none.
                const std::uint64_t bits = std::min<std::uint64_t>(8, clusters - counted);
                const auto mask = static_cast<std::uint8_t>((1u << bits) - 1);
                used += static_cast<std::uint64_t>(
                    std::popcount(static_cast<std::uint8_t>(byte & mask)));
                counted += bits;
            }
            return true;
        });
    if (!whole)
        return std::nullopt;
    return (clusters - used) * clusterSize_;
}

bool CFileSystem_NTFS::ReadRecord(std::uint64_t number, std::span<std::uint8_t> buffer) {
    if (buffer.size() < recordSize_ || number >= volume_.VolumeSize() / recordSize_)
        return false;
    const auto record = buffer.first(recordSize_);
    return ReadAttributeData(mft_, number * recordSize_, record) == record.size() &&
           ntfs::HasFileSignature(record);
}

void CFileSystem_NTFS::ParseRecord(MftRecord& record) const {
    record.runs.clear();
    record.dataSize = 0;
    record.initializedSize = 0;
    record.nonResident = false;
    record.encrypted = false;
    record.compressionUnitClusters = 0;
    record.valueOffset = 0;
    if (!ntfs::HasFileSignature(record.bytes))
        return;
    if (!ntfs::ApplyFixups(record.bytes)) {
        record.bytes.clear();  // torn: nothing in it is to be trusted
        return;
    }
    // The file's data is its unnamed stream; named ones ($SDS, alternate streams) are not.
    auto data = ntfs::FindAttribute(record.bytes, Type::Data);
    while (data && data->nameLength != 0)
        data = ntfs::FindNextAttribute(record.bytes, *data, Type::Data);
    if (!data)
        return;
    if (data->nonResident) {
        const auto header = ntfs::ReadNonResident(record.bytes, *data);
        if (!header)
            return;
        record.nonResident = true;
        record.encrypted = (data->flags & ntfs::kEncrypted) != 0;
        if ((data->flags & ntfs::kCompressedMask) != 0)
            record.compressionUnitClusters =
                1u << std::min<std::uint16_t>(header->compressionUnit, 16);
        record.dataSize = header->realSize;
        record.initializedSize = std::min(header->initializedSize, header->realSize);
        record.runs = ntfs::DecodeRuns(header->runList, header->lowestVcn);
    } else if (const auto offset = ntfs::ResidentValueOffset(record.bytes, *data)) {
        record.dataSize =
            platform::ReadLe<std::uint32_t>(record.bytes, data->offset + 0x10).value_or(0);
        record.valueOffset = *offset;
        record.initializedSize = record.dataSize;
    }
}

bool CFileSystem_NTFS::FillObject(const MftRecord& record, FoundObject& object) const {
    const std::span<const std::uint8_t> bytes = record.bytes;
    if (!ntfs::AttributesWalkable(bytes))
        return false;
    if (const auto info = ntfs::FindAttribute(bytes, Type::StandardInformation)) {
        if (const auto value = ntfs::ResidentValue(bytes, *info)) {
            if (const auto times = ntfs::ReadStandardInformation(*value)) {
                object.Created = times->created;
                object.Modified = times->modified;
                object.Accessed = times->accessed;
            }
        }
    }
    bool named = false;
    bool first = true;
    for (auto attribute = ntfs::FindAttribute(bytes, Type::FileName); attribute;
         attribute = ntfs::FindNextAttribute(bytes, *attribute, Type::FileName)) {
        const auto value = ntfs::ResidentValue(bytes, *attribute);
        const auto name = value ? ntfs::ReadFileName(*value) : std::nullopt;
        if (!name)
            continue;
        if (first) {
            object.ParentId = name->parent;
            object.Size = name->realSize;
            first = false;
        }
        // The last Win32 name wins; else the first name of any kind.
        if (!name->name.empty() && (name->nameSpace == 1 || !named)) {
            object.SetName(name->name);
            named = true;
        }
    }
    if (static_cast<std::int64_t>(record.dataSize) > static_cast<std::int64_t>(object.Size))
        object.Size = record.dataSize;
    return true;
}

void CFileSystem_NTFS::ParseFoundBlock(const FoundObject& block) {
    if (clusterSize_ == 0 || recordSize_ == 0)
        return;
    const std::uint64_t step = recordSize_ / kSector;
    std::vector<std::uint8_t> record(recordSize_);
    std::uint64_t sector = block.Start / kSector;
    for (int i = 0; i < 10 && sector < volume_.SectorCount(); ++i, sector += step) {
        // The records of the MFT were listed by the file-system phase already, and a record
        // the blocks of earlier hits took in is not listed twice.
        if (InsideMft(sector) || !parsedSectors_.insert(sector).second)
            continue;
        if (volume_.ReadVolumeSectors(record, sector, step) != 0 && ntfs::HasFileSignature(record))
            ParseRecordBuffer(record);
    }
}

void CFileSystem_NTFS::ParseRecordBuffer(std::span<const std::uint8_t> bytes) {
    const auto header = ntfs::ReadRecordHeader(bytes);
    if (!header)
        return;
    FoundObject object;
    object.Id = header->recordNumber;
    if ((header->flags & ntfs::RecordFlags::Directory) == 0)
        object.Flags |= ObjectFlags::IsFile;
    ReportRecord(bytes, object);
}

bool CFileSystem_NTFS::InsideMft(std::uint64_t sector) const {
    auto after = std::upper_bound(
        mftExtents_.begin(), mftExtents_.end(), sector,
        [](std::uint64_t s, const SectorRange& range) { return s < range.firstSector; });
    if (after == mftExtents_.begin())
        return false;
    --after;
    return sector - after->firstSector < after->sectorCount;
}

bool CFileSystem_NTFS::IsSystemObject(const FoundObject& object) const {
    // Records 0 to 15 are reserved for the metadata files; $Extend (11) holds the rest.
    constexpr std::uint64_t kFirstUserRecord = 16;
    constexpr std::uint64_t kExtendRecord = 11;
    if (object.Is(ObjectFlags::FoundBySignature) || object.IsSpecial())
        return false;
    if (object.Id < kFirstUserRecord)
        return object.Id != kRootRecord;
    const FoundObject* current = &object;
    // A parent chain is at most as long as there are records; a loop ends it.
    for (std::uint64_t depth = 0; depth < recordCount_ && current != nullptr; ++depth) {
        if (current->ParentId == kExtendRecord)
            return true;
        if (current->ParentId == kRootRecord || current->ParentId == current->Id)
            return false;
        FoundObjectTree::Cursor cursor = FoundObjectTree::kFreshCursor;
        current = volume_.Tree().FindById(current->ParentId, cursor);
    }
    return false;
}

}  // namespace duzez::filesystems
