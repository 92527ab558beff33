#pragma once

// A view of a volume that passes every call on to it: the base of views that change only
// a few calls (a scanner that may be given up on, a count that adds nothing to the tree).

#include "filesystems/analysed_volume.h"

namespace duzez::filesystems {

class ForwardingVolume : public AnalysedVolume {
  public:
    explicit ForwardingVolume(AnalysedVolume& inner) : inner_(inner) {}

    std::uint64_t NodeId() const override { return inner_.NodeId(); }
    char DriveLetterOrZero() const override { return inner_.DriveLetterOrZero(); }
    std::uint64_t VolumeSize() const override { return inner_.VolumeSize(); }
    std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                    std::uint64_t count) override {
        return inner_.ReadVolumeSectors(buffer, sector, count);
    }
    void CountSectorPhaseFile() override { inner_.CountSectorPhaseFile(); }
    CFileSystem* FileSystemAnalyser() override { return inner_.FileSystemAnalyser(); }
    std::span<const std::uint8_t> BootSectorBytes() const override {
        return inner_.BootSectorBytes();
    }
    std::uint64_t SectorCount() const override { return inner_.SectorCount(); }
    std::uint64_t ClusterCount() const override { return inner_.ClusterCount(); }
    void SetClusterGeometry(std::uint32_t bytesPerSector,
                            std::uint32_t sectorsPerCluster) override {
        inner_.SetClusterGeometry(bytesPerSector, sectorsPerCluster);
    }
    void AddFileSystemObject(const FoundObject& record) override {
        inner_.AddFileSystemObject(record);
    }
    bool AnalysisRunning() const override { return inner_.AnalysisRunning(); }
    FoundObjectTree& Tree() override { return inner_.Tree(); }
    void SetProgress(std::uint64_t position, std::uint64_t end) override {
        inner_.SetProgress(position, end);
    }
    core::CLog& Log() override { return inner_.Log(); }

  private:
    AnalysedVolume& inner_;
};

}  // namespace duzez::filesystems
