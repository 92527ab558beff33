// Drive image creation from a 1 GiB image in the page cache, against dd bs=2M copying the
// same file in the same run. The image is $DUZEZ_BENCH_IMAGE, or made by volume_bench.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "bench/bench_machine.h"
#include "core/app.h"
#include "devices/drive_image.h"
#include "devices/local_computer.h"

namespace {

std::filesystem::path SourceImage() {
    if (const char* given = std::getenv("DUZEZ_BENCH_IMAGE"))
        return given;
    return std::filesystem::temp_directory_path() / "duzez-bench-1g.img";
}

const std::filesystem::path kOutput =
    std::filesystem::temp_directory_path() / "duzez-bench-out.dsk";

void BM_CreateImage(benchmark::State& state) {
    if (!std::filesystem::exists(SourceImage())) {
        state.SkipWithError("run volume_bench first, or set DUZEZ_BENCH_IMAGE");
        return;
    }
    duzez::bench::BenchMachine machine;
    auto& computer = machine.computer;
    std::string error;
    duzez::devices::CVolume* volume = computer.LoadImage(SourceImage(), error);
    for (auto _ : state) {
        std::filesystem::remove(kOutput);
        auto copy = duzez::devices::CreateImage(*volume, kOutput, nullptr, false, error);
        copy->Wait();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume->TotalSize));
    std::filesystem::remove(kOutput);
}
BENCHMARK(BM_CreateImage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_DdTwoMebibyteBlocks(benchmark::State& state) {
    const std::string command = "dd if='" + SourceImage().string() + "' of='" + kOutput.string() +
                                "' bs=2M conv=fsync status=none";
    for (auto _ : state) {
        std::filesystem::remove(kOutput);
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("dd failed");
    }
    state.SetBytesProcessed(
        static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(SourceImage())));
    std::filesystem::remove(kOutput);
}
BENCHMARK(BM_DdTwoMebibyteBlocks)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace
