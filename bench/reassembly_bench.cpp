// Rejoining one camera JPEG written in two pieces, on a 64 MiB volume of 4 KiB clusters:
// its first piece in a gap, four whole photos after it, 2 MiB of another photo's unowned
// scan data as a decoy, then its rest. The time is what one fragmented photo costs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "bench/camera_jpeg.h"
#include "signatures/jpeg_reassembly.h"

namespace {

constexpr std::uint64_t kCluster = 4096;

struct Card {
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> owned;
    std::uint64_t start = 0;
    std::uint64_t firstPiece = 0;
};

std::uint64_t Up(std::uint64_t bytes) {
    return (bytes + kCluster - 1) / kCluster * kCluster;
}

Card MakeCard(const std::vector<std::uint8_t>& photo) {
    Card card;
    card.bytes.resize(64ull * 1024 * 1024);
    std::mt19937 random(5);
    std::generate(card.bytes.begin(), card.bytes.end(), [&] { return random() & 0xFF; });
    const auto place = [&card](std::uint64_t at, auto begin, auto end) {
        std::copy(begin, end, card.bytes.begin() + static_cast<std::ptrdiff_t>(at));
        return at + Up(static_cast<std::uint64_t>(end - begin));
    };
    card.start = 100 * kCluster;
    card.firstPiece = Up(photo.size() / 3);
    std::uint64_t at = place(card.start, photo.begin(),
                             photo.begin() + static_cast<std::ptrdiff_t>(card.firstPiece));
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t begin = at;
        at = place(at, photo.begin(), photo.end());
        card.owned.push_back({begin, begin + photo.size()});
    }
    // Scan data of a photo that is no one's: candidates that decode, but wrongly.
    at = place(at, photo.begin() + 100000, photo.begin() + 100000 + 2 * 1024 * 1024);
    place(at, photo.begin() + static_cast<std::ptrdiff_t>(card.firstPiece), photo.end());
    return card;
}

void BM_RejoinTwoPieceCameraJpeg(benchmark::State& state) {
    const std::vector<std::uint8_t>& photo = duzez::bench::CameraJpeg();
    if (photo.empty()) {
        state.SkipWithError("ImageMagick could not make the photo");
        return;
    }
    const Card card = MakeCard(photo);
    const duzez::signatures::SectorReader read = [&card](std::span<std::uint8_t> buffer,
                                                         std::uint64_t sector,
                                                         std::uint64_t count) -> std::uint32_t {
        std::copy_n(card.bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512), count * 512,
                    buffer.begin());
        return static_cast<std::uint32_t>(count * 512);
    };
    duzez::signatures::PieceSearch search;
    search.start = card.start;
    search.carvedSize = card.firstPiece;
    search.volumeSize = card.bytes.size();
    search.clusterBytes = kCluster;
    search.skipOwned = [&card](std::uint64_t at) {
        for (const auto& [begin, end] : card.owned) {
            if (at >= begin && at < end)
                return end;
        }
        return at;
    };
    for (auto _ : state) {
        const auto found = duzez::signatures::FindSecondPiece(search, read);
        if (!found || found->size != photo.size()) {
            state.SkipWithError("the photo was not rejoined");
            return;
        }
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["photo_MB"] = static_cast<double>(photo.size()) / 1e6;
}
BENCHMARK(BM_RejoinTwoPieceCameraJpeg)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
