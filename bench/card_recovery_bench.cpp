// Recovery of a camera card's photos through their cluster chains (a FAT32 card of 300
// photos, some fragmented), against `cp -r` of the recovered files in the same run. The
// card is made once by mkfs.fat and mtools and kept in the temporary folder.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "bench/bench_machine.h"
#include "filesystems/found_object_tree.h"
#include "recovery/recovery.h"

namespace {

constexpr int kPhotos = 300;
constexpr int kFillers = 200;

std::filesystem::path Work() {
    return std::filesystem::temp_directory_path() / "duzez-bench-card";
}
std::filesystem::path Card() {
    return std::filesystem::temp_directory_path() / "duzez-bench-card.img";
}

bool Run(const std::string& command) {
    return std::system(("MTOOLS_SKIP_CHECK=1 " + command + " >/dev/null 2>&1").c_str()) == 0;
}

// Small files, every other one deleted, then the photos: the first photos fill the gaps.
bool BuildCard() {
    if (std::filesystem::exists(Card()))
        return true;
    const auto files = Work() / "files";
    std::filesystem::remove_all(Work());
    std::filesystem::create_directories(files);
    std::mt19937 random(7);
    const auto write = [&](const std::filesystem::path& path, std::size_t bytes) {
        std::string data(bytes, '\0');
        for (auto& c : data)
            c = static_cast<char>(random());
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr)
            return false;
        const bool whole = std::fwrite(data.data(), 1, data.size(), out) == data.size();
        return std::fclose(out) == 0 && whole;
    };
    std::string fillers;
    std::string deleted;
    for (int i = 0; i < kFillers; ++i) {
        const std::string name = "F" + std::to_string(1000 + i) + ".BIN";
        if (!write(files / name, 3 * 2048))
            return false;
        fillers += " '" + (files / name).string() + "'";
        if (i % 2 == 0)
            deleted += " ::/" + name;
    }
    std::string photos;
    for (int i = 0; i < kPhotos; ++i) {
        const std::string name = "IMG_" + std::to_string(1000 + i) + ".JPG";
        if (!write(files / name, 300000 + random() % 400000))
            return false;
        photos += " '" + (files / name).string() + "'";
    }
    const std::string image = "'" + Card().string() + "'";
    const bool made = Run("mkfs.fat -C -F 32 -s 4 " + image + " 393216") &&
                      Run("mcopy -i " + image + fillers + " ::/") &&
                      Run("mdel -i " + image + deleted) &&
                      Run("mmd -i " + image + " ::/DCIM ::/DCIM/100CANON") &&
                      Run("mcopy -i " + image + photos + " ::/DCIM/100CANON/");
    std::filesystem::remove_all(files);
    if (!made)
        std::filesystem::remove(Card());
    return made;
}

void BM_RecoverCardThroughChains(benchmark::State& state) {
    if (!BuildCard()) {
        state.SkipWithError("mkfs.fat or mtools failed");
        return;
    }
    duzez::bench::BenchMachine machine;
    auto& computer = machine.computer;
    std::string error;
    auto* volume = computer.LoadImage(Card(), error);
    if (volume == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    computer.ActiveVolume = volume;
    machine.app.AnalysisRunning = true;
    computer.AnalyseFileSystem(*volume);
    duzez::recovery::CRecovery engine(computer);
    std::uint64_t bytes = 0;
    namespace ObjectFlags = duzez::filesystems::ObjectFlags;
    for (auto* object : volume->FoundObjectTree->ListedObjects()) {
        // The card's live files (the photos and the fillers left).
        if (object->Is(ObjectFlags::Folder) || object->Is(ObjectFlags::Deleted) ||
            object == &volume->TreeNode || object == &volume->BootObject || object->Size == 0 ||
            object->Size == duzez::filesystems::kUnknownSize) {
            continue;
        }
        engine.RecoveryList.push_back(object);
        bytes += object->Size;
    }
    const auto out = Work() / "recovered";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(out);
        state.ResumeTiming();
        engine.StartRecovery(out);
        engine.Wait();
        if (engine.RecoveredCount != engine.RecoveryList.size()) {
            state.SkipWithError("not every photo was recovered");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_RecoverCardThroughChains)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

void BM_CpRecoveredPhotos(benchmark::State& state) {
    const auto from = Work() / "recovered";
    const auto to = Work() / "copied";
    std::error_code ec;
    std::uint64_t bytes = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(from, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file())
            bytes += it->file_size();
    }
    if (bytes == 0) {
        state.SkipWithError("run BM_RecoverCardThroughChains first");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove_all(to);
        state.ResumeTiming();
        if (!Run("cp -r '" + from.string() + "' '" + to.string() + "'")) {
            state.SkipWithError("cp failed");
            return;
        }
    }
    std::filesystem::remove_all(to);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_CpRecoveredPhotos)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);

}  // namespace
