#include "filesystems/exfat/file_system_exfat.h"

#include <algorithm>

#include "core/log.h"
#include "filesystems/found_object_tree.h"

namespace duzez::filesystems {
namespace {

constexpr std::uint64_t kSector = 512;
// Entries of the longest set a secondary count can claim.
constexpr std::size_t kLookahead = 256;
// A stored up-case table of 65,536 units, none of them compressed.
constexpr std::uint64_t kMaxUpcaseBytes = 2 * 0x10000;

// A directory's entries, read a cluster at a time and kept only while a set starting
// before them may still reach them.
class DirectoryWindow {
  public:
    DirectoryWindow(AnalysedVolume& volume, std::vector<std::uint32_t> clusters,
                    std::uint64_t clusterBytes, std::uint64_t heapSector)
        : volume_(volume),
          clusters_(std::move(clusters)),
          clusterBytes_(clusterBytes),
          perCluster_(static_cast<std::size_t>(clusterBytes / exfat::kEntrySize)),
          heapSector_(heapSector),
          failed_(clusters_.size(), false) {}

    std::size_t EntryCount() const { return clusters_.size() * perCluster_; }
    std::size_t EntriesPerCluster() const { return perCluster_; }
    // Whether the cluster holding entry `index` could not be read (it reads as zeros).
    bool Unreadable(std::size_t index) const { return failed_[index / perCluster_]; }
    std::uint64_t EntryOffset(std::size_t index) const {
        const std::uint64_t cluster = clusters_[index / perCluster_];
        return (heapSector_ + (cluster - 2) * (clusterBytes_ / kSector)) * kSector +
               (index % perCluster_) * exfat::kEntrySize;
    }
    // The entries from `index` on, `count` of them or fewer at the end.
    std::span<const std::uint8_t> Entries(std::size_t index, std::size_t count) {
        const std::size_t end = std::min(index + count, EntryCount());
        const std::size_t first = index / perCluster_;
        const std::size_t last = (end + perCluster_ - 1) / perCluster_;
        if (first < windowFirst_ || first > windowFirst_ + windowClusters_) {
            window_.clear();
            windowFirst_ = first;
            windowClusters_ = 0;
        } else if (first > windowFirst_) {
            const std::size_t drop = first - windowFirst_;
            window_.erase(window_.begin(),
                          window_.begin() + static_cast<std::ptrdiff_t>(drop * clusterBytes_));
            windowFirst_ = first;
            windowClusters_ -= drop;
        }
        while (windowFirst_ + windowClusters_ < last)
            Load(windowFirst_ + windowClusters_++);
        const std::size_t at = (index - windowFirst_ * perCluster_) * exfat::kEntrySize;
        return std::span<const std::uint8_t>(window_).subspan(at,
                                                              (end - index) * exfat::kEntrySize);
    }

  private:
    void Load(std::size_t position) {
        const std::size_t at = window_.size();
        window_.resize(at + static_cast<std::size_t>(clusterBytes_), 0);
        const auto out = std::span(window_).subspan(at);
        const std::uint64_t sector =
            heapSector_ + (std::uint64_t{clusters_[position]} - 2) * (clusterBytes_ / kSector);
        const std::uint32_t got = volume_.ReadVolumeSectors(out, sector, clusterBytes_ / kSector);
        if (got < out.size()) {
            std::fill(out.begin() + got, out.end(), std::uint8_t{0});
            failed_[position] = true;
        }
    }

    AnalysedVolume& volume_;
    std::vector<std::uint32_t> clusters_;
    std::uint64_t clusterBytes_;
    std::size_t perCluster_;
    std::uint64_t heapSector_;
    std::vector<bool> failed_;
    std::vector<std::uint8_t> window_;
    std::size_t windowFirst_ = 0;
    std::size_t windowClusters_ = 0;
};

}  // namespace

CFileSystem_ExFAT::CFileSystem_ExFAT(AnalysedVolume& volume) : volume_(volume) {}

int CFileSystem_ExFAT::Analyse() {
    UsedAreas.clear();
    liveQueue_.clear();
    deletedQueue_.clear();
    directoryClusters_.clear();
    {
        std::unique_lock lock(streamsMutex_);
        streams_.clear();
    }
    {
        std::lock_guard lock(fileReadMutex_);
        cursor_ = ChainCursor{};
    }
    if (!Prepare())
        return 0;
    liveQueue_.push_back({volume_.Tree().RootFolder().Id, boot_->rootCluster,
                          exfat::kMaxDirectoryBytes, false, false});
    std::uint64_t done = 0;
    while (volume_.AnalysisRunning()) {
        // Every live directory first: a deleted folder's clusters that a live one took
        // are that one's.
        std::deque<Directory>& queue = liveQueue_.empty() ? deletedQueue_ : liveQueue_;
        if (queue.empty())
            break;
        const Directory directory = queue.front();
        queue.pop_front();
        WalkDirectory(directory);
        ++done;
        volume_.SetProgress(done, done + liveQueue_.size() + deletedQueue_.size());
    }
    return 1;
}

bool CFileSystem_ExFAT::Prepare() {
    boot_.reset();
    usedBackup_ = false;
    label_.clear();
    fat_.clear();
    bitmap_.clear();
    bitmapWhole_ = false;
    upcase_.reset();
    if (!LoadBootRegion())
        return false;
    const exfat::BootParameters& boot = *boot_;
    clusterBytes_ = boot.ClusterBytes();
    sectorsPerCluster_ = clusterBytes_ / kSector;
    heapSector_ = std::uint64_t{boot.clusterHeapOffset} << (boot.bytesPerSectorShift - 9);
    clusterCount_ = exfat::UsableClusters(boot, volume_.VolumeSize());
    core::CLog& log = volume_.Log();
    if (clusterCount_ == 0) {
        log.LogError("exFAT: the cluster heap starts beyond the end of the volume");
        return false;
    }
    if (clusterCount_ < boot.clusterCount) {
        log.LogError("exFAT: the volume ends early: %u of %u clusters can be read", clusterCount_,
                     boot.clusterCount);
    }
    lastCluster_ = clusterCount_ + 1;
    if (!InHeap(boot.rootCluster)) {
        log.LogErrorMessage(core::StringId::FatRootDirectoryNotRead);
        return false;
    }
    volume_.SetClusterGeometry(boot.BytesPerSector(), boot.SectorsPerCluster());
    if (!LoadFat())
        return false;
    LoadRootTables();
    return true;
}

std::optional<std::uint64_t> CFileSystem_ExFAT::CountFreeBytes() {
    if (!Prepare() || !bitmapWhole_)
        return std::nullopt;
    const auto free = exfat::FreeClustersInBitmap(bitmap_, clusterCount_);
    if (!free)
        return std::nullopt;
    return *free * clusterBytes_;
}

std::optional<exfat::BootParameters> CFileSystem_ExFAT::ReadBootRegion(
    std::uint64_t byteOffset, std::uint8_t sectorShift, exfat::BootProblem& problem) {
    const std::uint32_t sectorBytes = 1u << sectorShift;
    std::vector<std::uint8_t> region(exfat::kBootRegionSectors * sectorBytes);
    if (volume_.ReadVolumeSectors(region, byteOffset / kSector, region.size() / kSector) !=
        region.size()) {
        problem = exfat::BootProblem::TooShort;
        return std::nullopt;
    }
    auto boot = exfat::ParseBootSector(std::span(region).first(sectorBytes), &problem);
    if (!boot)
        return std::nullopt;
    if (boot->bytesPerSectorShift != sectorShift) {
        problem = exfat::BootProblem::SectorSize;
        return std::nullopt;
    }
    if (!exfat::BootRegionChecksumOk(region, sectorBytes)) {
        problem = exfat::BootProblem::Checksum;
        return std::nullopt;
    }
    return boot;
}

bool CFileSystem_ExFAT::LoadBootRegion() {
    core::CLog& log = volume_.Log();
    std::vector<std::uint8_t> first(kSector);
    exfat::BootProblem mainProblem = exfat::BootProblem::TooShort;
    std::optional<exfat::BootParameters> fields;
    if (volume_.ReadVolumeSectors(first, 0, 1) == kSector)
        fields = exfat::ParseBootSector(first, &mainProblem);
    if (fields) {
        if ((boot_ = ReadBootRegion(0, fields->bytesPerSectorShift, mainProblem)))
            return true;
    }
    // The backup region lies 12 sectors in, whatever their size; the main one's size is
    // the likeliest.
    std::vector<std::uint8_t> shifts;
    if (fields)
        shifts.push_back(fields->bytesPerSectorShift);
    for (std::uint8_t shift = 9; shift <= 12; ++shift) {
        if (!fields || shift != fields->bytesPerSectorShift)
            shifts.push_back(shift);
    }
    for (const std::uint8_t shift : shifts) {
        exfat::BootProblem problem = exfat::BootProblem::None;
        if ((boot_ = ReadBootRegion(std::uint64_t{exfat::kBootRegionSectors} << shift, shift,
                                    problem))) {
            usedBackup_ = true;
            log.LogError("exFAT: the main boot region is damaged (%s); the backup is used",
                         exfat::BootProblemText(mainProblem));
            return true;
        }
    }
    if (fields) {
        // Neither copy adds up; the main sector's fields are still the best guess.
        log.LogError("exFAT: the boot region checksum does not match in either copy");
        boot_ = fields;
        return true;
    }
    log.LogError("exFAT: no usable boot region (%s)", exfat::BootProblemText(mainProblem));
    return false;
}

bool CFileSystem_ExFAT::LoadFat() {
    // Only the entries of the clusters the volume holds, never more than it holds.
    const std::uint64_t bytes = (std::uint64_t{clusterCount_} + 2) * 4;
    if (bytes > (1ull << 31) || bytes > volume_.VolumeSize()) {
        volume_.Log().LogErrorMessage(core::StringId::CantAllocateMemory);
        return false;
    }
    fat_.assign(static_cast<std::size_t>((bytes + kSector - 1) / kSector * kSector), 0);
    const std::uint64_t sector = boot_->ActiveFatOffset() << (boot_->bytesPerSectorShift - 9);
    if (volume_.ReadVolumeSectors(fat_, sector, fat_.size() / kSector) == 0) {
        // Chains end at their first cluster; contiguous files and folders still list.
        std::fill(fat_.begin(), fat_.end(), std::uint8_t{0});
        volume_.Log().LogError("exFAT: the FAT could not be read");
    }
    fat_.resize(static_cast<std::size_t>(bytes));
    return true;
}

void CFileSystem_ExFAT::LoadRootTables() {
    const std::size_t limit = static_cast<std::size_t>(
        std::max<std::uint64_t>(exfat::kMaxDirectoryBytes / clusterBytes_, 1));
    DirectoryWindow root(volume_, Chain(boot_->rootCluster, limit), clusterBytes_, heapSector_);
    std::optional<exfat::TableEntry> bitmap;
    std::optional<exfat::TableEntry> upcase;
    if (root.EntryCount() == 0 || root.Unreadable(0))
        volume_.Log().LogErrorMessage(core::StringId::FatRootDirectoryNotRead);
    for (std::size_t i = 0; i < root.EntryCount() && volume_.AnalysisRunning(); ++i) {
        const auto entry = root.Entries(i, 1);
        const std::uint8_t type = entry[0];
        if (type == exfat::EntryTypes::EndOfDirectory) {
            if (!root.Unreadable(i))
                break;
            continue;
        }
        if (type == exfat::EntryTypes::AllocationBitmap) {
            const exfat::TableEntry table = exfat::ReadTableEntry(entry);
            // With two FATs there are two bitmaps; the one of the active FAT counts.
            if (!bitmap || (table.flags & 1) == boot_->ActiveFat())
                bitmap = table;
        } else if (type == exfat::EntryTypes::UpcaseTable && !upcase) {
            upcase = exfat::ReadTableEntry(entry);
        } else if (type == exfat::EntryTypes::VolumeLabel && label_.empty()) {
            label_ = exfat::VolumeLabelText(entry).value_or("");
        }
    }
    if (!volume_.AnalysisRunning())
        return;
    if (bitmap)
        LoadBitmap(*bitmap);
    else
        volume_.Log().LogError("exFAT: no allocation bitmap in the root directory");
    if (upcase)
        LoadUpcase(*upcase);
}

void CFileSystem_ExFAT::LoadBitmap(const exfat::TableEntry& entry) {
    core::CLog& log = volume_.Log();
    const std::uint64_t bytes = (std::uint64_t{clusterCount_} + 7) / 8;
    if (!InHeap(entry.firstCluster) || entry.dataLength < bytes) {
        log.LogError("exFAT: the allocation bitmap entry is damaged");
        return;
    }
    log.LogMessage(core::StringId::LoadingClustersBitmapStart);
    bitmap_ = ReadData(entry.firstCluster, bytes, false, &bitmapWhole_);
    MarkUsedAreas();
    log.LogMessage(core::StringId::LoadingClustersBitmapComplete);
}

void CFileSystem_ExFAT::LoadUpcase(const exfat::TableEntry& entry) {
    if (!InHeap(entry.firstCluster) || entry.dataLength == 0 ||
        entry.dataLength > kMaxUpcaseBytes) {
        volume_.Log().LogError("exFAT: the up-case table entry is damaged");
        return;
    }
    const std::vector<std::uint8_t> stored = ReadData(entry.firstCluster, entry.dataLength, false);
    if (exfat::TableChecksum(stored) != entry.checksum) {
        volume_.Log().LogError("exFAT: the up-case table does not match its checksum");
        return;
    }
    upcase_ = exfat::UpcaseTable::Decode(stored);
}

void CFileSystem_ExFAT::MarkUsedAreas() {
    std::uint64_t runStart = 0;
    bool inRun = false;
    const auto close = [&](std::uint64_t end) {
        UsedAreas.push_back(
            {heapSector_ + runStart * sectorsPerCluster_, (end - runStart) * sectorsPerCluster_});
    };
    // A bitmap cut short by the end of the heap leaves the rest unknown, not in use.
    const std::uint64_t end =
        std::min<std::uint64_t>(clusterCount_, std::uint64_t{bitmap_.size()} * 8);
    for (std::uint64_t index = 0; index < end;) {
        const std::uint8_t byte = bitmap_[index / 8];
        // Whole bytes that go on as they are: most of a bitmap.
        if (index % 8 == 0 && index + 8 <= end && byte == (inRun ? 0xFF : 0x00)) {
            index += 8;
            continue;
        }
        const bool used = ((byte >> (index % 8)) & 1) != 0;
        if (used && !inRun) {
            runStart = index;
            inRun = true;
        } else if (!used && inRun) {
            close(index);
            inRun = false;
        }
        ++index;
    }
    if (inRun)
        close(end);
}

std::vector<std::uint32_t> CFileSystem_ExFAT::DirectoryClusters(const Directory& directory) {
    const std::uint64_t limit =
        std::min(ClusterCountFor(directory.bytes),
                 std::max<std::uint64_t>(exfat::kMaxDirectoryBytes / clusterBytes_, 1));
    std::vector<std::uint32_t> candidates;
    const bool run =
        directory.contiguous ||
        (directory.deleted && !DeletedChainUsable(directory.firstCluster, directory.bytes));
    if (run) {
        for (std::uint64_t c = directory.firstCluster;
             c < std::uint64_t{directory.firstCluster} + limit && InHeap(c); ++c) {
            candidates.push_back(static_cast<std::uint32_t>(c));
        }
    } else {
        candidates = Chain(directory.firstCluster, static_cast<std::size_t>(limit));
    }
    std::vector<std::uint32_t> clusters;
    for (const std::uint32_t cluster : candidates) {
        // Each directory cluster is read once; a deleted folder's cluster a file took now
        // holds that file's bytes.
        if (directoryClusters_.count(cluster) != 0 || (directory.deleted && ClusterInUse(cluster)))
            break;
        directoryClusters_.insert(cluster);
        clusters.push_back(cluster);
    }
    return clusters;
}

void CFileSystem_ExFAT::WalkDirectory(const Directory& directory) {
    DirectoryWindow window(volume_, DirectoryClusters(directory), clusterBytes_, heapSector_);
    const std::size_t total = window.EntryCount();
    std::size_t i = 0;
    while (i < total && volume_.AnalysisRunning()) {
        const auto entries = window.Entries(i, kLookahead);
        const std::uint8_t type = entries[0];
        if (type == exfat::EntryTypes::EndOfDirectory) {
            if (!window.Unreadable(i))
                break;
            // Zeros of a cluster that could not be read end nothing: go on after it.
            i = (i / window.EntriesPerCluster() + 1) * window.EntriesPerCluster();
            continue;
        }
        if ((type & ~exfat::EntryTypes::InUse) == (exfat::EntryTypes::File & 0x7F)) {
            if (const auto set = exfat::ParseFileSet(entries)) {
                // A set whose checksum fails is taken only when its name belongs to its
                // stream (the hash the stream keeps), where the up-case table tells.
                if (set->checksumOk || !upcase_ ||
                    exfat::NameHash(set->name, &*upcase_) == set->nameHash) {
                    Report(*set, window.EntryOffset(i), directory);
                }
                i += set->entryCount;
                continue;
            }
        }
        ++i;
    }
}

void CFileSystem_ExFAT::ParseFoundBlock(const FoundObject& block) {
    if (!boot_ || clusterBytes_ == 0 || sectorsPerCluster_ == 0)
        return;
    const std::uint64_t sector = block.Start / kSector;
    if (sector < heapSector_)
        return;
    const std::uint64_t cluster = (sector - heapSector_) / sectorsPerCluster_ + 2;
    // A cluster in use that no walk read as a directory holds a file's bytes now.
    if (!InHeap(cluster) || directoryClusters_.count(static_cast<std::uint32_t>(cluster)) != 0 ||
        ClusterInUse(static_cast<std::uint32_t>(cluster))) {
        return;
    }
    // Its length is not known: the cluster found; later ones are found on their own.
    deletedQueue_.push_back({volume_.Tree().RootFolder().Id, static_cast<std::uint32_t>(cluster),
                             clusterBytes_, true, true});
    while (!deletedQueue_.empty() && volume_.AnalysisRunning()) {
        const Directory directory = deletedQueue_.front();
        deletedQueue_.pop_front();
        WalkDirectory(directory);
    }
    deletedQueue_.clear();
}

void CFileSystem_ExFAT::Report(const exfat::FileSet& set, std::uint64_t entryOffset,
                               const Directory& parent) {
    const auto place = exfat::PlaceData(set, clusterCount_, clusterBytes_);
    if (!place)
        return;  // its first cluster names nothing on this volume
    FoundObject record;
    record.InitObject();
    record.SetName(exfat::NameToUtf8(set.name));
    record.Id = EntryId(entryOffset);
    record.ParentId = parent.id;
    record.Attributes = set.attributes;
    record.Created = set.created;
    record.Modified = set.modified;
    record.Accessed = set.accessed;
    if (set.utcTimes)
        record.Flags |= ObjectFlags::UtcTimes;
    // An entry in a deleted folder is deleted too, whatever its own type says: its
    // clusters were freed with the folder.
    const bool deleted = !set.inUse || parent.deleted;
    if (deleted)
        record.Flags |= ObjectFlags::Deleted;
    // No flag says "its entries do not add up"; what it lists may not be its own.
    if (!set.checksumOk)
        record.Flags |= ObjectFlags::Overwritten;
    const std::uint32_t first = place->firstCluster;
    record.Start = first != 0 ? ClusterToSector(first) * kSector : 0;
    if (set.IsFolder()) {
        record.Flags |= ObjectFlags::Folder;
        record.Size = 0;
        if (first != 0) {
            if (deleted && ClusterInUse(first))
                record.Flags |= ObjectFlags::Overwritten;
            (deleted ? deletedQueue_ : liveQueue_)
                .push_back({record.Id, first, place->size, set.noFatChain, deleted});
        }
        volume_.AddFileSystemObject(record);
        return;
    }
    // Bytes without a cluster to hold them are nowhere to be read.
    record.Size = first == 0 && place->clipped ? kUnknownSize : place->size;
    if (first != 0) {
        Stream stream{first, place->size, place->validSize, set.noFatChain,
                      set.checksumOk && !place->clipped};
        if (deleted && !stream.contiguous && !DeletedChainUsable(first, place->size))
            stream.contiguous = true;
        if (deleted && stream.contiguous && RunInUse(first, ClusterCountFor(place->size)))
            record.Flags |= ObjectFlags::Overwritten;
        std::unique_lock lock(streamsMutex_);
        streams_[record.Id] = stream;
    }
    volume_.AddFileSystemObject(record);
}

}  // namespace duzez::filesystems
