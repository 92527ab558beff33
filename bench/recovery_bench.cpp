// Recovery of one 1 GiB file from an image in the page cache, against `cp` of a file of
// the same size into the same folder.

#include <benchmark/benchmark.h>

#include "bench/bench_machine.h"
#include "recovery/recovery.h"

namespace {

constexpr std::uint64_t kFileBytes = 1ull << 30;

std::filesystem::path OutputFolder() {
    return std::filesystem::temp_directory_path() / "duzez-bench-recovered";
}

void BM_RecoverOneGiBFile(benchmark::State& state) {
    const auto image = duzez::bench::BenchFile("duzez-bench-1g.img", kFileBytes);
    duzez::bench::BenchMachine machine;
    auto& computer = machine.computer;
    std::string error;
    auto* volume = computer.LoadImage(image, error);
    if (volume == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    duzez::filesystems::FoundObject record;
    record.Id = 100;
    record.ParentId = volume->FoundObjectTree->RootFolder().Id;
    record.Size = kFileBytes;
    record.SetName("MOVIE.MP4");
    volume->FoundObjectTree->AddObject(&volume->FoundObjectTree->RootFolder(), true);
    auto* movie = volume->FoundObjectTree->MergeObject(record);
    computer.ActiveVolume = volume;
    duzez::recovery::CRecovery engine(computer);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(OutputFolder());
        state.ResumeTiming();
        engine.RecoveryList = {movie};
        engine.StartRecovery(OutputFolder());
        engine.Wait();
        if (engine.RecoveredCount != 1) {
            state.SkipWithError("the file was not recovered");
            return;
        }
    }
    std::filesystem::remove_all(OutputFolder());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_RecoverOneGiBFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_CpOneGiBFile(benchmark::State& state) {
    const auto file = duzez::bench::BenchFile("duzez-bench-1g.img", kFileBytes);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(OutputFolder());
        std::filesystem::create_directories(OutputFolder());
        state.ResumeTiming();
        if (!duzez::bench::RunTool("cp '" + file.string() + "' '" +
                                   (OutputFolder() / "MOVIE.MP4").string() + "'")) {
            state.SkipWithError("cp failed");
            return;
        }
    }
    std::filesystem::remove_all(OutputFolder());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_CpOneGiBFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace
