// The exFAT file-system phase on a volume with 100,000 files in 1,000 folders, against The
// Sleuth Kit's fls -r on the same image in the same run. Making 100,000 files through FUSE
// takes too long, so the image is formatted by mkfs.exfat and its directories are written
// here, once; fsck.exfat must find it clean before it is kept.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "filesystems/exfat/exfat_layout.h"
#include "filesystems/exfat/file_system_exfat.h"
#include "filesystems/found_object_tree.h"
#include "platform/byte_order.h"

namespace {

namespace exfat = duzez::filesystems::exfat;

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;
constexpr std::uint64_t kClusterBytes = 4096;
constexpr std::uint64_t kFolderClusters = 3;  // 300 entries of 32 bytes
// 2024-01-01 12:00:00.
constexpr std::uint32_t kTimestamp = ((2024u - 1980) << 25) | (1u << 21) | (1u << 16) | (12u << 11);

std::filesystem::path Image() {
    return std::filesystem::temp_directory_path() / "duzez-bench-exfat-100k.img";
}

std::uint32_t U32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return *duzez::platform::ReadLe<std::uint32_t>(bytes, at);
}

// A file or folder entry set of three entries: one name entry holds up to 15 units.
std::vector<std::uint8_t> EntrySet(const std::string& name, bool folder, std::uint32_t cluster,
                                   std::uint64_t length) {
    std::vector<std::uint8_t> set(3 * exfat::kEntrySize, 0);
    std::u16string units(name.begin(), name.end());
    set[0] = exfat::EntryTypes::File;
    set[1] = 2;
    duzez::platform::WriteLe<std::uint16_t>(set, 4, folder ? 0x10 : 0x20);
    for (const std::size_t at : {8, 12, 16})
        duzez::platform::WriteLe<std::uint32_t>(set, at, kTimestamp);
    set[22] = set[23] = set[24] = 0x80;  // UTC
    set[32] = exfat::EntryTypes::StreamExtension;
    set[33] = 0x03;  // allocation possible, no FAT chain
    set[35] = static_cast<std::uint8_t>(units.size());
    // Capitals and digits: the up-case table maps them to themselves.
    duzez::platform::WriteLe<std::uint16_t>(set, 36, exfat::NameHash(units, nullptr));
    duzez::platform::WriteLe<std::uint64_t>(set, 40, length);
    duzez::platform::WriteLe<std::uint32_t>(set, 52, cluster);
    duzez::platform::WriteLe<std::uint64_t>(set, 56, length);
    set[64] = exfat::EntryTypes::FileName;
    for (std::size_t i = 0; i < units.size(); ++i)
        duzez::platform::WriteLe<std::uint16_t>(set, 66 + 2 * i, units[i]);
    duzez::platform::WriteLe<std::uint16_t>(set, 2, exfat::EntrySetChecksum(set));
    return set;
}

// Folders DIR00000.. in the root, each with files IMG000000.JPG.. of one cluster; every
// folder and file a run of its own clusters, the root a FAT chain.
bool BuildImage() {
    const auto image = Image();
    if (std::filesystem::exists(image))
        return true;
    const auto draft = image.string() + ".draft";
    if (std::system(
            ("truncate -s 1G '" + draft + "' && mkfs.exfat -c 4096 '" + draft + "' >/dev/null")
                .c_str()) != 0) {
        return false;
    }
    std::fstream disk(draft, std::ios::in | std::ios::out | std::ios::binary);
    const auto read = [&](std::uint64_t offset, std::size_t size) {
        std::vector<std::uint8_t> bytes(size);
        disk.seekg(static_cast<std::streamoff>(offset));
        disk.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
        return bytes;
    };
    const auto write = [&](std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
        disk.seekp(static_cast<std::streamoff>(offset));
        disk.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    };
    const auto boot = exfat::ParseBootSector(read(0, 512));
    if (!boot || boot->BytesPerSector() != 512 || boot->ClusterBytes() != kClusterBytes)
        return false;
    const std::uint64_t heap = std::uint64_t{boot->clusterHeapOffset} * 512;
    const auto clusterOffset = [&](std::uint64_t c) { return heap + (c - 2) * kClusterBytes; };
    std::vector<std::uint8_t> root = read(clusterOffset(boot->rootCluster), kClusterBytes);
    std::size_t used = 0;  // the entries mkfs.exfat wrote: label, bitmap, up-case table
    std::uint32_t bitmapCluster = 0;
    while (used < kClusterBytes / exfat::kEntrySize && root[used * exfat::kEntrySize] != 0) {
        if (root[used * exfat::kEntrySize] == exfat::EntryTypes::AllocationBitmap)
            bitmapCluster = U32(root, used * exfat::kEntrySize + 20);
        ++used;
    }
    if (bitmapCluster == 0)
        return false;
    std::vector<std::uint8_t> bitmap =
        read(clusterOffset(bitmapCluster), (boot->clusterCount + 7) / 8);
    std::vector<std::uint8_t> fat =
        read(std::uint64_t{boot->fatOffset} * 512, (std::size_t{boot->clusterCount} + 2) * 4);
    std::uint64_t next = 2;
    for (std::uint64_t c = 2; c < std::uint64_t{boot->clusterCount} + 2; ++c) {
        if ((bitmap[(c - 2) / 8] >> ((c - 2) % 8)) & 1)
            next = c + 1;
    }
    const auto take = [&](std::uint64_t count) {
        const std::uint64_t first = next;
        for (std::uint64_t c = first; c < first + count; ++c)
            bitmap[(c - 2) / 8] |= static_cast<std::uint8_t>(1u << ((c - 2) % 8));
        next += count;
        return static_cast<std::uint32_t>(first);
    };

    // The root grows by a chain from its first cluster.
    const std::uint64_t rootBytes = (used + 3 * kFolders) * exfat::kEntrySize;
    const std::uint64_t rootClusters = (rootBytes + kClusterBytes - 1) / kClusterBytes;
    const std::uint32_t extra = take(rootClusters - 1);
    std::vector<std::uint32_t> rootChain{boot->rootCluster};
    for (std::uint32_t c = extra; c < extra + rootClusters - 1; ++c)
        rootChain.push_back(c);
    for (std::size_t i = 0; i + 1 < rootChain.size(); ++i)
        duzez::platform::WriteLe<std::uint32_t>(fat, std::size_t{rootChain[i]} * 4,
                                                rootChain[i + 1]);
    duzez::platform::WriteLe<std::uint32_t>(fat, std::size_t{rootChain.back()} * 4,
                                            exfat::kEndOfChain);
    root.resize(rootClusters * kClusterBytes, 0);

    int fileNumber = 0;
    for (int f = 0; f < kFolders; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "DIR%05d", f);
        const std::uint32_t folderCluster = take(kFolderClusters);
        const auto entry = EntrySet(name, true, folderCluster, kFolderClusters * kClusterBytes);
        std::memcpy(root.data() + (used + 3 * static_cast<std::size_t>(f)) * exfat::kEntrySize,
                    entry.data(), entry.size());
        std::vector<std::uint8_t> folder(kFolderClusters * kClusterBytes, 0);
        for (int i = 0; i < kFilesPerFolder; ++i, ++fileNumber) {
            std::snprintf(name, sizeof name, "IMG%06d.JPG", fileNumber);
            const auto file = EntrySet(name, false, take(1), 1000);
            std::memcpy(folder.data() + 3 * static_cast<std::size_t>(i) * exfat::kEntrySize,
                        file.data(), file.size());
        }
        write(clusterOffset(folderCluster), folder);
    }
    for (std::size_t i = 0; i < rootChain.size(); ++i) {
        write(clusterOffset(rootChain[i]),
              std::vector<std::uint8_t>(
                  root.begin() + static_cast<std::ptrdiff_t>(i * kClusterBytes),
                  root.begin() + static_cast<std::ptrdiff_t>((i + 1) * kClusterBytes)));
    }
    write(std::uint64_t{boot->fatOffset} * 512, fat);
    write(clusterOffset(bitmapCluster), bitmap);
    disk.close();
    if (!disk || std::system(("fsck.exfat -n '" + draft + "' >/dev/null 2>&1").c_str()) != 0) {
        std::fprintf(stderr, "the generated exFAT image does not pass fsck.exfat: %s\n",
                     draft.c_str());
        return false;
    }
    std::filesystem::rename(draft, image);
    return true;
}

// The file-system phase, as the program runs it.
void AnalyseFileSystem(duzez::bench::BenchMachine& machine, duzez::devices::CVolume& volume) {
    machine.app.AnalysisRunning = true;
    machine.computer.AnalyseFileSystem(volume);
}

void BM_ListExFatHundredThousandFiles(benchmark::State& state) {
    if (!BuildImage()) {
        state.SkipWithError("mkfs.exfat or fsck.exfat failed");
        return;
    }
    duzez::bench::BenchMachine machine;
    std::string error;
    auto* volume = machine.computer.LoadImage(Image(), error);
    if (volume == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (auto _ : state)
        AnalyseFileSystem(machine, *volume);
    state.counters["files"] = volume->FilesFound.load();
    state.counters["folders"] = volume->FoldersFound.load();
    if (volume->FilesFound.load() != kFolders * kFilesPerFolder ||
        volume->FoldersFound.load() != kFolders) {
        state.SkipWithError("the listing is not complete");
    }
}
BENCHMARK(BM_ListExFatHundredThousandFiles)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3);

void BM_FlsRecursiveSameExFatImage(benchmark::State& state) {
    if (!BuildImage() || std::system("command -v fls >/dev/null") != 0) {
        state.SkipWithError("needs mkfs.exfat, fsck.exfat and fls");
        return;
    }
    const std::string command = "fls -r '" + Image().string() + "' > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("fls failed");
    }
}
BENCHMARK(BM_FlsRecursiveSameExFatImage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
