// The clusters of exFAT files and tables: FAT chains, runs of contiguous clusters, the
// allocation bitmap, and file data as the recovery reads it.

#include <algorithm>
#include <cstring>

#include "filesystems/exfat/file_system_exfat.h"
#include "filesystems/salvaging_read.h"

namespace duzez::filesystems {
namespace {

constexpr std::uint64_t kSector = 512;
// The largest single request when reading clusters that follow each other.
constexpr std::uint64_t kMaxRequestBytes = 8ull << 20;

}  // namespace

bool CFileSystem_ExFAT::ClusterRuns::Contains(std::uint32_t cluster) const {
    auto run = runs_.upper_bound(cluster);
    if (run == runs_.begin())
        return false;
    --run;
    return cluster <= run->second;
}

void CFileSystem_ExFAT::ClusterRuns::Add(std::uint32_t cluster) {
    // Chains mostly go on to the next cluster: that extends the run it ends.
    if (cluster > 0) {
        auto run = runs_.upper_bound(cluster - 1);
        if (run != runs_.begin() && std::prev(run)->second == cluster - 1) {
            std::prev(run)->second = cluster;
            return;
        }
    }
    runs_.emplace(cluster, cluster);
}

std::uint64_t CFileSystem_ExFAT::ClusterToSector(std::uint32_t cluster) const {
    return heapSector_ + (std::uint64_t{cluster} - 2) * sectorsPerCluster_;
}

std::uint64_t CFileSystem_ExFAT::ClusterCountFor(std::uint64_t bytes) const {
    return bytes / clusterBytes_ + (bytes % clusterBytes_ != 0 ? 1 : 0);
}

bool CFileSystem_ExFAT::ClusterInUse(std::uint32_t cluster) const {
    if (!InHeap(cluster))
        return false;
    const std::uint64_t index = cluster - 2;
    return index / 8 < bitmap_.size() && ((bitmap_[index / 8] >> (index % 8)) & 1) != 0;
}

bool CFileSystem_ExFAT::AnyInUse(std::span<const std::uint32_t> clusters) const {
    return std::any_of(clusters.begin(), clusters.end(),
                       [this](std::uint32_t cluster) { return ClusterInUse(cluster); });
}

bool CFileSystem_ExFAT::RunInUse(std::uint32_t first, std::uint64_t count) const {
    for (std::uint64_t cluster = first; cluster < std::uint64_t{first} + count && InHeap(cluster);
         ++cluster) {
        if (ClusterInUse(static_cast<std::uint32_t>(cluster)))
            return true;
    }
    return false;
}

std::vector<std::uint32_t> CFileSystem_ExFAT::Chain(std::uint32_t first, std::size_t limit) const {
    std::vector<std::uint32_t> chain;
    if (!InHeap(first) || limit == 0)
        return chain;
    ClusterRuns seen;
    chain.push_back(first);
    seen.Add(first);
    while (chain.size() < limit) {
        const auto next = exfat::FatEntry(fat_, chain.back());
        if (!next || !InHeap(*next) || seen.Contains(*next))
            break;
        chain.push_back(*next);
        seen.Add(*next);
    }
    return chain;
}

bool CFileSystem_ExFAT::DeletedChainUsable(std::uint32_t first, std::uint64_t bytes) const {
    // Deleting frees a file's clusters in the bitmap but usually leaves its chain in the
    // FAT. The chain is still the file's while it is as long as the file and no cluster of
    // it is in use; a live file that took a cluster rewrote its entry or owns it now.
    const std::uint64_t clusters = ClusterCountFor(bytes);
    if (clusters == 0)
        return true;
    if (clusters > clusterCount_)
        return false;
    const auto chain = Chain(first, static_cast<std::size_t>(clusters));
    return chain.size() == clusters && !AnyInUse(chain);
}

std::vector<std::uint8_t> CFileSystem_ExFAT::ReadData(std::uint32_t first, std::uint64_t bytes,
                                                      bool contiguous, bool* complete) {
    const std::uint64_t count = ClusterCountFor(bytes);
    std::vector<std::uint32_t> clusters;
    if (!contiguous)
        clusters = Chain(first, static_cast<std::size_t>(count));
    // A chain cut short goes on with the clusters after it, as the data was most likely
    // written.
    std::uint64_t next = clusters.empty() ? first : std::uint64_t{clusters.back()} + 1;
    while (clusters.size() < count && InHeap(next))
        clusters.push_back(static_cast<std::uint32_t>(next++));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(clusters.size() * clusterBytes_), 0);
    bool whole = clusters.size() == count;
    std::size_t i = 0;
    for (; i < clusters.size() && volume_.AnalysisRunning();) {
        std::size_t run = 1;
        while (i + run < clusters.size() && clusters[i + run] == clusters[i] + run &&
               (run + 1) * clusterBytes_ <= kMaxRequestBytes) {
            ++run;
        }
        const auto part = std::span(out).subspan(static_cast<std::size_t>(i * clusterBytes_),
                                                 static_cast<std::size_t>(run * clusterBytes_));
        const std::uint32_t got =
            volume_.ReadVolumeSectors(part, ClusterToSector(clusters[i]), part.size() / kSector);
        if (got == 0)
            std::fill(part.begin(), part.end(), std::uint8_t{0});
        whole = whole && got == part.size();
        i += run;
    }
    if (complete != nullptr)
        *complete = whole && i == clusters.size();
    out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, out.size())));
    return out;
}

std::uint32_t CFileSystem_ExFAT::FileRead(const FoundObject& object, std::span<std::uint8_t> buffer,
                                          std::uint64_t offset, ReadDamage& damage) {
    if (object.Is(ObjectFlags::Folder) || object.Is(ObjectFlags::FoundBySignature) ||
        clusterBytes_ == 0) {
        return kNotSupported;
    }
    Stream stream;
    {
        std::shared_lock lock(streamsMutex_);
        const auto found = streams_.find(object.Id);
        if (found == streams_.end())
            return kNotSupported;
        stream = found->second;
    }
    std::lock_guard lock(fileReadMutex_);
    if (!stream.trusted)
        damage.endGuessed = true;
    // Past the written bytes the file holds zeros, whatever its clusters hold.
    const std::size_t readable = offset < stream.validSize
                                     ? static_cast<std::size_t>(std::min<std::uint64_t>(
                                           buffer.size(), stream.validSize - offset))
                                     : 0;
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(readable), buffer.end(),
              std::uint8_t{0});
    const auto out = buffer.first(readable);
    if (out.empty())
        return static_cast<std::uint32_t>(buffer.size());

    const std::uint64_t index = offset / clusterBytes_;
    std::uint64_t within = offset % clusterBytes_;
    ChainCursor& at = cursor_;
    // A chain that stops before the file's size (freed, cut, or looping back into itself)
    // does not lose the rest: it goes on with the clusters after the one where it stopped.
    const auto advance = [&]() {
        const auto next = at.guessed ? std::nullopt : exfat::FatEntry(fat_, at.cluster);
        if (next && InHeap(*next) && !at.visited.Contains(*next)) {
            at.visited.Add(*next);
            at.cluster = *next;
        } else {
            at.guessed = true;
            damage.endGuessed = true;
            if (at.cluster <= lastCluster_)
                ++at.cluster;
        }
        ++at.clusterIndex;
    };
    std::uint64_t cluster = 0;
    if (stream.contiguous) {
        cluster = stream.firstCluster + index;
    } else {
        if (at.objectId != object.Id || at.clusterIndex > index) {
            at = ChainCursor{object.Id, 0, stream.firstCluster, false, {}};
            at.visited.Add(stream.firstCluster);
        }
        while (at.clusterIndex < index)
            advance();
        cluster = at.cluster;
    }
    const auto nextCluster = [&](std::uint64_t current) -> std::uint64_t {
        if (stream.contiguous)
            return current + 1;
        advance();
        return at.cluster;
    };

    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t runFirst = cluster;
        std::uint64_t runClusters = 1;
        std::uint64_t runBytes = std::min<std::uint64_t>(clusterBytes_ - within, out.size() - done);
        // Clusters that follow each other on the disk are read in one request.
        while (done + runBytes < out.size()) {
            cluster = nextCluster(runFirst + runClusters - 1);
            if (cluster != runFirst + runClusters || InHeap(cluster) != InHeap(runFirst) ||
                runBytes + clusterBytes_ > kMaxRequestBytes) {
                break;
            }
            ++runClusters;
            runBytes += std::min<std::uint64_t>(clusterBytes_, out.size() - done - runBytes);
        }
        const auto part = out.subspan(done, static_cast<std::size_t>(runBytes));
        const std::uint64_t skip = within % kSector;
        const std::uint64_t sectors = (skip + runBytes + kSector - 1) / kSector;
        if (!InHeap(runFirst)) {
            // Past the heap: nothing there to read.
            std::fill(part.begin(), part.end(), std::uint8_t{0});
            damage.sectorsRead += sectors;
            damage.unreadableSectors += sectors;
        } else {
            const std::uint64_t firstSector =
                ClusterToSector(static_cast<std::uint32_t>(runFirst)) + within / kSector;
            if (skip == 0 && runBytes % kSector == 0) {
                ReadSectorsSalvaging(volume_, part, firstSector, sectors, damage);
            } else {
                bounce_.resize(static_cast<std::size_t>(sectors * kSector));
                ReadSectorsSalvaging(volume_, bounce_, firstSector, sectors, damage);
                std::memcpy(part.data(), bounce_.data() + skip, part.size());
            }
        }
        done += part.size();
        within = 0;
    }
    return static_cast<std::uint32_t>(buffer.size());
}

}  // namespace duzez::filesystems
