#pragma once

// The NTFS analyser: lists live and deleted files and folders from the master file table,
// record by record in number order, and reads file data through the data runs.
//
// The MFT is read through its runs in large blocks and its records parsed from memory;
// the listing is the same as reading one record at a time.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <unordered_set>
#include <vector>

#include "filesystems/analysed_volume.h"
#include "filesystems/file_system.h"
#include "filesystems/found_object.h"
#include "filesystems/ntfs/ntfs_layout.h"

namespace duzez::filesystems {

class CFileSystem_NTFS : public CFileSystem {
  public:
    // One file record in memory, with what was parsed from it.
    struct MftRecord {
        std::vector<std::uint8_t> bytes;  // with the fix-ups applied
        std::vector<ntfs::DataRun> runs;  // of the first $DATA, in VCN order
        std::uint64_t dataSize = 0;
        std::uint64_t initializedSize = 0;  // written bytes; the rest reads as zeros
        bool nonResident = false;
        bool encrypted = false;
        std::uint32_t compressionUnitClusters = 0;  // 0 when the data is not compressed
        std::uint32_t valueOffset = 0;  // of a resident $DATA, from the start of the record
    };

    static constexpr std::size_t kMftBlockBytes = 10 * 1024 * 1024;

    explicit CFileSystem_NTFS(AnalysedVolume& volume);

    int Analyse() override;
    void ParseFoundBlock(const FoundObject& block) override;
    // Turns one raw record found outside the MFT into an object and reports it.
    virtual void ParseRecordBuffer(std::span<const std::uint8_t> bytes);
    // A file's data through its runs (sparse runs read as zeros) or from its record when
    // it is resident; deleted files too, while their record still holds the runs.
    std::uint32_t FileRead(const FoundObject& object, std::span<std::uint8_t> buffer,
                           std::uint64_t offset, ReadDamage& damage) override;

    // The metadata files in records 0 to 15 and everything below $Extend.
    bool IsSystemObject(const FoundObject& object) const override;

    // The bytes of the clusters the cluster bitmap ($Bitmap) leaves free. Nullopt when the
    // MFT or the bitmap cannot be read whole.
    std::optional<std::uint64_t> CountFreeBytes();

    std::uint32_t RecordSize() const { return recordSize_; }
    std::uint64_t RecordCount() const { return recordCount_; }
    const MftRecord& Mft() const { return mft_; }

  private:
    bool Prepare();
    bool LoadMft();
    void LoadClusterBitmap();
    // Hands the cluster bitmap's first `bytes` to `use` a chunk at a time, in cluster
    // order, while it returns true; whether all of them were read and handed over.
    bool ReadClusterBitmap(std::uint64_t bytes,
                           const std::function<bool(std::span<const std::uint8_t>)>& use);
    // Record `number` through the MFT's runs; false when it cannot be read or is no record.
    bool ReadRecord(std::uint64_t number, std::span<std::uint8_t> buffer);
    // Bytes of an attribute's data from `offset`; fewer when a VCN lies outside the runs or
    // a read fails. With `damage`, a failed read is salvaged sector by sector instead: the
    // sectors that stay unreadable are zeros and counted there.
    std::uint64_t ReadAttributeData(const MftRecord& record, std::uint64_t offset,
                                    std::span<std::uint8_t> buffer, ReadDamage* damage = nullptr);
    std::uint64_t ReadRuns(const std::vector<ntfs::DataRun>& runs, std::uint64_t offset,
                           std::span<std::uint8_t> buffer, ReadDamage* damage = nullptr);
    // A compressed file's bytes, a compression unit at a time; false when a unit cannot
    // be read or does not decompress.
    bool ReadCompressed(std::uint64_t offset, std::span<std::uint8_t> buffer, ReadDamage& damage);
    bool LoadCompressionUnit(std::uint64_t unit, ReadDamage& damage);
    // The run holding a VCN (runs in VCN order); null when none does.
    static const ntfs::DataRun* FindRun(const std::vector<ntfs::DataRun>& runs, std::uint64_t vcn);
    // Where an object's data starts: the first cluster of its first run, else 0.
    std::uint64_t DataStart(const MftRecord& record) const {
        return record.runs.empty() ? 0 : record.runs.front().lcn * clusterSize_;
    }
    void ParseRecord(MftRecord& record) const;
    // Whether the cluster bitmap gives any cluster of the record's runs to a file now.
    bool RunsInUse(const MftRecord& record) const;
    // The runs of $DATA parts kept in other records, through the record's attribute list.
    void MergeExtensionRuns(MftRecord& record, std::uint64_t number);
    bool FillObject(const MftRecord& record, FoundObject& object) const;
    // The common part of the record loop and ParseRecordBuffer.
    void ReportRecord(std::span<const std::uint8_t> bytes, FoundObject& object);
    bool InsideMft(std::uint64_t sector) const;
    std::uint64_t ClusterToSector(std::uint64_t cluster) const { return cluster * clusterSectors_; }

    AnalysedVolume& volume_;
    ntfs::BootParameters boot_;
    std::uint32_t bytesPerSector_ = 512;
    std::uint32_t clusterSize_ = 0;
    std::uint64_t clusterSectors_ = 0;  // 512-byte sectors per cluster
    std::uint64_t clusterCount_ = 0;
    std::uint64_t fileSystemClusters_ = 0;  // as the boot sector counts them
    std::uint32_t recordSize_ = 1024;
    std::uint64_t recordCount_ = 0;
    MftRecord mft_;
    std::vector<SectorRange> mftExtents_;              // where the records the phase read lie
    std::unordered_set<std::uint64_t> parsedSectors_;  // records the sector phase listed
    MftRecord current_;

    // The record of the last FileRead, so a file read block by block is parsed once.
    struct OpenFile {
        std::uint64_t id = ~0ull;
        bool usable = false;
        MftRecord record;
        std::uint64_t unitIndex = ~0ull;  // the compression unit held decompressed
        std::vector<std::uint8_t> unit;
    } open_;
    // Reads come from the recovery, the data viewer and the preview at once: the record
    // kept open serves one of them at a time.
    std::mutex fileReadMutex_;
};

}  // namespace duzez::filesystems
