// The NTFS file-system phase on a volume of 200,000 files in 200 folders, against The
// Sleuth Kit's fls -r on the same image in the same run. The volume is made by mkntfs and
// filled through ntfs-3g once, then kept in the temporary folder.

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "bench/bench_machine.h"

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 1000;

std::filesystem::path Image() {
    return std::filesystem::temp_directory_path() / "duzez-bench-ntfs-200k.img";
}

bool BuildImage() {
    const auto image = Image();
    const auto done = std::filesystem::path(image.string() + ".done");
    if (std::filesystem::exists(done))
        return true;
    const auto mount = std::filesystem::temp_directory_path() / "duzez-bench-ntfs-mount";
    std::filesystem::create_directories(mount);
    if (!duzez::bench::RunTool("rm -f '" + image.string() + "' && truncate -s 2G '" +
                               image.string() + "' && mkntfs -q -F -f '" + image.string() +
                               "' >/dev/null 2>&1 && ntfs-3g '" + image.string() + "' '" +
                               mount.string() + "'")) {
        return false;
    }
    for (int folder = 0; folder < kFolders; ++folder) {
        const auto path = mount / ("Folder " + std::to_string(folder));
        std::filesystem::create_directory(path);
        for (int file = 0; file < kFilesPerFolder; ++file)
            std::ofstream(path / ("IMG_" + std::to_string(file) + ".JPG")) << file;
    }
    if (!duzez::bench::RunTool("umount '" + mount.string() + "'"))
        return false;
    std::ofstream(done) << "ok";
    return true;
}

void BM_ListNtfsTwoHundredThousandFiles(benchmark::State& state) {
    if (!BuildImage()) {
        state.SkipWithError("needs mkntfs and ntfs-3g with FUSE");
        return;
    }
    duzez::bench::BenchMachine machine;
    std::string error;
    auto* volume = machine.computer.LoadImage(Image(), error);
    if (volume == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state) {
        machine.app.AnalysisRunning = true;
        machine.computer.AnalyseFileSystem(*volume);
    }
    state.counters["files"] = volume->FilesFound.load();
    state.counters["folders"] = volume->FoldersFound.load();
}
BENCHMARK(BM_ListNtfsTwoHundredThousandFiles)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void BM_FlsRecursiveSameNtfsImage(benchmark::State& state) {
    if (!BuildImage() || !duzez::bench::RunTool("command -v fls >/dev/null")) {
        state.SkipWithError("needs mkntfs, ntfs-3g and fls");
        return;
    }
    for (auto _ : state) {
        if (!duzez::bench::RunTool("fls -r '" + Image().string() + "' > /dev/null"))
            state.SkipWithError("fls failed");
    }
}
BENCHMARK(BM_FlsRecursiveSameNtfsImage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
