#pragma once

// What a file-system analyser needs of the volume it lists; the volume implements it.

#include <cstdint>
#include <span>

#include "filesystems/tree_volume.h"

namespace duzez::core {
class CLog;
}

namespace duzez::filesystems {

class FoundObjectTree;
struct FoundObject;

class AnalysedVolume : public TreeVolume {
  public:
    virtual std::span<const std::uint8_t> BootSectorBytes() const = 0;
    virtual std::uint64_t SectorCount() const = 0;
    virtual std::uint64_t ClusterCount() const = 0;
    virtual void SetClusterGeometry(std::uint32_t bytesPerSector,
                                    std::uint32_t sectorsPerCluster) = 0;
    // Hands a directory entry or file record to the tree, with the phase's counters.
    virtual void AddFileSystemObject(const FoundObject& record) = 0;
    // Cleared when the user stops the analysis; every loop tests it.
    virtual bool AnalysisRunning() const = 0;
    virtual FoundObjectTree& Tree() = 0;
    // Where a long listing has got to (records, entries), for the progress display.
    virtual void SetProgress(std::uint64_t /*position*/, std::uint64_t /*end*/) {}
    virtual core::CLog& Log() = 0;
};

}  // namespace duzez::filesystems
