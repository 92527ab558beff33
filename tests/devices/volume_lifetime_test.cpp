// How long volumes live: what a rescan drops must not be reached through anything that
// still points at it; and the sector phase's watchdog over a scanner stuck on a block.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "devices/chunk_scanner.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

using filesystems::FoundObject;

constexpr std::uint64_t kTablePartition = 2048;  // sectors
constexpr std::uint64_t kLostVolume = 8192;

class VolumeLifetimeTest : public test::MachineTest {
  protected:
    // A 16 MiB disk image: a partition table with one FAT partition at sector 2048, and a
    // FAT volume at sector 8192 that no table names (only a scan finds it). False when a
    // tool is missing.
    bool MakeDiskImage(const std::filesystem::path& disk) {
        for (const char* tool : {"sfdisk", "mkfs.fat", "mcopy", "dd"}) {
            if (!test::HaveTool(tool))
                return false;
        }
        const std::string d = "'" + disk.string() + "'";
        const auto part = dir_ / "part.img";
        const auto lost = dir_ / "lost.img";
        test::WriteFile(dir_ / "photo.jpg", "\xFF\xD8\xFF\xE0" + test::Pattern(3000, 7));
        return test::RunCommand("truncate -s 16M " + d) &&
               test::RunCommand("echo 'start=2048, size=4096, type=1' | sfdisk -q " + d) &&
               test::MakeFatImage(part, 2048, "TABLED") && test::MakeFatImage(lost, 2048, "LOST") &&
               test::RunCommand("mcopy -i '" + lost.string() + "' '" +
                                (dir_ / "photo.jpg").string() + "' ::PHOTO.JPG") &&
               test::RunCommand("dd if='" + part.string() + "' of=" + d +
                                " bs=512 seek=2048 conv=notrunc status=none") &&
               test::RunCommand("dd if='" + lost.string() + "' of=" + d +
                                " bs=512 seek=8192 conv=notrunc status=none");
    }

    std::vector<CVolume*> FoundAt(std::uint64_t sector) {
        std::vector<CVolume*> found;
        for (const auto& volume : computer_->Volumes().Snapshot()) {
            if (volume->VolumeType == VolumeKind::Found && volume->StartOffset == sector * 512)
                found.push_back(volume.get());
        }
        return found;
    }

    // Walks the image's tree the way the views list it: every object's folder and name.
    std::size_t WalkTree(CVolume& volume) {
        std::size_t named = 0;
        auto& tree = *volume.FoundObjectTree;
        for (const FoundObject* object : tree.ListedObjects()) {
            const std::string path = tree.GetFolderPath(*object) + std::string(object->GetName());
            if (!path.empty())
                ++named;
        }
        return named;
    }
};

TEST_F(VolumeLifetimeTest, RescanDropsAFoundVolumeFromEverythingThatPointedAtIt) {
    const auto disk = dir_ / "disk.dsk";
    if (!MakeDiskImage(disk))
        GTEST_SKIP() << "sfdisk, mkfs.fat, mcopy or dd is not installed";
    auto& computer = Computer(true, platform::MakeLocalDeviceOpener());
    LoadShippedSignatures();
    std::string error;
    CVolume* image = computer.LoadImage(disk, error);
    ASSERT_NE(image, nullptr) << error;
    ASSERT_EQ(FoundAt(kTablePartition).size(), 1u) << "the table's partition";

    // "Find Lost Disks" on the image.
    image->VolumesOnly = 1;
    app_->AnalysisRunning = true;
    computer.AnalyseSectors(*image);
    ASSERT_EQ(FoundAt(kLostVolume).size(), 1u) << "the scan finds the volume no table names";
    CVolume* lost = FoundAt(kLostVolume)[0];
    ASSERT_EQ(lost->GetParentVolume(), image);

    // The user selects it and lists it; then queues it behind a running analysis.
    computer.SelectedVolume = lost;
    computer.StartFileSystemAnalysis(*lost);
    ASSERT_TRUE(lost->WaitForAnalysisThread(std::chrono::seconds(30)));
    EXPECT_EQ(computer.ActiveVolume.load(), lost);
    EXPECT_EQ(computer.LastAnalysedVolume.load(), lost);
    ASSERT_FALSE(Listing(*lost).empty()) << "its file system lists the photo";
    app_->AnalysisRunning = true;
    computer.StartAnalysis(*lost);  // only queued: an analysis counts as running
    ASSERT_EQ(computer.AnalysisQueue(), std::vector<CVolume*>{lost});
    app_->AnalysisRunning = false;

    computer.Volumes().Rescan();

    CVolume* root = &computer.ComputerRoot();
    EXPECT_EQ(computer.SelectedVolume.load(), root);
    EXPECT_EQ(computer.ActiveVolume.load(), root);
    EXPECT_EQ(computer.LastAnalysedVolume.load(), root);
    EXPECT_TRUE(computer.AnalysisQueue().empty());
    EXPECT_TRUE(image->ChildVolumes.empty()) << "no child list names a dropped volume";
    EXPECT_TRUE(FoundAt(kTablePartition).empty());
    EXPECT_TRUE(FoundAt(kLostVolume).empty());
    ASSERT_EQ(computer.Volumes().GetCount(), 1u);
    EXPECT_EQ(computer.Volumes().GetAt(0), image);
    // The image's tree still shows the dropped volumes' nodes until it is analysed again:
    // walking it must not touch freed memory (the sanitizer fails the test if it does).
    EXPECT_GT(WalkTree(*image), 0u);

    // The whole analysis of the image again, with its sector phase.
    app_->Settings().SetContinueWithSectors(true);
    computer.StartAnalysis(*image);
    ASSERT_TRUE(image->WaitForAnalysisThread(std::chrono::seconds(60)));
    EXPECT_EQ(FoundAt(kTablePartition).size(), 1u) << "found again by the table, once";
    ASSERT_EQ(FoundAt(kLostVolume).size(), 1u) << "found again by the scan, once";
    EXPECT_NE(FoundAt(kLostVolume)[0], lost);
    EXPECT_EQ(image->ChildVolumes.size(), 2u);
    EXPECT_GT(WalkTree(*image), 0u);
    for (const auto& line : computer.Log().Lines())
        EXPECT_EQ(line.rfind("ERR: ", 0), std::string::npos) << line;

    // Dropped volumes are kept only while something can reach them: after two more
    // rescans only the lost volume found last is left, as the image's tree shows it.
    computer.Volumes().Rescan();
    computer.Volumes().Rescan();
    EXPECT_EQ(computer.Volumes().RetiredCount(), 1u);
    EXPECT_GT(WalkTree(*image), 0u);
}

TEST_F(VolumeLifetimeTest, RescanEndsTheAnalysisOfAVolumeItDrops) {
    system_.AddDisk("sdb", 8192, true);
    // A disk whose reads take their time, so that the sector phase still runs.
    opener_->Add((system_.dev() / "sdb").string(), [] {
        return std::make_unique<test::ScriptedDevice>(
            8192 * 512,
            [](std::uint64_t, std::span<std::uint8_t> buffer) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                std::fill(buffer.begin(), buffer.end(), 0);
                return platform::DeviceReadResult{platform::DeviceReadResult::Status::Ok,
                                                  buffer.size(), 0};
            },
            std::make_shared<std::atomic<int>>());
    });
    auto& computer = Computer();
    std::shared_ptr<CVolume> disk = computer.Volumes().Snapshot().at(0);
    ASSERT_EQ(disk->KernelName, "sdb");
    computer.StartSectorAnalysis(*disk, true);
    const std::weak_ptr<CVolume> watched = disk;
    disk.reset();

    computer.Volumes().Rescan();
    auto survivor = watched.lock();
    ASSERT_TRUE(survivor) << "kept for its thread, not freed under it";
    EXPECT_FALSE(app_->AnalysisRunning.load());
    EXPECT_TRUE(survivor->WaitForAnalysisThread(std::chrono::seconds(10)));
    EXPECT_NE(computer.Volumes().GetAt(0), survivor.get()) << "the listed sdb is a new entry";
    EXPECT_EQ(computer.ActiveVolume.load(), &computer.ComputerRoot());
}

// A device on which the first small read at one offset (a probe of the scanner reading
// past its block) hangs until it is cancelled. Reads of whole blocks are counted.
class StallingDevice : public platform::BlockDevice {
  public:
    struct Shared {
        std::mutex mutex;
        std::condition_variable cancelled;
        bool hanging = false;
        bool cancel = false;
        bool stalled = false;
        std::map<std::uint64_t, int> blockReads;  // by offset
    };
    StallingDevice(std::shared_ptr<const std::string> bytes, std::uint64_t stallOffset,
                   std::shared_ptr<Shared> shared)
        : bytes_(std::move(bytes)), stallOffset_(stallOffset), shared_(std::move(shared)) {}

    platform::DeviceReadResult ReadAt(std::uint64_t offset,
                                      std::span<std::uint8_t> buffer) override {
        {
            std::unique_lock lock(shared_->mutex);
            if (buffer.size() == ChunkScanner::kBlockSectors * 512)
                ++shared_->blockReads[offset];
            if (!shared_->stalled && offset == stallOffset_ &&
                buffer.size() < ChunkScanner::kBlockSectors * 512) {
                shared_->stalled = true;
                shared_->hanging = true;
                shared_->cancel = false;
                // Bounded, so that a broken watchdog fails the test instead of hanging it.
                shared_->cancelled.wait_for(lock, std::chrono::seconds(60),
                                            [this] { return shared_->cancel; });
                shared_->hanging = false;
                return {platform::DeviceReadResult::Status::Failed, 0, EINTR};
            }
        }
        if (offset >= bytes_->size())
            return {platform::DeviceReadResult::Status::Ok, 0, 0};
        const std::size_t n = std::min<std::uint64_t>(buffer.size(), bytes_->size() - offset);
        std::memcpy(buffer.data(), bytes_->data() + offset, n);
        return {platform::DeviceReadResult::Status::Ok, n, 0};
    }
    // Only a read that hangs is cancelled; a cancel between reads is forgotten.
    void CancelRead() override {
        std::lock_guard lock(shared_->mutex);
        if (shared_->hanging) {
            shared_->cancel = true;
            shared_->cancelled.notify_all();
        }
    }
    std::uint64_t SizeBytes() const override { return bytes_->size(); }

  private:
    std::shared_ptr<const std::string> bytes_;
    std::uint64_t stallOffset_;
    std::shared_ptr<Shared> shared_;
};

TEST_F(VolumeLifetimeTest, AStuckScannerIsReplacedAndItsBlockReadAgain) {
    constexpr std::uint64_t kBlock = ChunkScanner::kBlockSectors;
    const std::string jpeg = "\xFF\xD8\xFF\xE0";
    const std::vector<std::uint64_t> hits = {
        3, kBlock + 10, kBlock + 100, kBlock + 700, 2 * kBlock + 5, 3 * kBlock + 9};
    const std::uint64_t stuckHit = kBlock + 100;
    auto bytes = std::make_shared<std::string>(kBlock * 4 * 512, '\0');
    for (const std::uint64_t sector : hits)
        bytes->replace(sector * 512, jpeg.size(), jpeg);
    auto shared = std::make_shared<StallingDevice::Shared>();
    opener_->Add("/stuck.dsk", [bytes, shared, stuckHit] {
        return std::make_unique<StallingDevice>(bytes, stuckHit * 512, shared);
    });
    auto& computer = Computer(false);
    LoadShippedSignatures();
    std::atomic<int> scanners{0};
    computer.SetScannerFactory([&scanners](CVolume& volume) {
        ++scanners;
        return MakeSignatureScanner(volume);
    });
    computer.ScannerBlockWait = std::chrono::milliseconds(300);
    std::string error;
    CVolume* volume = computer.LoadImage("/stuck.dsk", error);
    ASSERT_NE(volume, nullptr) << error;
    // Without the watchdog only the read's own limit would free the scanner, late.
    volume->SetReadWaitLimit(std::chrono::seconds(20));

    app_->AnalysisRunning = true;
    computer.AnalyseSectors(*volume);

    EXPECT_TRUE(shared->stalled) << "the scanner read where it was to stall";
    EXPECT_EQ(scanners.load(), 2) << "the stuck scanner was replaced once";
    EXPECT_EQ(shared->blockReads[kBlock * 512], 2) << "its block was read again";
    EXPECT_EQ(shared->blockReads[0], 1);
    EXPECT_EQ(shared->blockReads[3 * kBlock * 512], 1);
    std::vector<std::uint64_t> starts;
    std::map<std::uint64_t, std::uint64_t> sizes;
    for (const FoundObject* object : volume->FoundObjectTree->ListedObjects()) {
        if (object->Is(filesystems::ObjectFlags::FoundBySignature)) {
            starts.push_back(object->Start);
            sizes[object->Start] = object->Size;
        }
    }
    std::vector<std::uint64_t> expected;
    for (const std::uint64_t sector : hits)
        expected.push_back(sector * 512);
    std::sort(starts.begin(), starts.end());
    EXPECT_EQ(starts, expected) << "every hit once, in and after the stuck block, in place";
    EXPECT_EQ(sizes[stuckHit * 512], (kBlock + 700 - stuckHit) * 512)
        << "the hit the scanner stuck on runs to the next one found";
    EXPECT_EQ(volume->ProgressPosition.load(), kBlock * 4);
    EXPECT_EQ(volume->VolumeState.load(), VolumeStatus::Ready);
}

}  // namespace
}  // namespace duzez::devices
