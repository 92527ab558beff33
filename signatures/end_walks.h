#pragma once

// The end-of-file walks of the formats whose structure says where a file ends, one file
// per format, registered in one table with the bound each walk may read to.

#include <cstdint>
#include <optional>

#include "signatures/file_bytes.h"

namespace duzez::signatures {

// The file's size from its start, or nullopt when the structure is broken or reaches
// beyond `bytes.Limit()`.
using EndWalk = std::optional<std::uint64_t> (*)(FileBytes& bytes);

struct EndWalkEntry {
    std::int32_t formatId;
    std::uint64_t bound;  // bytes from the file's start the walk may read
    EndWalk walk;
    // Bytes a walk that searches byte by byte may read in all (see FileBytes).
    std::uint64_t fetchBudget = ~std::uint64_t{0};
};

// What a walk that searches byte by byte through a broken file's surroundings may read.
constexpr std::uint64_t kSearchFetchBudget = 64ull * 1024 * 1024;

// The walk registered for `formatId`, or nullptr.
const EndWalkEntry* FindEndWalk(std::int32_t formatId);

}  // namespace duzez::signatures
