// Sector reads of a 1 GiB image in the page cache, in the sector phase's 10 MiB blocks,
// against a plain read() loop with the same block size (what dd bs=10M does).
// The image is $DUZEZ_BENCH_IMAGE, or made once in the temporary folder.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "bench/bench_machine.h"
#include "core/app.h"
#include "devices/local_computer.h"

namespace {

constexpr std::uint64_t kImageBytes = 1ull << 30;
constexpr std::uint64_t kBlockSectors = 20480;
constexpr std::size_t kBlockBytes = kBlockSectors * 512;

std::filesystem::path BenchImage() {
    if (const char* given = std::getenv("DUZEZ_BENCH_IMAGE"))
        return given;
    return duzez::bench::BenchFile("duzez-bench-1g.img", kImageBytes);
}

void BM_ReadSectorsWholeImage(benchmark::State& state) {
    const auto image = BenchImage();
    duzez::bench::BenchMachine machine;
    auto& computer = machine.computer;
    std::string error;
    auto volume = computer.CreateImageVolume(image, error);
    if (!volume) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<std::uint8_t> buffer(kBlockBytes);
    for (auto _ : state) {
        for (std::uint64_t sector = 0; sector * 512 < volume->TotalSize; sector += kBlockSectors) {
            benchmark::DoNotOptimize(volume->ReadSectors(buffer, sector, kBlockSectors));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * volume->TotalSize));
}
BENCHMARK(BM_ReadSectorsWholeImage)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

void BM_PlainReadWholeImage(benchmark::State& state) {
    const auto image = BenchImage();
    std::vector<std::uint8_t> buffer(kBlockBytes);
    for (auto _ : state) {
        const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(BM_PlainReadWholeImage)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

}  // namespace
