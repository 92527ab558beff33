#include "filesystems/fat/file_system_fat.h"

#include <cstring>

#include "core/log.h"
#include "filesystems/found_object_tree.h"
#include "filesystems/salvaging_read.h"
#include "platform/byte_order.h"

namespace duzez::filesystems {
namespace {

using platform::ReadLe;
constexpr std::uint64_t kSector = 512;
// Ids of entries without a cluster (empty files): above every cluster number, unique per
// directory entry, and positive, so never the id of a folder or a special node.
constexpr std::uint64_t kWithoutClusterBase = 1ull << 60;
constexpr std::uint64_t kParentBits = 0xFFFFFFFFFFFull;

std::uint64_t WithoutClusterId(std::uint64_t parentId, std::size_t entryIndex) {
    return kWithoutClusterBase | ((parentId & kParentBits) << 16) | (entryIndex & 0xFFFF);
}

}  // namespace

CFileSystem_FAT::CFileSystem_FAT(AnalysedVolume& volume) : volume_(volume) {}

bool CFileSystem_FAT::Prepare() {
    switch (FileSystemId) {
        case 1:
        case 17:
            variant_ = fat::Variant::Fat12;
            break;
        case 4:
        case 6:
            variant_ = fat::Variant::Fat16;
            break;
        case 11:
            variant_ = fat::Variant::Fat32;
            break;
        default:
            return false;
    }
    const auto boot = fat::ReadBootParameters(volume_.BootSectorBytes());
    if (!boot || boot->sectorsPerCluster == 0 || boot->bytesPerSector < kSector ||
        boot->bytesPerSector > 4096 || (boot->bytesPerSector & (boot->bytesPerSector - 1)) != 0)
        return false;
    volume_.SetClusterGeometry(boot->bytesPerSector, boot->sectorsPerCluster);
    // The boot sector counts in its own sectors (512 to 4096 bytes); the volume reads in
    // 512-byte ones.
    const std::uint64_t scale = boot->bytesPerSector / kSector;
    sectorsPerCluster_ = static_cast<std::uint32_t>(boot->sectorsPerCluster * scale);
    clusterSize_ = std::uint32_t{boot->sectorsPerCluster} * boot->bytesPerSector;
    const std::uint64_t sectorsPerFat =
        *variant_ == fat::Variant::Fat32 ? boot->sectorsPerFat32 : boot->sectorsPerFat16;
    rootDirectorySector_ = (boot->reservedSectors + sectorsPerFat * boot->fatCount) * scale;
    const std::uint64_t rootSectors =
        (std::uint64_t{boot->rootEntries} * 32 + boot->bytesPerSector - 1) / boot->bytesPerSector;
    firstDataSector_ = rootDirectorySector_ + rootSectors * scale;
    rootCluster_ = *variant_ == fat::Variant::Fat32 ? boot->rootCluster : 0;

    // The first FAT, but never more than the volume holds: a forged size must not drive
    // the allocation.
    const std::uint64_t fatBytes = sectorsPerFat * boot->bytesPerSector;
    const std::uint64_t available = volume_.VolumeSize();
    if (sectorsPerFat == 0 || fatBytes > available || fatBytes > (1ull << 31)) {
        volume_.Log().LogErrorMessage(core::StringId::CantAllocateMemory);
        return false;
    }
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>((fatBytes + kSector - 1) / kSector * kSector));
    const std::uint32_t read =
        volume_.ReadVolumeSectors(bytes, boot->reservedSectors * scale, bytes.size() / kSector);
    if (read == 0)
        std::fill(bytes.begin(), bytes.end(), 0);
    tableWhole_ = read == bytes.size();
    bytes.resize(static_cast<std::size_t>(fatBytes));
    table_ = std::make_unique<fat::FatTable>(*variant_, std::move(bytes));
    return true;
}

std::optional<std::uint64_t> CFileSystem_FAT::CountFreeBytes() {
    if (!Prepare() || !tableWhole_)
        return std::nullopt;
    const auto boot = fat::ReadBootParameters(volume_.BootSectorBytes());
    const auto clusters = boot ? fat::DataClusterCount(*boot, *variant_) : std::nullopt;
    const auto free = clusters ? fat::FreeClusterCount(*table_, *clusters) : std::nullopt;
    if (!free)
        return std::nullopt;
    return std::uint64_t{*free} * clusterSize_;
}

int CFileSystem_FAT::Analyse() {
    if (!Prepare())
        return 0;
    queue_.clear();
    deletedDirectories_.clear();
    entryClusters_.clear();
    queued_.clear();
    directoryClusters_.clear();
    parsedSectors_.clear();
    const std::uint64_t rootId = volume_.Tree().RootFolder().Id;
    if (*variant_ == fat::Variant::Fat32) {
        // The root folder stands for the root directory whatever its first cluster, so
        // its entries hang below it rather than below a placeholder.
        const auto chain =
            GetChain(rootCluster_, kMaxDirectoryBytes / std::max<std::uint32_t>(clusterSize_, 1));
        std::vector<std::uint8_t> buffer(chain.size() * clusterSize_);
        directoryClusters_.insert(chain.begin(), chain.end());
        for (std::size_t i = 0; i < chain.size() && volume_.AnalysisRunning(); ++i) {
            volume_.ReadVolumeSectors(std::span(buffer).subspan(i * clusterSize_, clusterSize_),
                                      ClusterToSector(chain[i]), sectorsPerCluster_);
        }
        queued_.insert(rootCluster_);
        ParseDirectory(buffer, rootId);
    } else {
        const std::uint64_t sectors = firstDataSector_ - rootDirectorySector_;
        std::vector<std::uint8_t> buffer(
            static_cast<std::size_t>(std::min(sectors * kSector, kMaxDirectoryBytes)));
        if (buffer.empty() ||
            volume_.ReadVolumeSectors(buffer, rootDirectorySector_, buffer.size() / kSector) == 0) {
            volume_.Log().LogErrorMessage(core::StringId::FatRootDirectoryNotRead);
            return 0;
        }
        ParseDirectory(buffer, rootId);
    }
    while (!queue_.empty() && volume_.AnalysisRunning()) {
        const std::uint32_t cluster = queue_.front();
        queue_.pop_front();
        ParseDirectoryAt(cluster);
    }
    return 1;
}

std::uint64_t CFileSystem_FAT::ClusterToSector(std::uint32_t cluster) const {
    return (std::uint64_t{cluster} - 2) * sectorsPerCluster_ + firstDataSector_;
}

std::vector<std::uint32_t> CFileSystem_FAT::GetChain(std::uint32_t first, std::size_t limit) const {
    std::vector<std::uint32_t> chain{first};
    std::unordered_set<std::uint32_t> seen{first};
    while (chain.size() < limit && volume_.AnalysisRunning()) {
        const auto next = table_->Entry(chain.back());
        if (!next || *next == 0 || *next < 2 || table_->IsEndOfChain(*next) ||
            *next >= table_->EntryCount() || *next > volume_.ClusterCount() + 1 ||
            !seen.insert(*next).second) {
            break;
        }
        chain.push_back(*next);
    }
    return chain;
}

void CFileSystem_FAT::ParseDirectoryAt(std::uint32_t firstCluster) {
    if (firstCluster < 2 || firstCluster > volume_.ClusterCount() + 1 || clusterSize_ == 0)
        return;
    const auto chain = GetChain(firstCluster, kMaxDirectoryBytes / clusterSize_);
    directoryClusters_.insert(chain.begin(), chain.end());
    std::vector<std::uint8_t> buffer(chain.size() * clusterSize_);
    for (std::size_t i = 0; i < chain.size() && volume_.AnalysisRunning(); ++i) {
        // A cluster that cannot be read stays zero: zero entries are not valid.
        volume_.ReadVolumeSectors(std::span(buffer).subspan(i * clusterSize_, clusterSize_),
                                  ClusterToSector(chain[i]), sectorsPerCluster_);
    }
    ParseDirectory(buffer, firstCluster, deletedDirectories_.count(firstCluster) != 0);
}

std::optional<std::uint32_t> CFileSystem_FAT::ClusterBeforeHighWordWasCleared(
    std::uint32_t low, const FoundObject& record, bool folder, bool& confirmed) {
    confirmed = false;
    // Windows clears the high 16 bits of a FAT32 entry's first cluster when it deletes the
    // file. On a volume of more clusters than 16 bits count, the first cluster is one of
    // low + k x 65,536: one whose clusters are all free now, that no other entry starts
    // at, and that starts as the entry says (a folder with its own "." entry, a file with
    // the header its name calls for). Two that fit cannot be told apart: nothing is taken.
    const std::uint64_t lastCluster = std::uint64_t{volume_.ClusterCount()} + 1;
    if (lastCluster <= 0xFFFF)
        return low;
    std::vector<std::uint32_t> free;
    for (std::uint64_t candidate = low; candidate <= lastCluster; candidate += 0x10000) {
        const auto cluster = static_cast<std::uint32_t>(candidate);
        if (!ClustersInUse(cluster, folder ? clusterSize_ : record.Size) &&
            entryClusters_.count(cluster) == 0) {
            free.push_back(cluster);
        }
    }
    if (free.empty())
        return std::nullopt;  // every candidate belongs to something else now
    const SignatureCatalog* catalog = volume_.Tree().Catalog();
    std::vector<std::uint8_t> sector(kSector);
    std::vector<std::uint32_t> fitting;
    bool kindKnown = true;
    for (const std::uint32_t cluster : free) {
        if (volume_.ReadVolumeSectors(sector, ClusterToSector(cluster), 1) == 0)
            continue;
        std::optional<bool> fits;
        if (folder) {
            const auto dot = std::span<const std::uint8_t>(sector).first(fat::kEntrySize);
            fits = fat::IsDotEntry(dot) && fat::FirstCluster(dot) == cluster;
        } else if (catalog != nullptr) {
            fits = catalog->SectorFitsName(record, sector);
        }
        if (!fits) {
            kindKnown = false;  // the name tells no header to look for
            break;
        }
        if (*fits)
            fitting.push_back(cluster);
    }
    if (fitting.size() == 1 || (!kindKnown && free.size() == 1)) {
        confirmed = true;
        return fitting.empty() ? free.front() : fitting.front();
    }
    // One place left that does not start as it should: overwritten, or a file of a kind
    // whose header not every file has (an MP3 without a tag). It is read from there, but
    // not taken on trust.
    if (fitting.empty() && free.size() == 1 && !folder)
        return free.front();
    return std::nullopt;
}

bool CFileSystem_FAT::ClustersInUse(std::uint32_t first, std::uint64_t size) const {
    // A deleted file is read as the clusters from its first on: if the table gives any of
    // them to a file now, what lies there is that file's.
    const std::uint64_t clusters =
        (size + clusterSize_ - 1) / std::max<std::uint32_t>(clusterSize_, 1);
    const std::uint64_t last = std::min<std::uint64_t>(
        first + std::max<std::uint64_t>(clusters, 1),
        std::min<std::uint64_t>(table_->EntryCount(), volume_.ClusterCount() + 2));
    for (std::uint64_t cluster = first; cluster < last; ++cluster) {
        const auto entry = table_->Entry(static_cast<std::uint32_t>(cluster));
        if (entry && *entry != 0)
            return true;
    }
    return false;
}

void CFileSystem_FAT::Enqueue(std::uint32_t cluster) {
    if (queued_.insert(cluster).second)
        queue_.push_back(cluster);
}

void CFileSystem_FAT::ParseDirectory(std::span<const std::uint8_t> buffer, std::uint64_t parentId,
                                     bool inDeletedFolder) {
    FoundObject record;
    const std::size_t entries = buffer.size() / fat::kEntrySize;
    for (std::size_t i = 0; i < entries && volume_.AnalysisRunning(); ++i) {
        const auto entry = buffer.subspan(i * fat::kEntrySize, fat::kEntrySize);
        if (!fat::IsValidEntry(entry))
            continue;
        const std::uint8_t attributes = entry[0x0B];
        if (attributes == 0x0F || attributes == 0x08)
            continue;
        if (fat::IsDotEntry(entry))
            continue;

        record.InitObject();
        record.SetName(fat::BuildName(buffer, i));
        std::uint32_t cluster = fat::FirstCluster(entry);
        // Bytes 20-21 hold a cluster's high word only on FAT32 (elsewhere other data).
        if (*variant_ != fat::Variant::Fat32)
            cluster &= 0xFFFF;
        // A first cluster beyond the data area names nothing on this volume.
        if (cluster > volume_.ClusterCount() + 1)
            continue;
        record.ParentId = parentId;
        bool clearedHighWordUnmatched = false;
        if (fat::IsDeletedEntry(entry) && *variant_ == fat::Variant::Fat32 &&
            *ReadLe<std::uint16_t>(entry, 0x14) == 0 && cluster >= 2) {
            bool confirmed = false;
            const auto found = ClusterBeforeHighWordWasCleared(cluster, record,
                                                               (attributes & 0x10) != 0, confirmed);
            clearedHighWordUnmatched = !confirmed;
            // A folder whose clusters cannot be told is not read: whatever lies at its low
            // word is some other file's.
            cluster = found.value_or((attributes & 0x10) != 0 ? 0 : cluster);
        }
        if (cluster >= 2)
            entryClusters_.insert(cluster);
        if (cluster >= 2) {
            record.Id = cluster;
            record.Start = (std::uint64_t{cluster} - 2) * clusterSize_ + firstDataSector_ * kSector;
        } else {
            // No data, so no first cluster to name it by: it is named by its entry and stays
            // in the folder that holds it.
            record.Id = WithoutClusterId(parentId, i);
            record.Start = 0;
        }
        record.Size = *ReadLe<std::uint32_t>(entry, 0x1C);
        // Bytes without a cluster to hold them are nowhere to be read: not the boot area.
        if (cluster < 2 && record.Size != 0)
            record.Size = filesystems::kUnknownSize;
        record.Created = fat::FatTimeToFileTime(*ReadLe<std::uint16_t>(entry, 0x10),
                                                *ReadLe<std::uint16_t>(entry, 0x0E));
        record.Modified = fat::FatTimeToFileTime(*ReadLe<std::uint16_t>(entry, 0x18),
                                                 *ReadLe<std::uint16_t>(entry, 0x16));
        record.Accessed = fat::FatTimeToFileTime(*ReadLe<std::uint16_t>(entry, 0x12), 0);
        // An entry in a deleted folder, or in a directory cluster the live tree does not
        // reach, is deleted too, whatever its own first byte says: its clusters were freed
        // with the folder and may belong to another file now.
        if (fat::IsDeletedEntry(entry) || inDeletedFolder) {
            record.Flags |= ObjectFlags::Deleted;
            if ((attributes & 0x10) == 0 && cluster >= 2 &&
                (clearedHighWordUnmatched || ClustersInUse(cluster, record.Size))) {
                record.Flags |= ObjectFlags::Overwritten;
            }
        }
        record.Attributes = attributes;
        if ((attributes & 0x10) != 0) {
            record.Flags |= ObjectFlags::Folder;
            if (cluster >= 2) {
                if (record.Is(ObjectFlags::Deleted))
                    deletedDirectories_.insert(cluster);
                else
                    deletedDirectories_.erase(cluster);  // a live folder's cluster is live
                Enqueue(cluster);
            }
        }
        volume_.AddFileSystemObject(record);
    }
}

std::uint64_t CFileSystem_FAT::OrphanDirectoryId(std::span<const std::uint8_t> cluster,
                                                 std::uint64_t sector) const {
    // The first cluster of a subdirectory starts with "." (itself) and ".." (its parent):
    // its files keep their folder, which nests under its own parent where that is found too
    // (a quick-formatted card keeps DCIM/100CANON/IMG_0001.JPG). Other clusters of a
    // directory do not say whose they are.
    const std::uint64_t own = (sector - firstDataSector_) / sectorsPerCluster_ + 2;
    const auto dot = cluster.first(fat::kEntrySize);
    if (sector >= firstDataSector_ && fat::IsDotEntry(dot) && dot[1] == ' ' &&
        fat::FirstCluster(dot) == own) {
        return own;
    }
    return volume_.Tree().RootFolder().Id;
}

void CFileSystem_FAT::ParseFoundBlock(const FoundObject& block) {
    if (!table_ || clusterSize_ == 0)
        return;
    std::vector<std::uint8_t> cluster(clusterSize_);
    std::uint64_t sector = block.Start / kSector;
    for (int i = 0; i < 10 && sector < volume_.SectorCount(); ++i) {
        if (WasReadAsDirectory(sector) || !parsedSectors_.insert(sector).second) {
            sector += sectorsPerCluster_;
            continue;
        }
        if (volume_.ReadVolumeSectors(cluster, sector, sectorsPerCluster_) != 0 &&
            fat::PlausibleDirectory(cluster, volume_.ClusterCount() + 1, volume_.VolumeSize())) {
            ParseDirectory(cluster, OrphanDirectoryId(cluster, sector), true);
        }
        sector += sectorsPerCluster_;
    }
}

bool CFileSystem_FAT::WasReadAsDirectory(std::uint64_t sector) const {
    if (sector < firstDataSector_)
        return true;  // the FAT12/16 root directory
    const std::uint64_t offset = sector - firstDataSector_;
    if (offset % sectorsPerCluster_ != 0)
        return false;
    const std::uint64_t cluster = offset / sectorsPerCluster_ + 2;
    return cluster <= 0xFFFFFFFF &&
           directoryClusters_.count(static_cast<std::uint32_t>(cluster)) != 0;
}

std::uint32_t CFileSystem_FAT::FileRead(const FoundObject& object, std::span<std::uint8_t> buffer,
                                        std::uint64_t offset, ReadDamage& damage) {
    if (!table_ || clusterSize_ == 0 || object.Is(ObjectFlags::Deleted) ||
        object.Is(ObjectFlags::FoundBySignature) || object.Is(ObjectFlags::Folder) ||
        object.Id < 2 || object.Id > 0x0FFFFFFF) {
        return kNotSupported;
    }
    std::lock_guard lock(fileReadMutex_);
    const auto first = static_cast<std::uint32_t>(object.Id);
    const std::uint64_t index = offset / clusterSize_;
    // Go on from where the last read ended when this one continues it; else from the start.
    ChainCursor& at = cursor_;
    if (at.objectId != object.Id || at.clusterIndex > index) {
        at = ChainCursor{object.Id, 0, first, false, {{first, first}}};
    }
    const std::uint64_t entries = table_->EntryCount();
    const std::uint64_t lastCluster = std::uint64_t{volume_.ClusterCount()} + 1;
    // A chain that stops before the file's size (freed, cut, or looping back into itself)
    // does not lose the rest: it goes on contiguously after the cluster where it stopped,
    // as a deleted file's would.
    const auto advance = [&]() {
        const auto next = at.guessed ? std::nullopt : table_->Entry(at.cluster);
        if (next && *next >= 2 && !table_->IsEndOfChain(*next) && *next < entries &&
            !at.Visited(*next)) {
            at.Visit(*next);
            at.cluster = *next;
        } else {
            at.guessed = true;
            if (at.cluster <= lastCluster)
                ++at.cluster;
        }
        ++at.clusterIndex;
    };
    while (at.clusterIndex < index)
        advance();
    // Clusters that follow each other on the disk are read in one request: a chain is
    // mostly one run, and a card reader pays for every request.
    std::size_t done = 0;
    std::uint64_t within = offset % clusterSize_;
    std::uint32_t runFirst = at.cluster;
    std::uint64_t runBytes = 0;  // of the file, from `within` of runFirst on
    const auto flush = [&]() {
        if (runBytes == 0)
            return;
        const auto out = buffer.subspan(done, static_cast<std::size_t>(runBytes));
        const std::uint64_t firstSector = ClusterToSector(runFirst) + within / kSector;
        const std::uint64_t skip = within % kSector;
        const std::uint64_t sectors = (skip + runBytes + kSector - 1) / kSector;
        if (runFirst > lastCluster) {
            // Past the data area: nothing there to read.
            std::fill(out.begin(), out.end(), std::uint8_t{0});
            damage.sectorsRead += sectors;
            damage.unreadableSectors += sectors;
        } else if (skip == 0 && runBytes % kSector == 0) {
            ReadSectorsSalvaging(volume_, out, firstSector, sectors, damage);
        } else {
            bounce_.resize(static_cast<std::size_t>(sectors * kSector));
            ReadSectorsSalvaging(volume_, bounce_, firstSector, sectors, damage);
            std::memcpy(out.data(), bounce_.data() + skip, out.size());
        }
        done += out.size();
        within = 0;
        runBytes = 0;
    };
    while (done + runBytes < buffer.size()) {
        damage.endGuessed = damage.endGuessed || at.guessed;
        const std::uint64_t start = runBytes == 0 ? within : 0;
        runBytes += std::min<std::uint64_t>(clusterSize_ - start, buffer.size() - done - runBytes);
        if (done + runBytes >= buffer.size())
            break;
        advance();
        const std::uint64_t runClusters = (within + runBytes) / clusterSize_;
        const bool follows = at.cluster == runFirst + runClusters &&
                             (at.cluster > lastCluster) == (runFirst > lastCluster);
        if (!follows) {
            flush();
            runFirst = at.cluster;
        }
    }
    flush();
    return static_cast<std::uint32_t>(done);
}

bool CFileSystem_FAT::ChainCursor::Visited(std::uint32_t number) const {
    auto run = runs.upper_bound(number);
    if (run == runs.begin())
        return false;
    --run;
    return number <= run->second;
}

void CFileSystem_FAT::ChainCursor::Visit(std::uint32_t number) {
    // Chains mostly go on to the next cluster: that extends the run it ends.
    if (number > 0) {
        auto run = runs.upper_bound(number - 1);
        if (run != runs.begin() && std::prev(run)->second == number - 1) {
            std::prev(run)->second = number;
            return;
        }
    }
    runs.emplace(number, number);
}

}  // namespace duzez::filesystems
