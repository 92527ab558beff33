#pragma once

// Lists the live and deleted folders and files of an exFAT volume from its boot region,
// FAT, allocation bitmap and directories, breadth first: every live directory before any
// deleted one, each directory cluster once. Every read and index is bounded, so a damaged
// or hostile volume gives a partial listing.

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "filesystems/analysed_volume.h"
#include "filesystems/exfat/exfat_layout.h"
#include "filesystems/file_system.h"
#include "filesystems/found_object.h"

namespace duzez::filesystems {

class CFileSystem_ExFAT : public CFileSystem {
  public:
    // Object ids: this bit with the entry's byte offset on the volume / 32, so an entry set
    // keeps its id from one analysis to the next and no two sets share one.
    static constexpr std::uint64_t kEntryIdBase = 1ull << 61;

    explicit CFileSystem_ExFAT(AnalysedVolume& volume);

    int Analyse() override;
    // A directory cluster the sector scan found that no walk reached (the card was
    // formatted, or its parent's entry is gone): its entries are listed under the root as
    // deleted, and the folders they name are walked from there.
    void ParseFoundBlock(const FoundObject& block) override;
    // A file's data through its FAT chain, or its run when it has none (a deleted file's
    // chain only while no live file has taken its clusters); bytes past the valid data
    // length read as zeros.
    std::uint32_t FileRead(const FoundObject& object, std::span<std::uint8_t> buffer,
                           std::uint64_t offset, ReadDamage& damage) override;

    const std::optional<exfat::BootParameters>& Boot() const { return boot_; }
    bool UsedBackupBoot() const { return usedBackup_; }
    const std::string& VolumeLabel() const { return label_; }
    // Whether the allocation bitmap gives the cluster to a file now.
    bool ClusterInUse(std::uint32_t cluster) const;
    // The bytes of the heap's clusters the allocation bitmap leaves free (the boot
    // sector's percent in use is only a hint). Nullopt when the bitmap cannot be read
    // whole.
    std::optional<std::uint64_t> CountFreeBytes();
    static std::uint64_t EntryId(std::uint64_t entryOffset) {
        return kEntryIdBase | (entryOffset / exfat::kEntrySize);
    }

  private:
    // Where one file's data lies, for FileRead.
    struct Stream {
        std::uint32_t firstCluster = 0;
        std::uint64_t size = 0;
        std::uint64_t validSize = 0;
        bool contiguous = false;  // a run from the first cluster, not a FAT chain
        bool trusted = true;      // false: its set failed its checksum or its length was cut
    };
    struct Directory {
        std::uint64_t id = 0;
        std::uint32_t firstCluster = 0;
        std::uint64_t bytes = 0;  // the root: as far as its chain goes, up to the largest
        bool contiguous = false;
        bool deleted = false;
    };
    // Clusters a walk has been through, as runs (first -> last), so that a chain looping
    // back into itself is noticed without a set of every cluster.
    class ClusterRuns {
      public:
        bool Contains(std::uint32_t cluster) const;
        void Add(std::uint32_t cluster);

      private:
        std::map<std::uint32_t, std::uint32_t> runs_;
    };

    bool Prepare();
    bool LoadBootRegion();
    std::optional<exfat::BootParameters> ReadBootRegion(std::uint64_t byteOffset,
                                                        std::uint8_t sectorShift,
                                                        exfat::BootProblem& problem);
    bool LoadFat();
    void LoadRootTables();
    void LoadBitmap(const exfat::TableEntry& entry);
    void LoadUpcase(const exfat::TableEntry& entry);
    void MarkUsedAreas();

    // The chain from `first`, ending at an end mark, a free or bad entry, a cluster
    // outside the heap, a repeated cluster, or `limit` clusters.
    std::vector<std::uint32_t> Chain(std::uint32_t first, std::size_t limit) const;
    bool AnyInUse(std::span<const std::uint32_t> clusters) const;
    bool RunInUse(std::uint32_t first, std::uint64_t count) const;
    std::uint64_t ClusterCountFor(std::uint64_t bytes) const;
    // 512-byte sector of a heap cluster.
    std::uint64_t ClusterToSector(std::uint32_t cluster) const;
    bool InHeap(std::uint64_t cluster) const { return cluster >= 2 && cluster <= lastCluster_; }
    // Bytes of the data that starts at `first` (a chain, or a run), for the tables;
    // unreadable clusters read as zeros, and `complete` (when given) tells whether there
    // were none and the data was read to its end.
    std::vector<std::uint8_t> ReadData(std::uint32_t first, std::uint64_t bytes, bool contiguous,
                                       bool* complete = nullptr);

    // The directory's clusters in order, without any another directory already took.
    std::vector<std::uint32_t> DirectoryClusters(const Directory& directory);
    void WalkDirectory(const Directory& directory);
    void Report(const exfat::FileSet& set, std::uint64_t entryOffset, const Directory& parent);
    // How a deleted file's clusters are to be read: its chain while it is whole and no
    // cluster of it is in use, else the run from its first cluster. `overwritten` when
    // that run meets a cluster in use.
    bool DeletedChainUsable(std::uint32_t first, std::uint64_t bytes) const;

    AnalysedVolume& volume_;
    std::optional<exfat::BootParameters> boot_;
    bool usedBackup_ = false;
    std::string label_;
    std::uint64_t clusterBytes_ = 0;
    std::uint64_t sectorsPerCluster_ = 0;  // 512-byte sectors
    std::uint64_t heapSector_ = 0;         // 512-byte sector of cluster 2
    std::uint32_t clusterCount_ = 0;       // usable: what the volume holds
    std::uint32_t lastCluster_ = 0;
    std::vector<std::uint8_t> fat_;
    std::vector<std::uint8_t> bitmap_;  // empty when none could be read
    bool bitmapWhole_ = false;          // and no cluster of it read as zeros
    std::optional<exfat::UpcaseTable> upcase_;

    std::deque<Directory> liveQueue_;
    std::deque<Directory> deletedQueue_;
    std::unordered_set<std::uint32_t> directoryClusters_;

    std::unordered_map<std::uint64_t, Stream> streams_;
    // The analysis adds streams while the viewer may already read the files listed.
    mutable std::shared_mutex streamsMutex_;

    // Where the last FileRead ended, so sequential reads do not walk the chain from its
    // start every time.
    struct ChainCursor {
        std::uint64_t objectId = ~0ull;
        std::uint64_t clusterIndex = 0;
        std::uint32_t cluster = 0;
        bool guessed = false;  // the chain ended; clusters follow contiguously
        ClusterRuns visited;
    } cursor_;
    std::vector<std::uint8_t> bounce_;
    // Reads come from the recovery, the data viewer and the preview at once: the cursor
    // and the bounce buffer serve one of them at a time.
    std::mutex fileReadMutex_;
};

}  // namespace duzez::filesystems
