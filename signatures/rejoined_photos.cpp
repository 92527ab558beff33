#include "signatures/rejoined_photos.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/work_share.h"
#include "signatures/photo_verdict.h"
#include "signatures/signature.h"

namespace duzez::signatures {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

constexpr std::uint32_t kUnknownClusterBytes = 4096;

struct Span {
    std::uint64_t begin;
    std::uint64_t end;
};

void AddSpan(std::vector<Span>& spans, std::uint64_t begin, std::uint64_t size,
             std::uint64_t volumeSize) {
    if (size == 0 || begin >= volumeSize)
        return;
    spans.push_back({begin, begin + std::min(size, volumeSize - begin)});
}

// The bytes that found files hold for certain: carved files whose end is known, and the
// pieces of those already rejoined. Sorted, and merged where they touch.
std::vector<Span> OwnedSpans(std::span<FoundObject* const> objects, std::uint64_t volumeSize) {
    std::vector<Span> spans;
    for (const FoundObject* object : objects) {
        if (object == nullptr || object->IsSpecial() || object->Is(ObjectFlags::Folder) ||
            !object->Is(ObjectFlags::FoundBySignature) || object->Is(ObjectFlags::ExtentToNext) ||
            object->Size == filesystems::kUnknownSize || MayBeInPieces(*object)) {
            continue;
        }
        if (object->InTwoPieces()) {
            AddSpan(spans, object->Start, object->FirstPieceSize, volumeSize);
            AddSpan(spans, object->SecondPieceStart, object->Size - object->FirstPieceSize,
                    volumeSize);
        } else {
            AddSpan(spans, object->Start, object->Size, volumeSize);
        }
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    std::vector<Span> merged;
    for (const Span& span : spans) {
        if (!merged.empty() && span.begin <= merged.back().end)
            merged.back().end = std::max(merged.back().end, span.end);
        else
            merged.push_back(span);
    }
    return merged;
}

// Where the owned bytes around `at` end, or `at` when it is owned by none.
std::uint64_t SkipOwned(const std::vector<Span>& owned, std::uint64_t at) {
    auto after =
        std::upper_bound(owned.begin(), owned.end(), at,
                         [](std::uint64_t value, const Span& s) { return value < s.begin; });
    if (after == owned.begin())
        return at;
    --after;
    return at < after->end ? after->end : at;
}

bool Overlaps(const std::vector<Span>& spans, Span span) {
    return std::any_of(spans.begin(), spans.end(),
                       [span](const Span& s) { return span.begin < s.end && s.begin < span.end; });
}

}  // namespace

bool MayBeInPieces(const FoundObject& object) {
    if (object.SignatureId != FormatIds::Jpeg || !object.Is(ObjectFlags::FoundBySignature) ||
        object.Is(ObjectFlags::Folder) || object.InTwoPieces()) {
        return false;
    }
    const auto verdict = static_cast<PhotoVerdict>(object.Verdict);
    return object.Is(ObjectFlags::ExtentToNext) || verdict == PhotoVerdict::Damaged ||
           verdict == PhotoVerdict::Truncated;
}

std::vector<Rejoined> FindRejoinedPhotos(filesystems::TreeVolume& volume,
                                         std::span<FoundObject* const> objects,
                                         std::uint32_t clusterBytes,
                                         const std::function<bool()>& stopRequested,
                                         const PieceSearchBounds& bounds) {
    const std::uint64_t volumeSize = volume.VolumeSize();
    std::vector<FoundObject*> photos;
    for (FoundObject* object : objects) {
        if (object != nullptr && MayBeInPieces(*object) && object->Start < volumeSize)
            photos.push_back(object);
    }
    if (photos.empty())
        return {};
    std::sort(photos.begin(), photos.end(),
              [](const FoundObject* a, const FoundObject* b) { return a->Start < b->Start; });
    if (clusterBytes < 512 || clusterBytes % 512 != 0)
        clusterBytes = kUnknownClusterBytes;
    const std::vector<Span> owned = OwnedSpans(objects, volumeSize);
    const SectorReader read = [&volume](std::span<std::uint8_t> buffer, std::uint64_t sector,
                                        std::uint64_t count) {
        return volume.ReadVolumeSectors(buffer, sector, count);
    };

    std::vector<std::optional<TwoPieces>> found(photos.size());
    core::ShareWork(
        photos.size(),
        [&](std::size_t i) {
            const FoundObject& photo = *photos[i];
            PieceSearch search;
            search.start = photo.Start;
            search.carvedSize =
                photo.Size == filesystems::kUnknownSize || photo.Size > volumeSize - photo.Start
                    ? volumeSize - photo.Start
                    : photo.Size;
            search.volumeSize = volumeSize;
            search.clusterBytes = clusterBytes;
            search.skipOwned = [&owned](std::uint64_t at) { return SkipOwned(owned, at); };
            found[i] = FindSecondPiece(search, read, bounds);
        },
        stopRequested);

    // Two photos never share a second piece: the one that starts first keeps it.
    std::vector<Span> taken;
    std::vector<Rejoined> rejoined;
    for (std::size_t i = 0; i < photos.size(); ++i) {
        if (!found[i])
            continue;
        const TwoPieces& pieces = *found[i];
        const Span second{pieces.secondPieceStart,
                          pieces.secondPieceStart + (pieces.size - pieces.firstPieceSize)};
        if (Overlaps(taken, second))
            continue;
        taken.push_back(second);
        rejoined.push_back({photos[i], pieces});
    }
    return rejoined;
}

void Rejoin(const Rejoined& found) {
    FoundObject& photo = *found.photo;
    photo.FirstPieceSize = found.pieces.firstPieceSize;
    photo.SecondPieceStart = found.pieces.secondPieceStart;
    photo.Size = found.pieces.size;
    photo.Flags &= static_cast<std::uint16_t>(~ObjectFlags::ExtentToNext);
    photo.Verdict = static_cast<std::uint8_t>(PhotoVerdict::Intact);
}

}  // namespace duzez::signatures
