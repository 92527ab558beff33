#pragma once

// What the found-object tree and its stream need of the volume they belong to; the volume
// implements it. Declared here so that this library does not depend on the devices one.

#include <cstdint>
#include <span>

namespace duzez::filesystems {

class CFileSystem;

class TreeVolume {
  public:
    virtual ~TreeVolume() = default;
    virtual std::uint64_t NodeId() const = 0;
    virtual char DriveLetterOrZero() const = 0;
    virtual std::uint64_t VolumeSize() const = 0;
    virtual std::uint32_t ReadVolumeSectors(std::span<std::uint8_t> buffer, std::uint64_t sector,
                                            std::uint64_t count) = 0;
    // One more file found by signature in the sector phase.
    virtual void CountSectorPhaseFile() = 0;
    // The file-system analyser, for reads that follow the file system's own map.
    virtual CFileSystem* FileSystemAnalyser() { return nullptr; }
};

}  // namespace duzez::filesystems
