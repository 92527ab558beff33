#include <gtest/gtest.h>

#include <thread>

#include "core/window_messages.h"
#include "devices/chunk_scanner.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

using core::WM_APP;

// Counts what it is handed; optionally takes its time with each block.
class ScriptedScanner : public ChunkScanner {
  public:
    ScriptedScanner(std::vector<std::uint32_t>& chunks, std::chrono::milliseconds delay)
        : chunks_(chunks), delay_(delay) {}
    std::span<std::uint8_t> Buffer() override { return buffer_; }
    void StartChunk(std::uint64_t, std::uint32_t sectors) override { chunks_.push_back(sectors); }
    bool WaitChunkDone(std::chrono::milliseconds) override {
        std::this_thread::sleep_for(delay_);
        return true;
    }

  private:
    std::vector<std::uint32_t>& chunks_;
    std::chrono::milliseconds delay_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(kBlockSectors * 512);
};

class DriverTest : public test::MachineTest {
  protected:
    std::shared_ptr<CVolume> Volume(const std::string& path, std::uint64_t sectors) {
        opener_->Add(path, [sectors, this] {
            return std::make_unique<test::ScriptedDevice>(
                sectors * 512,
                [](std::uint64_t, std::span<std::uint8_t> buffer) {
                    return platform::DeviceReadResult{platform::DeviceReadResult::Status::Ok,
                                                      buffer.size(), 0};
                },
                reads_);
        });
        auto volume = std::make_shared<CVolume>(Computer(false), VolumeKind::Physical);
        volume->DevicePath = path;
        volume->Description = path;
        volume->TotalSize = sectors * 512;
        volume->TotalSectors = sectors;
        volume->Id = computer_->NextId();
        computer_->Volumes().Append(volume);
        computer_->SetScannerFactory(
            [this](CVolume&) { return std::make_unique<ScriptedScanner>(chunks_, scannerDelay_); });
        return volume;
    }

    std::vector<std::uint32_t> Ids(std::uint32_t from, std::uint32_t to) {
        std::vector<std::uint32_t> ids;
        for (const auto& m : window_->Messages()) {
            if (m.id >= from && m.id <= to)
                ids.push_back(m.id);
        }
        return ids;
    }

    bool WaitUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::shared_ptr<std::atomic<int>> reads_ = std::make_shared<std::atomic<int>>(0);
    std::vector<std::uint32_t> chunks_;
    std::chrono::milliseconds scannerDelay_{0};
    std::shared_ptr<platform::MessageRecorder> window_ =
        std::make_shared<platform::MessageRecorder>();
};

TEST_F(DriverTest, SectorPhaseReadsTheVolumeInBlocks) {
    auto volume = Volume("/dev/big", 2000000);
    app_->AnalysisRunning = true;
    computer_->AnalyseSectors(*volume);
    const std::uint64_t blocks =
        (2000000 + ChunkScanner::kBlockSectors - 1) / ChunkScanner::kBlockSectors;
    EXPECT_EQ(static_cast<std::uint64_t>(reads_->load()), blocks);
    ASSERT_EQ(chunks_.size(), blocks);
    EXPECT_EQ(chunks_.front(), ChunkScanner::kBlockSectors);
    EXPECT_EQ(chunks_.back(), 2000000 - (blocks - 1) * ChunkScanner::kBlockSectors);
    EXPECT_EQ(volume->ProgressPosition.load(), 2000000u);
    EXPECT_EQ(volume->ProgressEnd.load(), 2000000u);
    EXPECT_EQ(volume->VolumeState.load(), VolumeStatus::Ready);
    EXPECT_FALSE(volume->IsOpen()) << "the phase closes the handle";
    EXPECT_TRUE(volume->FoundObjectTree->StartIndexOn());
}

TEST_F(DriverTest, WholeAnalysisPostsItsMessagesInOrder) {
    app_->SetMainWindow(window_);
    app_->Settings().SetContinueWithSectors(true);
    auto volume = Volume("/dev/blank", 50000);
    computer_->StartAnalysis(*volume);
    ASSERT_TRUE(WaitUntil([&] { return !window_->MessagesWithId(WM_APP + 111).empty(); }));
    EXPECT_EQ(Ids(WM_APP + 106, WM_APP + 509),
              (std::vector<std::uint32_t>{WM_APP + 106, WM_APP + 107, WM_APP + 106, WM_APP + 509,
                                          WM_APP + 108, WM_APP + 111}));
    const auto status = window_->MessagesWithId(WM_APP + 106);
    EXPECT_EQ(status[0].wParam, 57211u);
    EXPECT_EQ(status[1].wParam, 57311u);
    const auto lines = computer_->Log().Lines();
    const auto has = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(has("Initializing drive /dev/blank"));
    EXPECT_TRUE(has("Beginning file system analysis."));
    EXPECT_TRUE(has("No file system detected! File system analysis skipped."));
    EXPECT_TRUE(has("Analysis completed. Found 0 folder(s) and 0 file(s)."));
    EXPECT_TRUE(has("Starting drive sector analysis, searching for lost files."));
    EXPECT_EQ(volume->VolumeState.load(), VolumeStatus::Ready);
    EXPECT_FALSE(app_->IsBusy());
    EXPECT_TRUE(computer_->AnalysisQueue().empty());
    ASSERT_TRUE(WaitUntil([&] { return !volume->AnalysisThreadAlive(); }));
    // The boot area is an object of the tree.
    std::vector<filesystems::FoundObject*> listed = volume->FoundObjectTree->ListedObjects();
    EXPECT_NE(std::find(listed.begin(), listed.end(), &volume->BootObject), listed.end());
}

TEST_F(DriverTest, ASecondVolumeWaitsInTheQueue) {
    scannerDelay_ = std::chrono::milliseconds(20);
    app_->Settings().SetContinueWithSectors(true);
    auto first = Volume("/dev/first", 3000000);
    auto second = Volume("/dev/second", 1000);
    computer_->StartAnalysis(*first);
    computer_->StartAnalysis(*second);
    EXPECT_EQ(computer_->AnalysisQueue(), (std::vector<CVolume*>{first.get(), second.get()}));
    EXPECT_FALSE(second->AnalysisThreadAlive()) << "no second thread";
    ASSERT_TRUE(WaitUntil([&] { return first->VolumeState == VolumeStatus::SectorPhase; }));
    computer_->StartAnalysis(*first);  // a volume in its sector phase is not started again
    // Phase threads run at the lowest priority; on a loaded machine they may need more
    // than the second of grace to notice, which is not what this test is about.
    computer_->StopGrace = std::chrono::seconds(30);
    EXPECT_TRUE(computer_->StopAnalysis(*first, true));
    EXPECT_EQ(computer_->AnalysisQueue(), std::vector<CVolume*>{second.get()});
    EXPECT_FALSE(first->AnalysisThreadAlive()) << "the stop was honoured within the grace period";
    const auto lines = computer_->Log().Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Analysis of /dev/first stoped"), 0);
}

TEST_F(DriverTest, DeclinedStopChangesNothing) {
    scannerDelay_ = std::chrono::milliseconds(20);
    auto volume = Volume("/dev/slow", 3000000);
    computer_->SetQuestionAnswerer([](core::StringId caption, core::StringId text) {
        EXPECT_EQ(caption, core::StringId::Confirmation);
        EXPECT_EQ(text, core::StringId::ConfirmStopScanning);
        return false;
    });
    computer_->StartSectorAnalysis(*volume, false);
    ASSERT_TRUE(WaitUntil([&] { return volume->VolumeState == VolumeStatus::SectorPhase; }));
    EXPECT_FALSE(computer_->StopAnalysis(*volume, false));
    EXPECT_EQ(volume->VolumeState.load(), VolumeStatus::SectorPhase);
    EXPECT_TRUE(app_->IsBusy());
    EXPECT_TRUE(computer_->StopAnalysis(*volume, true));
    ASSERT_TRUE(WaitUntil([&] { return !volume->AnalysisThreadAlive(); }));
}

TEST_F(DriverTest, DurationsInMinutesAndSeconds) {
    Computer(false);
    LogAnalysisDuration(computer_->Log(), std::chrono::milliseconds(125000));
    EXPECT_EQ(computer_->Log().Lines().back(), "Analysis duration: 2 minute(s), 5 second(s).");
}

}  // namespace
}  // namespace duzez::devices
