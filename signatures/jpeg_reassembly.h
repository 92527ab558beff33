#pragma once

// Where a carved JPEG goes on when a camera wrote it in two pieces around other files (the
// first piece in a gap left by deleted photos, the rest after the files that follow it):
// the clusters after the point where decoding breaks are tried as the continuation, and
// one is taken only when the joined file decodes whole to its end marker.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "signatures/probes.h"

namespace duzez::signatures {

struct TwoPieces {
    std::uint64_t firstPieceSize = 0;    // bytes from the photo's start to the joint
    std::uint64_t secondPieceStart = 0;  // byte of the volume where the rest begins
    std::uint64_t size = 0;              // the whole photo
};

struct PieceSearch {
    std::uint64_t start = 0;  // the photo's first byte in the volume, where a cluster starts
    // Bytes the carving holds from `start`: to the next found file, or to the volume's end.
    std::uint64_t carvedSize = 0;
    std::uint64_t volumeSize = 0;
    std::uint32_t clusterBytes = 4096;  // a multiple of 512
    // For a byte of the volume inside another found file, where that file ends; else the
    // byte itself. Those clusters are no one else's continuation.
    std::function<std::uint64_t(std::uint64_t)> skipOwned;
};

// What one search may cost, so that it stays linear in the volume in practice.
struct PieceSearchBounds {
    std::uint64_t maxPhotoBytes = 64ull * 1024 * 1024;
    // Clusters that belong to no found file, read looking for the continuation.
    std::uint64_t maxScannedBytes = 32ull * 1024 * 1024;
    // Baseline JPEGs: candidate data decoded past the joint, and how many of the best
    // candidates are followed on to the end marker.
    std::uint64_t maxFollowedBytes = 256ull * 1024 * 1024;
    unsigned maxFollows = 6;
    // Candidates decoded a little way past the joint (other JPEGs); joined files decoded
    // whole.
    unsigned maxTrials = 24;
    unsigned maxJoins = 4;
    std::chrono::milliseconds budget = std::chrono::seconds(10);
};

// The two pieces of the JPEG at `search.start`, or nullopt when it decodes whole as it
// lies, breaks in its headers, or no continuation within the bounds makes it whole.
std::optional<TwoPieces> FindSecondPiece(const PieceSearch& search, const SectorReader& read,
                                         const PieceSearchBounds& bounds = {});

}  // namespace duzez::signatures
