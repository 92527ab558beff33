#pragma once

// What the first sector of a carved item tells about its size, subtype or start.

#include <cstdint>
#include <functional>
#include <span>

#include "filesystems/found_object.h"

namespace duzez::signatures {

using SectorReader = std::function<std::uint32_t(std::span<std::uint8_t>, std::uint64_t sector,
                                                 std::uint64_t count)>;

// Runs the probe of the item's type, if there is one. `sector` is the item's first sector.
void ProbeItem(filesystems::FoundObject& item, std::span<const std::uint8_t, 512> sector,
               const SectorReader& read);

// Compound document (type 100): size from its FAT, subtype from its directory's names.
void ProbeCompoundDocument(filesystems::FoundObject& item,
                           std::span<const std::uint8_t, 512> sector, const SectorReader& read);

}  // namespace duzez::signatures
