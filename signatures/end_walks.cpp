#include "signatures/end_walks.h"

#include <algorithm>
#include <array>

namespace duzez::signatures {
namespace {

// Sorted by format id.
constexpr std::array<EndWalkEntry, 0> kWalks{};

}  // namespace

const EndWalkEntry* FindEndWalk(std::int32_t formatId) {
    const auto found = std::lower_bound(
        kWalks.begin(), kWalks.end(), formatId,
        [](const EndWalkEntry& entry, std::int32_t id) { return entry.formatId < id; });
    return found != kWalks.end() && found->formatId == formatId ? &*found : nullptr;
}

std::span<const EndWalkEntry> EndWalks() {
    return kWalks;
}

}  // namespace duzez::signatures
