// The FAT file-system phase on a FAT32 volume with 100,000 files in 1,000 folders, against
// The Sleuth Kit's fls -r on the same image in the same run. The image is formatted by
// mkfs.fat and its directories are written here, once.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "bench/bench_machine.h"

namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr std::uint32_t kClusterBytes = 4096;

std::filesystem::path Image() {
    return std::filesystem::temp_directory_path() / "duzez-bench-fat32-100k.img";
}

void PutEntry(std::vector<char>& dir, std::size_t index, const std::string& name83,
              std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size) {
    char* e = dir.data() + index * 32;
    std::memcpy(e, name83.data(), 11);
    e[11] = static_cast<char>(attributes);
    e[0x14] = static_cast<char>(cluster >> 16);
    e[0x15] = static_cast<char>(cluster >> 24);
    e[0x1A] = static_cast<char>(cluster);
    e[0x1B] = static_cast<char>(cluster >> 8);
    std::memcpy(e + 0x1C, &size, 4);
    e[0x18] = 0x21;  // 1980-01-01
}

std::string Name83(const char* stem, int number, const char* extension) {
    char text[16];
    std::snprintf(text, sizeof text, "%s%05d%-3s", stem, number, extension);
    return std::string(text).substr(0, 11);
}

// Folders DIR00000.. in the root, each with files IMG00000.JPG.. of one cluster.
bool BuildImage() {
    const auto image = Image();
    if (std::filesystem::exists(image))
        return true;
    const std::string format = "mkfs.fat -C -F 32 -s 8 '" + image.string() + "' 1048576 >/dev/null";
    if (std::system(format.c_str()) != 0)
        return false;
    std::fstream disk(image, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> boot(512);
    disk.read(boot.data(), 512);
    const auto u16 = [&](int at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(boot[at]) |
                                          (static_cast<unsigned char>(boot[at + 1]) << 8));
    };
    const std::uint32_t reserved = u16(14);
    const std::uint32_t fats = static_cast<unsigned char>(boot[16]);
    std::uint32_t perFat = 0;
    std::memcpy(&perFat, boot.data() + 36, 4);
    const std::uint64_t dataStart = (reserved + std::uint64_t{fats} * perFat) * 512;
    const auto clusterOffset = [&](std::uint32_t c) {
        return dataStart + std::uint64_t{c - 2} * kClusterBytes;
    };

    std::vector<std::uint32_t> table(2 + 8 + kFolders * 2 + kFolders * kFilesPerFolder + 16, 0);
    table[0] = 0x0FFFFFF8;
    table[1] = 0x0FFFFFFF;
    // Root: clusters 2..9. Folder f: clusters 10 + 2f and 11 + 2f. Files after them.
    std::vector<char> root(8 * kClusterBytes, 0);
    std::uint32_t nextFile = 10 + kFolders * 2;
    for (int f = 0; f < kFolders; ++f) {
        const std::uint32_t first = 10 + 2 * f;
        PutEntry(root, static_cast<std::size_t>(f), Name83("DIR", f, ""), 0x10, first, 0);
        table[first] = first + 1;
        table[first + 1] = 0x0FFFFFFF;
        std::vector<char> folder(2 * kClusterBytes, 0);
        PutEntry(folder, 0, ".          ", 0x10, first, 0);
        PutEntry(folder, 1, "..         ", 0x10, 0, 0);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            PutEntry(folder, static_cast<std::size_t>(2 + i),
                     Name83("IMG", f * kFilesPerFolder + i, "JPG"), 0x20, nextFile, kClusterBytes);
            table[nextFile++] = 0x0FFFFFFF;
        }
        disk.seekp(static_cast<std::streamoff>(clusterOffset(first)));
        disk.write(folder.data(), static_cast<std::streamsize>(folder.size()));
    }
    for (std::uint32_t c = 2; c < 9; ++c)
        table[c] = c + 1;
    table[9] = 0x0FFFFFFF;
    disk.seekp(static_cast<std::streamoff>(clusterOffset(2)));
    disk.write(root.data(), static_cast<std::streamsize>(root.size()));
    for (std::uint32_t copy = 0; copy < fats; ++copy) {
        disk.seekp(static_cast<std::streamoff>((reserved + copy * perFat) * 512));
        disk.write(reinterpret_cast<const char*>(table.data()),
                   static_cast<std::streamsize>(table.size() * 4));
    }
    return disk.good();
}

void BM_ListFat32HundredThousandFiles(benchmark::State& state) {
    if (!BuildImage()) {
        state.SkipWithError("mkfs.fat failed");
        return;
    }
    duzez::bench::BenchMachine machine;
    std::string error;
    auto* volume = machine.computer.LoadImage(Image(), error);
    for (auto _ : state) {
        machine.app.AnalysisRunning = true;
        machine.computer.AnalyseFileSystem(*volume);
    }
    state.counters["files"] = volume->FilesFound.load();
    state.counters["folders"] = volume->FoldersFound.load();
}
BENCHMARK(BM_ListFat32HundredThousandFiles)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void BM_FlsRecursiveSameImage(benchmark::State& state) {
    if (!BuildImage() || std::system("command -v fls >/dev/null") != 0) {
        state.SkipWithError("needs mkfs.fat and fls");
        return;
    }
    const std::string command = "fls -r '" + Image().string() + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("fls failed");
    }
}
BENCHMARK(BM_FlsRecursiveSameImage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
