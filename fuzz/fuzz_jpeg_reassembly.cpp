// The scan decoder and the two-piece search over any bytes. The decoder must give the same
// answer fed at once or in small pieces (what the search relies on to try candidates from
// the joint), and the search must end, within its bounds, on any volume.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fuzz/memory_reader.h"
#include "signatures/jpeg_reassembly.h"
#include "signatures/jpeg_scan_decoder.h"

namespace {

using duzez::signatures::ScanDecoder;

void CheckPiecewiseFeeding(std::span<const std::uint8_t> file, std::size_t piece) {
    const auto opened = ScanDecoder::Open(file);
    if (!opened)
        return;
    const auto data = file.subspan(opened->DataStart());
    ScanDecoder whole = *opened;
    const auto once = whole.Feed(data);

    ScanDecoder pieces = *opened;
    std::vector<std::uint8_t> pending;
    std::uint64_t usedBefore = 0;
    ScanDecoder::Result last{ScanDecoder::Outcome::NeedMore, 0};
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const auto more = data.subspan(at, std::min(piece, data.size() - at));
        pending.insert(pending.end(), more.begin(), more.end());
        last = pieces.Feed(pending);
        if (last.outcome != ScanDecoder::Outcome::NeedMore)
            break;
        usedBefore += last.used;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(last.used));
    }
    if (last.outcome != once.outcome)
        std::abort();
    if (once.outcome == ScanDecoder::Outcome::Ended && usedBefore + last.used != once.used)
        std::abort();
    if (pieces.McusDone() != whole.McusDone() || whole.McusDone() > whole.McusInFrame())
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    CheckPiecewiseFeeding(bytes, 1 + data[0] % 64);

    // The input as a volume of 512-byte clusters, the photo at its start.
    std::vector<std::uint8_t> volume(bytes.begin(), bytes.end());
    volume.resize((volume.size() + 511) / 512 * 512);
    const duzez::signatures::SectorReader reader = duzez::fuzz::MemoryReader(volume);
    duzez::signatures::PieceSearch search;
    search.carvedSize = volume.size() / 2;
    search.volumeSize = volume.size();
    search.clusterBytes = 512;
    duzez::signatures::PieceSearchBounds bounds;
    bounds.maxScannedBytes = 64 * 1024;
    bounds.maxFollowedBytes = 1024 * 1024;
    bounds.budget = std::chrono::milliseconds(200);
    const auto found = duzez::signatures::FindSecondPiece(search, reader, bounds);
    if (found && (found->firstPieceSize == 0 || found->firstPieceSize >= found->size ||
                  found->secondPieceStart >= volume.size() ||
                  found->size - found->firstPieceSize > volume.size() - found->secondPieceStart)) {
        std::abort();
    }
    return 0;
}
