// Photo verdicts on one core: a camera-sized JPEG (4000x3000, quality 92, a few MB) whole,
// cut and overwritten, made once with ImageMagick in /tmp.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "signatures/photo_verdict.h"

namespace {

using duzez::signatures::JudgePhoto;
using duzez::signatures::PhotoVerdict;

const std::vector<std::uint8_t>& CameraJpeg() {
    static const std::vector<std::uint8_t> bytes = [] {
        const std::string path = "/tmp/duzez-verdict-bench-4000x3000.jpg";
        std::ifstream probe(path, std::ios::binary);
        if (!probe) {
            const std::string make =
                "convert -seed 1 -size 4000x3000 plasma:fractal -quality 92 '" + path + "'";
            if (std::system(make.c_str()) != 0)
                return std::vector<std::uint8_t>{};
        }
        std::ifstream in(path, std::ios::binary);
        return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

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
