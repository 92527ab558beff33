#pragma once

// Reads one found object's data: Size bytes from byte Start of its volume (or its two
// pieces, one after the other), through only the sectors a read needs.

#include <cstdint>
#include <span>
#include <vector>

#include "filesystems/file_system.h"
#include "filesystems/found_object.h"
#include "filesystems/tree_volume.h"

namespace duzez::filesystems {

class FoundObjectStream {
  public:
    static constexpr std::uint32_t kOutOfBounds = 0x80004005;

    // A working copy of `record` (or a fresh object without one).
    FoundObjectStream(TreeVolume& volume, const FoundObject* record);

    FoundObject Object;
    std::uint64_t Position = 0;
    // What the reads so far could not deliver faithfully.
    ReadDamage Damage;

    // Delivers buffer.size() bytes from Position on. Sectors that cannot be read are
    // zeros and counted in Damage; 0 when the data cannot be reached at all.
    std::uint32_t Read(std::span<std::uint8_t> buffer);
    // origin 0: from the start; 1: from Position; 2: to Size (the offset is ignored).
    std::uint64_t Seek(std::uint64_t offset, int origin);
    std::uint64_t SeekTo(std::uint64_t offset);
    std::uint32_t CheckBounds() const;

  private:
    // buffer.size() bytes from byte `first` of the volume.
    void ReadExtent(std::uint64_t first, std::span<std::uint8_t> buffer);

    TreeVolume& volume_;
    std::vector<std::uint8_t> sectors_;
};

}  // namespace duzez::filesystems
