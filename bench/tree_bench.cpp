// The found-object tree at the scale of a large volume, and the sector matcher over the
// shipped formats on random data (the common case: nothing matches).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>

#include "filesystems/found_object_tree.h"
#include "platform/registry_store.h"
#include "signatures/sector_matcher.h"
#include "signatures/signature_database.h"

namespace {

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

// 1,000,000 directory entries as a FAT or NTFS listing hands them over: folders of 200
// files each, with names like a camera's.
void BM_MergeObjectMillion(benchmark::State& state) {
    constexpr std::uint64_t kObjects = 1000000;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = ResidentBytes();
        auto tree =
            std::make_unique<duzez::filesystems::FoundObjectTree>(nullptr, nullptr, nullptr);
        tree->RootFolder().Id = 5;
        tree->AddObject(&tree->RootFolder(), false);
        duzez::filesystems::FoundObject record;
        state.ResumeTiming();
        for (std::uint64_t i = 0; i < kObjects; ++i) {
            const bool folder = i % 201 == 0;
            record.InitObject();
            record.Id = 100 + i;
            record.ParentId = folder ? 5 : 100 + (i / 201) * 201;
            record.Start = i * 32768;
            record.Size = 3000000 + i;
            record.Flags = folder ? duzez::filesystems::ObjectFlags::Folder : 0;
            record.SetName(folder ? "DCIM_" + std::to_string(i / 201) + "CANON"
                                  : "IMG_2024" + std::to_string(100000 + i) + ".JPG");
            tree->MergeObject(record);
        }
        state.PauseTiming();
        const std::size_t after = ResidentBytes();
        state.counters["bytes_per_object"] =
            static_cast<double>(after - before) / static_cast<double>(kObjects);
        tree.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_MergeObjectMillion)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_MatchShippedFormatsOnRandomData(benchmark::State& state) {
    const char* source = std::getenv("DUZEZ_SOURCE_DIR");
    const std::filesystem::path shipped =
        std::filesystem::path(source != nullptr ? source : DUZEZ_SOURCE_DIR_DEFAULT) / "data" /
        "signatures.reg";
    const auto storeFile = std::filesystem::temp_directory_path() / "duzez-bench-signatures.reg";
    std::filesystem::remove(storeFile);
    duzez::platform::RegistryStore store(storeFile);
    std::string error;
    if (!store.ImportFile(shipped, &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::uint64_t counter = 0;
    duzez::signatures::SignatureDatabase database(store, "Software\\Quarnel\\Duzez\\1.0",
                                                  [&] { return --counter; });
    database.LoadDatabase();
    const duzez::signatures::SectorMatcher matcher(database);
    std::vector<std::uint8_t> block(10 * 1024 * 1024);
    std::mt19937_64 random(5);
    for (std::size_t i = 0; i < block.size(); i += 8) {
        const std::uint64_t value = random();
        std::memcpy(block.data() + i, &value, 8);
    }
    std::vector<const duzez::signatures::Signature*> matches;
    std::size_t found = 0;
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < block.size(); offset += 512) {
            matcher.Match(std::span<const std::uint8_t, 512>(block.data() + offset, 512), matches);
            found += matches.size();
        }
    }
    benchmark::DoNotOptimize(found);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_MatchShippedFormatsOnRandomData)->Unit(benchmark::kMillisecond);

}  // namespace
