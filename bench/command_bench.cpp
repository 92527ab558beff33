// The whole command a person runs, `duzez-cli list IMAGE --deep`, on a 4 GiB image of random
// data holding 200 JPEG starts, beside `cat IMAGE >/dev/null` in the same run: start-up,
// the file-system phase, the sector phase and the listing, not only the phase.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_machine.h"

namespace {

constexpr std::uint64_t kImageBytes = 4ull << 30;

// The random image of the other benchmarks, with a JPEG start (and some of its first
// sector) written at 200 sector-aligned places.
std::filesystem::path Image() {
    const auto path = std::filesystem::temp_directory_path() / "duzez-bench-4g-jpegs.img";
    std::error_code error;
    if (std::filesystem::file_size(path, error) == kImageBytes)
        return path;
    const auto random = duzez::bench::BenchFile("duzez-bench-4g.img", kImageBytes);
    std::filesystem::copy_file(random, path, std::filesystem::copy_options::overwrite_existing,
                               error);
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    std::mt19937_64 place(7);
    const std::string jpeg = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01", 13);
    for (int n = 0; n < 200; ++n) {
        out.seekp(static_cast<std::streamoff>(place() % (kImageBytes / 512) * 512));
        out.write(jpeg.data(), static_cast<std::streamsize>(jpeg.size()));
    }
    return path;
}

void BM_ListDeepCommand(benchmark::State& state) {
    const auto image = Image();
    const auto config = std::filesystem::temp_directory_path() / "duzez-bench-command-config";
    const std::string command = "XDG_CONFIG_HOME='" + config.string() +
                                "' '" DUZEZ_CLI_PATH "' list '" + image.string() +
                                "' --deep >/dev/null 2>&1";
    for (auto _ : state) {
        if (!duzez::bench::RunTool(command)) {
            state.SkipWithError("duzez-cli failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_ListDeepCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_CatSameImage(benchmark::State& state) {
    const auto image = Image();
    for (auto _ : state) {
        if (!duzez::bench::RunTool("cat '" + image.string() + "' >/dev/null")) {
            state.SkipWithError("cat failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_CatSameImage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace
