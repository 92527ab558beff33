#pragma once

// Carved JPEGs that break part-way, rejoined from two pieces where the rest of the photo
// can be found after other files: each search on a worker thread, so that listing,
// preview and recovery then read the whole photo.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "filesystems/found_object.h"
#include "filesystems/tree_volume.h"
#include "signatures/jpeg_reassembly.h"

namespace duzez::signatures {

// Whether `object` is a carved JPEG worth a search: its end was not found, or it was
// judged truncated or damaged.
bool MayBeInPieces(const filesystems::FoundObject& object);

struct Rejoined {
    filesystems::FoundObject* photo;
    TwoPieces pieces;
};

// Searches for the second piece of each such JPEG among `objects` (every object of the
// volume: the others' clusters are skipped) and returns those that then decode whole, no
// two sharing a piece. `clusterBytes` is the volume's cluster size, 0 when unknown. Ends
// early once `stopRequested` says so. The objects are not changed: see Rejoin.
std::vector<Rejoined> FindRejoinedPhotos(filesystems::TreeVolume& volume,
                                         std::span<filesystems::FoundObject* const> objects,
                                         std::uint32_t clusterBytes,
                                         const std::function<bool()>& stopRequested,
                                         const PieceSearchBounds& bounds = {});

// Makes the photo read as its two pieces, judged intact.
void Rejoin(const Rejoined& found);

}  // namespace duzez::signatures
