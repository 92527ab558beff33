// The desktop views at the scale of a large card: a tree of 1,000,000 found objects, a
// folder of 100,000 files opened in the list and sorted, what the models cost in memory,
// and the longest stall of the window's event loop while a deep scan finds thousands of
// files.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>

#include "core/app.h"
#include "devices/local_computer.h"
#include "ui/explorer/explore_view.h"
#include "ui/explorer/file_list_model.h"
#include "ui/explorer/files_tree_model.h"
#include "ui/frame/commands.h"
#include "ui/frame/interface_modes.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/questions.h"
#include "ui/viewer/photo_preview.h"
#include "ui/viewer/thumbnails.h"

namespace {

using namespace duzez;
using filesystems::FoundObject;

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

class Silent : public ui::Questions {
  public:
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
    void Tell(QWidget*, const QString&, const QString&) override {}
};

// One program, one settings folder, one machine for every benchmark.
struct Desk {
    Desk() {
        char pattern[] = "/tmp/duzez-ui-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        ::setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (folder + "/cache").c_str(), 1);
        core::CAppOptions options;
        options.storePath = folder + "/config/registry.reg";
        app = std::make_unique<core::CApp>(std::move(options));
        app->LoadSettings();
        app->Settings().SetFlag(core::CSettings::kConfirmShutdown, false);
        devices::LocalComputerOptions machine;
        machine.listDrives = false;
        machine.followMediaChanges = false;
        computer = std::make_unique<devices::CLocalComputer>(*app, std::move(machine));
        computer->LoadSignatures();
    }
    ~Desk() { std::system(("rm -rf '" + folder + "'").c_str()); }

    std::string folder;
    std::unique_ptr<core::CApp> app;
    std::unique_ptr<devices::CLocalComputer> computer;
};

Desk& TheDesk() {
    static Desk desk;
    return desk;
}

// A volume whose tree holds 10 folders of 100,000 photos each.
struct MillionTree {
    MillionTree() {
        Desk& desk = TheDesk();
        const std::string image = desk.folder + "/tiny.img";
        std::ofstream(image) << std::string(1 << 20, '\0');
        std::string error;
        volume = desk.computer->CreateImageVolume(image, error);
        auto& tree = *volume->FoundObjectTree;
        volume->SyncTreeNode();
        tree.AddObject(&volume->TreeNode, true);
        tree.RootFolder().Id = 5;
        tree.RootFolder().ParentId = volume->Id;
        tree.AddObject(&tree.RootFolder(), true);
        FoundObject record;
        std::mt19937_64 random(7);
        for (std::uint64_t folderIndex = 0; folderIndex < 10; ++folderIndex) {
            record.InitObject();
            record.Id = 1000 + folderIndex;
            record.ParentId = 5;
            record.Flags = filesystems::ObjectFlags::Folder;
            record.SetName("1" + std::to_string(folderIndex) + "0CANON");
            FoundObject* added = tree.MergeObject(record);
            if (folderIndex == 0)
                bigFolder = added;
            for (std::uint64_t i = 0; i < 100000; ++i) {
                record.InitObject();
                record.Id = 100000 + folderIndex * 100000 + i;
                record.ParentId = 1000 + folderIndex;
                record.Start = record.Id * 4096;
                record.Size = 1000000 + random() % 8000000;
                record.Modified = 133000000000000000ull + random() % 10000000000000ull;
                record.SetName("IMG_" + std::to_string(10000 + i) + ".JPG");
                tree.MergeObject(record);
            }
        }
    }
    std::shared_ptr<devices::CVolume> volume;
    FoundObject* bigFolder = nullptr;
};

MillionTree& TheTree() {
    static MillionTree tree;
    return tree;
}

void BM_OpenFolderOf100kFilesInTheList(benchmark::State& state) {
    MillionTree& million = TheTree();
    ui::VolumeChecks checks;
    ui::FileListModel list(checks);
    const std::size_t before = ResidentBytes();
    for (auto _ : state) {
        list.ShowFolder(million.volume.get(), million.bigFolder);
        benchmark::DoNotOptimize(list.rowCount());
    }
    state.counters["rows"] = list.rowCount();
    state.counters["list_bytes_per_row"] =
        static_cast<double>(ResidentBytes() - before) / list.rowCount();
}
BENCHMARK(BM_OpenFolderOf100kFilesInTheList)->Unit(benchmark::kMillisecond);

void BM_SortFolderOf100kFilesBySize(benchmark::State& state) {
    MillionTree& million = TheTree();
    ui::VolumeChecks checks;
    ui::FileListModel list(checks);
    list.ShowFolder(million.volume.get(), million.bigFolder);
    bool descending = false;
    for (auto _ : state) {
        list.sort(ui::FileListModel::Size, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        descending = !descending;
    }
}
BENCHMARK(BM_SortFolderOf100kFilesBySize)->Unit(benchmark::kMillisecond);

void BM_SortFolderOf100kFilesByName(benchmark::State& state) {
    MillionTree& million = TheTree();
    ui::VolumeChecks checks;
    ui::FileListModel list(checks);
    list.ShowFolder(million.volume.get(), million.bigFolder);
    bool descending = false;
    for (auto _ : state) {
        list.sort(ui::FileListModel::Name, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        descending = !descending;
    }
}
BENCHMARK(BM_SortFolderOf100kFilesByName)->Unit(benchmark::kMillisecond);

// The window over the whole tree: both views, every folder opened, a folder checked.
void BM_WindowMemoryOverAMillionObjects(benchmark::State& state) {
    MillionTree& million = TheTree();
    for (auto _ : state) {
        const std::size_t before = ResidentBytes();
        Silent questions;
        ui::ExploreView view(*TheDesk().computer, questions);
        view.TreeModel().BeginAnalysis(*million.volume);
        const QModelIndex root = view.TreeModel().IndexOf(
            *million.volume, million.volume->FoundObjectTree->RootFolder());
        view.TreeModel().fetchMore(root);
        view.ListModel().ShowFolder(million.volume.get(), million.bigFolder);
        view.TreeModel().setData(root, Qt::Checked, Qt::CheckStateRole);
        state.counters["window_bytes"] = static_cast<double>(ResidentBytes() - before);
        state.counters["bytes_per_object"] =
            static_cast<double>(ResidentBytes() - before) / 1000000.0;
    }
}
BENCHMARK(BM_WindowMemoryOverAMillionObjects)->Unit(benchmark::kMillisecond)->Iterations(1);

// 512 MiB in which every 64 KiB block starts like a JPEG: the scan finds 8,192 files while
// the window keeps drawing. The counter is the longest gap between two 10 ms ticks.
void BM_EventLoopStallDuringADeepScan(benchmark::State& state) {
    Desk& desk = TheDesk();
    const std::string image = desk.folder + "/photos.img";
    {
        std::ofstream out(image, std::ios::binary);
        std::vector<char> block(1 << 16);
        std::mt19937 random(3);
        for (int i = 0; i < 8192; ++i) {
            for (auto& byte : block)
                byte = static_cast<char>(random());
            block[0] = '\xFF';
            block[1] = '\xD8';
            block[2] = '\xFF';
            block[3] = '\xE0';
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    Silent questions;
    ui::InterfaceModes modes(*desk.app, *desk.computer, questions);
    modes.SwitchMode(ui::Command::ModeExplorer);
    auto* frame = qobject_cast<ui::MainFrame*>(modes.Current());
    devices::CVolume* volume = frame->LoadImageFile(QString::fromStdString(image));
    double longest = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.restart();
        });
        tick.start(10);
        frame->RunCommand(ui::Command::StartAnalyzing);
        sinceTick.restart();
        while (desk.app->IsBusy())
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        tick.stop();
        found = volume->FoundObjectTree->ObjectCount();
    }
    state.counters["longest_stall_ms"] = longest;
    state.counters["objects"] = static_cast<double>(found);
    frame->close();
}
BENCHMARK(BM_EventLoopStallDuringADeepScan)->Unit(benchmark::kMillisecond)->Iterations(1);

QByteArray CameraJpeg(int width, int height, int quality) {
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 random(11);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            // Detail like a photo's: a gradient with noise, which JPEG cannot squeeze away.
            const int noise = static_cast<int>(random() % 12);
            line[x] = qRgb((x * 255 / width + noise) % 256, (y * 255 / height + noise) % 256,
                           (x + y + noise) % 256);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", quality);
    return bytes;
}

// Thumbnails of a 12-megapixel camera JPEG of about 3 MB, decoded on this one thread.
void BM_ThumbnailsOfCameraJpegs(benchmark::State& state) {
    const QByteArray jpeg = CameraJpeg(4000, 3000, 88);
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(jpeg.data()),
                                              static_cast<std::size_t>(jpeg.size()));
    for (auto _ : state) {
        const ui::Preview preview =
            ui::DecodePreview(bytes, QSize(ui::ThumbnailProxy::kEdge, ui::ThumbnailProxy::kEdge));
        benchmark::DoNotOptimize(preview.image.width());
    }
    state.counters["jpeg_bytes"] = static_cast<double>(jpeg.size());
    state.counters["previews_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThumbnailsOfCameraJpegs)->Unit(benchmark::kMillisecond)->UseRealTime();

// A folder of 1,000 photos in the grid view: the longest gap between two 10 ms ticks of
// the window's loop while every thumbnail is made.
void BM_EventLoopStallWhileAThousandThumbnailsFill(benchmark::State& state) {
    Desk& desk = TheDesk();
    const QByteArray jpeg = CameraJpeg(1600, 1200, 85);
    const std::string image = desk.folder + "/thousand.img";
    constexpr std::uint64_t kSlot = 1 << 20;
    {
        std::ofstream out(image, std::ios::binary);
        std::vector<char> slot(kSlot, '\0');
        std::copy(jpeg.begin(), jpeg.end(), slot.begin());
        for (int i = 0; i < 1000; ++i)
            out.write(slot.data(), static_cast<std::streamsize>(slot.size()));
    }
    std::string error;
    auto volume = desk.computer->CreateImageVolume(image, error);
    auto& tree = *volume->FoundObjectTree;
    volume->SyncTreeNode();
    tree.AddObject(&volume->TreeNode, true);
    tree.RootFolder().Id = 5;
    tree.RootFolder().ParentId = volume->Id;
    tree.AddObject(&tree.RootFolder(), true);
    FoundObject record;
    for (std::uint64_t i = 0; i < 1000; ++i) {
        record.InitObject();
        record.Id = 100 + i;
        record.ParentId = 5;
        record.Start = i * kSlot;
        record.Size = static_cast<std::uint64_t>(jpeg.size());
        record.SetName("IMG_" + std::to_string(1000 + i) + ".JPG");
        tree.MergeObject(record);
    }
    Silent questions;
    double longest = 0;
    for (auto _ : state) {
        ui::ExploreView view(*desk.computer, questions);
        view.resize(1000, 700);
        view.show();
        view.SetThumbnails(true);
        view.ListModel().ShowFolder(volume.get(), &tree.RootFolder());
        view.SetMode(ui::ViewMode::Files, true);
        QElapsedTimer sinceTick;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.restart();
        });
        tick.start(10);
        sinceTick.start();
        // As if the user scrolled through the whole folder: every row is drawn once.
        auto& thumbnails = view.Thumbnails();
        for (int row = 0; row < thumbnails.rowCount(); ++row)
            thumbnails.data(thumbnails.index(row, 0), Qt::DecorationRole);
        while (thumbnails.Made() < 1000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        tick.stop();
        view.Thumbnails().Forget();
    }
    state.counters["longest_stall_ms"] = longest;
}
BENCHMARK(BM_EventLoopStallWhileAThousandThumbnailsFill)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
