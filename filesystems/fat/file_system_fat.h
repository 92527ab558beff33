#pragma once

// Lists the live and deleted folders and files of a FAT12, FAT16 or FAT32 volume from its
// table and directories, breadth first, each directory cluster once. Every read and index
// is bounded, so a damaged or hostile volume gives a partial listing.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <vector>

#include "filesystems/analysed_volume.h"
#include "filesystems/fat/fat_layout.h"
#include "filesystems/file_system.h"
#include "filesystems/found_object.h"
#include "filesystems/signature_catalog.h"

namespace duzez::filesystems {

class CFileSystem_FAT : public CFileSystem {
  public:
    // A directory larger than this many entries is read only this far (the format's own
    // limit is 65,536 entries).
    static constexpr std::uint64_t kMaxDirectoryBytes = 65536ull * fat::kEntrySize;

    explicit CFileSystem_FAT(AnalysedVolume& volume);

    int Analyse() override;
    void ParseFoundBlock(const FoundObject& block) override;
    // A live file's data through its cluster chain; deleted files, whose chains are gone,
    // are left to the contiguous extent.
    std::uint32_t FileRead(const FoundObject& object, std::span<std::uint8_t> buffer,
                           std::uint64_t offset, ReadDamage& damage) override;
    // The bytes of the clusters whose FAT entry is free, counted in the first FAT: the
    // FSInfo sector's figure is only a hint that no one has to keep current. Nullopt when
    // the boot sector does not add up or the FAT cannot be read whole.
    std::optional<std::uint64_t> CountFreeBytes();

    std::uint64_t ClusterToSector(std::uint32_t cluster) const;
    // The chain from `first`, ending at 0, an end mark, a cluster outside the table or the
    // volume, or a repeated cluster.
    std::vector<std::uint32_t> GetChain(std::uint32_t first, std::size_t limit) const;
    void ParseDirectoryAt(std::uint32_t firstCluster);
    // `inDeletedFolder`: the directory belongs to a deleted folder or to none the live tree
    // reaches, so its entries are deleted too.
    void ParseDirectory(std::span<const std::uint8_t> buffer, std::uint64_t parentId,
                        bool inDeletedFolder = false);

  private:
    bool Prepare();
    void Enqueue(std::uint32_t cluster);
    // Whether the table gives any of the clusters a deleted file of `size` bytes from
    // `first` would be read from to a file now.
    bool ClustersInUse(std::uint32_t first, std::uint64_t size) const;
    // The first cluster of a deleted FAT32 entry whose high word was cleared, found among
    // the candidates by the free table entry and the header the name calls for; nothing
    // when no candidate fits.
    // `confirmed` when the place found starts as the entry says it should.
    std::optional<std::uint32_t> ClusterBeforeHighWordWasCleared(std::uint32_t low,
                                                                 const FoundObject& record,
                                                                 bool folder, bool& confirmed);
    bool WasReadAsDirectory(std::uint64_t sector) const;
    // The folder the entries of a directory cluster found at `sector` belong to.
    std::uint64_t OrphanDirectoryId(std::span<const std::uint8_t> cluster,
                                    std::uint64_t sector) const;

    AnalysedVolume& volume_;
    std::optional<fat::Variant> variant_;
    std::unique_ptr<fat::FatTable> table_;
    bool tableWhole_ = false;  // every sector of the first FAT was read
    std::uint32_t clusterSize_ = 0;
    std::uint32_t sectorsPerCluster_ = 0;
    std::uint64_t rootDirectorySector_ = 0;
    std::uint64_t firstDataSector_ = 0;
    std::uint32_t rootCluster_ = 0;
    std::deque<std::uint32_t> queue_;
    // First clusters of the queued directories that are reached through a deleted folder.
    std::unordered_set<std::uint32_t> deletedDirectories_;
    // First clusters the entries listed so far start at: not a candidate for another.
    std::unordered_set<std::uint32_t> entryClusters_;
    std::unordered_set<std::uint32_t> queued_;
    // Every directory cluster the file-system phase read: the sector phase finds them
    // again, and listing their entries a second time under the root would duplicate
    // every file and cut the real folders out of their paths.
    std::unordered_set<std::uint32_t> directoryClusters_;
    // Clusters the sector phase listed: each hit reads the ten clusters from it, so the
    // next hit would list them again.
    std::unordered_set<std::uint64_t> parsedSectors_;

    // The chain position of the last FileRead, so sequential reads do not walk the chain
    // from its start every time, and the clusters the walk has been through, as runs, so
    // that a chain looping back into itself is noticed.
    struct ChainCursor {
        std::uint64_t objectId = ~0ull;
        std::uint64_t clusterIndex = 0;
        std::uint32_t cluster = 0;
        bool guessed = false;  // the chain ended; clusters follow contiguously
        std::map<std::uint32_t, std::uint32_t> runs;  // first cluster -> last cluster

        bool Visited(std::uint32_t number) const;
        void Visit(std::uint32_t number);
    } cursor_;
    // For reads that do not start or end on a sector.
    std::vector<std::uint8_t> bounce_;
    // Reads come from the recovery, the data viewer and the preview at once: the cursor
    // and the bounce buffer serve one of them at a time.
    std::mutex fileReadMutex_;
};

}  // namespace duzez::filesystems
