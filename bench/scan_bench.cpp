// The sector phase: ScanChunk alone over 10 MiB of random data with the shipped formats,
// and the whole phase over a 2 GiB image in the page cache against `cat` of that image.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "bench/bench_machine.h"
#include "signatures/analyser.h"

namespace {

constexpr std::uint64_t kPhaseImageBytes = 2ull << 30;

// The image as a volume of a machine that knows the shipped formats; null, with the
// benchmark skipped, when either cannot be had.
duzez::devices::CVolume* ScannableImage(benchmark::State& state,
                                        duzez::bench::BenchMachine& machine,
                                        const std::filesystem::path& image) {
    if (!machine.computer.LoadSignatures()) {
        state.SkipWithError("the shipped formats could not be loaded");
        return nullptr;
    }
    std::string error;
    auto* volume = machine.computer.LoadImage(image, error);
    if (volume == nullptr)
        state.SkipWithError(error.c_str());
    return volume;
}

void BM_ScanChunkRandom(benchmark::State& state) {
    duzez::bench::BenchMachine machine;
    auto& computer = machine.computer;
    auto* volume =
        ScannableImage(state, machine, duzez::bench::BenchFile("duzez-bench-1g.img", 1ull << 30));
    if (volume == nullptr)
        return;
    std::size_t found = 0;
    duzez::signatures::CAnalyser analyser(
        computer.Signatures(), *volume, [&found](duzez::filesystems::FoundObject) { ++found; },
        false);
    // Both buffers hold random data, as the hand-over alternates between them.
    std::mt19937_64 random(9);
    for (int b = 0; b < 2; ++b) {
        auto buffer = analyser.ScanBuffer();
        for (std::size_t i = 0; i + 8 <= buffer.size(); i += 8) {
            const std::uint64_t value = random();
            std::memcpy(buffer.data() + i, &value, 8);
        }
        analyser.StartChunk(0, 0);
    }
    const auto buffer = analyser.ScanBuffer();
    // 10 MiB a round, one block after the other as the phase hands them over.
    const std::uint64_t blocks = (10 << 20) / buffer.size();
    machine.app.AnalysisRunning = true;
    for (auto _ : state) {
        for (std::uint64_t block = 0; block < blocks; ++block) {
            analyser.StartChunk(block * buffer.size() / 512, buffer.size() / 512);
            analyser.ScanChunk();
        }
    }
    machine.app.AnalysisRunning = false;
    benchmark::DoNotOptimize(found);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * blocks * buffer.size()));
}
BENCHMARK(BM_ScanChunkRandom)->Unit(benchmark::kMillisecond);

void BM_SectorPhase2GiB(benchmark::State& state) {
    duzez::bench::BenchMachine machine;
    auto& computer = machine.computer;
    auto* volume = ScannableImage(state, machine,
                                  duzez::bench::BenchFile("duzez-bench-2g.img", kPhaseImageBytes));
    if (volume == nullptr)
        return;
    for (auto _ : state) {
        machine.app.AnalysisRunning = true;
        computer.AnalyseSectors(*volume);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPhaseImageBytes));
}
BENCHMARK(BM_SectorPhase2GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_Cat2GiB(benchmark::State& state) {
    const auto image = duzez::bench::BenchFile("duzez-bench-2g.img", kPhaseImageBytes);
    for (auto _ : state) {
        if (!duzez::bench::RunTool("cat '" + image.string() + "' >/dev/null")) {
            state.SkipWithError("cat failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPhaseImageBytes));
}
BENCHMARK(BM_Cat2GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace
