// Photo verdicts on one core: a camera-sized JPEG (4000x3000, quality 92, a few MB) whole,
// cut and overwritten, made once with ImageMagick in /tmp.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/camera_jpeg.h"
#include "signatures/photo_verdict.h"

namespace {

using duzez::signatures::JudgePhoto;
using duzez::signatures::PhotoVerdict;

using duzez::bench::CameraJpeg;

void Judge(benchmark::State& state, const std::vector<std::uint8_t>& bytes, PhotoVerdict expected) {
    if (bytes.empty()) {
        state.SkipWithError("ImageMagick could not make the photo");
        return;
    }
    for (auto _ : state) {
        const auto verdict = JudgePhoto(300, bytes);
        if (verdict.verdict != expected) {
            state.SkipWithError(("unexpected verdict: " + verdict.reason).c_str());
            return;
        }
        benchmark::DoNotOptimize(verdict);
    }
    state.SetItemsProcessed(state.iterations());  // items_per_second: verdicts per second
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
    state.counters["file_MB"] = static_cast<double>(bytes.size()) / 1e6;
}

void BM_VerdictIntactCameraJpeg(benchmark::State& state) {
    Judge(state, CameraJpeg(), PhotoVerdict::Intact);
}
BENCHMARK(BM_VerdictIntactCameraJpeg)->Unit(benchmark::kMillisecond);

void BM_VerdictTruncatedCameraJpeg(benchmark::State& state) {
    std::vector<std::uint8_t> cut = CameraJpeg();
    cut.resize(cut.size() * 6 / 10);
    Judge(state, cut, PhotoVerdict::Truncated);
}
BENCHMARK(BM_VerdictTruncatedCameraJpeg)->Unit(benchmark::kMillisecond);

void BM_VerdictDamagedCameraJpeg(benchmark::State& state) {
    std::vector<std::uint8_t> damaged = CameraJpeg();
    std::mt19937 random(3);
    for (std::size_t i = 0; i < 4096 && damaged.size() > 8192; ++i)
        damaged[damaged.size() / 2 + i] = static_cast<std::uint8_t>(random());
    Judge(state, damaged, PhotoVerdict::Damaged);
}
BENCHMARK(BM_VerdictDamagedCameraJpeg)->Unit(benchmark::kMillisecond);

}  // namespace
