// The data viewer over a sparse image of 4 TB: one repaint of the whole view at the top,
// the middle and the end of the disk, and while the user drags the scroll bar (every
// repaint then meets pages not yet cached).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <QScrollBar>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bench/bench_machine.h"
#include "ui/viewer/byte_source.h"
#include "ui/viewer/hex_view.h"

namespace {

using namespace duzez;

constexpr std::uint64_t kSize = std::uint64_t{1} << 42;

struct BigDisk {
    BigDisk() {
        image = std::filesystem::temp_directory_path() / "duzez-viewer-bench-4tb.img";
        { std::ofstream create(image, std::ios::trunc); }
        std::filesystem::resize_file(image, kSize);
        std::string why;
        volume = machine.computer.CreateImageVolume(image, why);
        view.resize(900, 600);
        view.show();
    }
    ~BigDisk() {
        std::error_code ignored;
        std::filesystem::remove(image, ignored);
    }
    std::filesystem::path image;
    bench::BenchMachine machine;
    std::shared_ptr<devices::CVolume> volume;
    ui::HexView view;
};

// Made on first use and gone before the application object: the view needs it.
std::unique_ptr<BigDisk> theDisk;

BigDisk& Disk() {
    if (!theDisk)
        theDisk = std::make_unique<BigDisk>();
    return *theDisk;
}

// The time column is the time of one repaint, in ms. Argument: the position on the disk
// in thousandths.
void BM_RepaintAt(benchmark::State& state) {
    BigDisk& disk = Disk();
    if (!disk.volume) {
        state.SkipWithError("no image volume");
        return;
    }
    disk.view.SetSource(ui::MakeVolumeByteSource(*disk.volume));
    disk.view.ScrollToOffset(kSize / 1000 * static_cast<std::uint64_t>(state.range(0)));
    for (auto _ : state) {
        QPixmap shot = disk.view.viewport()->grab();
        benchmark::DoNotOptimize(shot);
    }
}
BENCHMARK(BM_RepaintAt)->Arg(0)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

// Each repaint at a new place: the pages come from the image, not the cache.
void BM_RepaintWhileDraggingTheScrollBar(benchmark::State& state) {
    BigDisk& disk = Disk();
    if (!disk.volume) {
        state.SkipWithError("no image volume");
        return;
    }
    disk.view.SetSource(ui::MakeVolumeByteSource(*disk.volume));
    QScrollBar* bar = disk.view.verticalScrollBar();
    int value = 0;
    const int step = std::max(1, bar->maximum() / 997);
    for (auto _ : state) {
        value = (value + step) % (bar->maximum() + 1);
        bar->setValue(value);
        QPixmap shot = disk.view.viewport()->grab();
        benchmark::DoNotOptimize(shot);
    }
}
BENCHMARK(BM_RepaintWhileDraggingTheScrollBar)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    theDisk.reset();
    return 0;
}
