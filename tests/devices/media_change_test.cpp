// A card pulled during an analysis: every phase waits for it instead of failing read
// after read, and the same card put back, under whatever kernel name, is reopened and the
// analysis completes.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

// The medium in a card reader: present or not; its device fails every read while away.
// One read can be held, so that the card is pulled while the analysis is inside a read.
struct Card {
    explicit Card(std::string image) : bytes(std::move(image)) {}
    const std::string bytes;
    std::mutex mutex;
    std::condition_variable changed;
    bool present = true;
    int reads = 0;
    int readsWhileAway = 0;
    int holdAt = -1;  // the read number to hold
    bool holding = false;
    bool released = false;

    // The card taken out; a held read goes on (and fails).
    void Pull() {
        std::lock_guard lock(mutex);
        present = false;
        released = true;
        changed.notify_all();
    }
    int ReadsWhileAway() {
        std::lock_guard lock(mutex);
        return readsWhileAway;
    }
};

class CardDevice : public platform::BlockDevice {
  public:
    explicit CardDevice(std::shared_ptr<Card> card) : card_(std::move(card)) {}
    platform::DeviceReadResult ReadAt(std::uint64_t offset,
                                      std::span<std::uint8_t> buffer) override {
        std::unique_lock lock(card_->mutex);
        if (++card_->reads == card_->holdAt) {
            card_->holding = true;
            card_->changed.notify_all();
            card_->changed.wait_for(lock, std::chrono::seconds(30),
                                    [this] { return card_->released; });
            card_->holding = false;
        }
        if (!card_->present) {
            ++card_->readsWhileAway;
            return {platform::DeviceReadResult::Status::Failed, 0, ENOMEDIUM};
        }
        if (offset >= card_->bytes.size())
            return {platform::DeviceReadResult::Status::Ok, 0, 0};
        const std::size_t n = std::min<std::uint64_t>(buffer.size(), card_->bytes.size() - offset);
        std::memcpy(buffer.data(), card_->bytes.data() + offset, n);
        return {platform::DeviceReadResult::Status::Ok, n, 0};
    }
    std::uint64_t SizeBytes() const override { return card_->bytes.size(); }

  private:
    std::shared_ptr<Card> card_;
};

class MediaChangeTest : public test::MachineTest {
  protected:
    // A FAT card image with a folder of photos; empty when a tool is missing.
    std::string MakeCard(const std::string& name, const std::string& label) {
        const auto image = dir_ / name;
        if (!test::HaveTool("mcopy") || !test::MakeFatImage(image, 2048, label))
            return {};
        const std::string i = "-i '" + image.string() + "' ";
        if (!test::RunCommand("mmd " + i + "::DCIM"))
            return {};
        for (int n = 1; n <= 6; ++n) {
            const auto photo = dir_ / ("p" + std::to_string(n));
            test::WriteFile(photo, "\xFF\xD8\xFF\xE0" + test::Pattern(5000 * n, n));
            if (!test::RunCommand("mcopy " + i + "'" + photo.string() + "' ::DCIM/IMG_000" +
                                  std::to_string(n) + ".JPG")) {
                return {};
            }
        }
        return test::ReadFile(image);
    }

    static std::map<std::string, std::uint64_t> Sizes(CVolume& volume) {
        std::map<std::string, std::uint64_t> sizes;
        for (const auto& [path, object] : Listing(volume))
            sizes[path] = object->Size;
        return sizes;
    }

    bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
};

TEST_F(MediaChangeTest, PulledCardPausesTheFileSystemPhaseAndReturnsUnderAnotherName) {
    const std::string image = MakeCard("card.img", "HOLIDAY");
    const std::string other = MakeCard("other.img", "OTHER");
    if (image.empty() || other.empty())
        GTEST_SKIP() << "mkfs.fat or mtools is not installed";
    constexpr std::uint64_t kSectors = 4096;  // the 2 MiB card image
    system_.AddDisk("sdb", 2048 + kSectors, true, "Generic", "SD Reader");
    system_.AddPartition("sdb", "sdb1", 1, 2048, kSectors);
    test::WriteFile(system_.dev() / "sdb1", image);  // what the information query probes
    auto card = std::make_shared<Card>(image);
    opener_->Add((system_.dev() / "sdb1").string(),
                 [card] { return std::make_unique<CardDevice>(card); });
    auto& computer = Computer();
    CVolume* sdb1 = computer.Volumes().GetAt(1);
    ASSERT_NE(sdb1, nullptr);
    ASSERT_EQ(sdb1->KernelName, "sdb1");
    ASSERT_FALSE(sdb1->Identity().fileSystemUuid.empty()) << "the card's UUID, from libblkid";

    // The card is pulled while the analysis is inside its second read.
    {
        std::lock_guard lock(card->mutex);
        card->holdAt = card->reads + 2;
    }
    computer.StartFileSystemAnalysis(*sdb1);
    {
        std::unique_lock lock(card->mutex);
        ASSERT_TRUE(
            card->changed.wait_for(lock, std::chrono::seconds(30), [&] { return card->holding; }));
    }
    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Removed, "sdb1"});
    card->Pull();
    EXPECT_EQ(sdb1->VolumeState.load(), VolumeStatus::NotReady);
    ASSERT_TRUE(WaitFor([&] { return card->ReadsWhileAway() >= 1; }));

    // Another card in the same slot, under the old name, is not this one.
    test::WriteFile(system_.dev() / "sdb1", other);
    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Arrived, "sdb1"});
    EXPECT_EQ(sdb1->VolumeState.load(), VolumeStatus::NotReady);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(card->ReadsWhileAway(), 1) << "the phase waits, it does not read on";
    EXPECT_TRUE(sdb1->AnalysisThreadAlive());
    EXPECT_TRUE(ErrorLines().empty()) << testing::PrintToString(ErrorLines());

    // The card comes back as sdc.
    system_.AddDisk("sdc", 2048 + kSectors, true, "Generic", "SD Reader");
    system_.AddPartition("sdc", "sdc1", 1, 2048, kSectors);
    test::WriteFile(system_.dev() / "sdc1", image);
    opener_->Add((system_.dev() / "sdc1").string(), [card] {
        std::lock_guard lock(card->mutex);
        card->present = true;  // a new descriptor on the card that is back
        return std::make_unique<CardDevice>(card);
    });
    const int opensBefore = opener_->opens.load();
    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Arrived, "sdc1"});
    ASSERT_TRUE(sdb1->WaitForAnalysisThread(std::chrono::seconds(30)));
    EXPECT_EQ(sdb1->KernelName, "sdc1");
    EXPECT_EQ(sdb1->DevicePath, (system_.dev() / "sdc1").string());
    EXPECT_EQ(sdb1->VolumeState.load(), VolumeStatus::Ready);
    EXPECT_GT(opener_->opens.load(), opensBefore) << "reopened, not read through the old one";
    EXPECT_TRUE(ErrorLines().empty()) << testing::PrintToString(ErrorLines());

    const auto interrupted = Sizes(*sdb1);
    EXPECT_EQ(interrupted.size(), 7u) << testing::PrintToString(interrupted);
    EXPECT_EQ(interrupted.count("/DCIM/IMG_0006.JPG"), 1u) << testing::PrintToString(interrupted);
    // The listing of an analysis nothing interrupted.
    computer.StartFileSystemAnalysis(*sdb1);
    ASSERT_TRUE(sdb1->WaitForAnalysisThread(std::chrono::seconds(30)));
    EXPECT_EQ(Sizes(*sdb1), interrupted);
}

TEST_F(MediaChangeTest, AStopReleasesAnAnalysisWaitingForItsCard) {
    const std::string image = MakeCard("card.img", "HOLIDAY");
    if (image.empty())
        GTEST_SKIP() << "mkfs.fat or mtools is not installed";
    system_.AddDisk("sdb", 8192, true);
    system_.AddPartition("sdb", "sdb1", 1, 2048, 4096);
    test::WriteFile(system_.dev() / "sdb1", image);
    auto card = std::make_shared<Card>(image);
    opener_->Add((system_.dev() / "sdb1").string(),
                 [card] { return std::make_unique<CardDevice>(card); });
    auto& computer = Computer();
    CVolume* sdb1 = computer.Volumes().GetAt(1);
    ASSERT_EQ(sdb1->KernelName, "sdb1");
    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Removed, "sdb1"});
    card->Pull();
    computer.StartFileSystemAnalysis(*sdb1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(sdb1->AnalysisThreadAlive()) << "waiting for the card";
    EXPECT_TRUE(computer.StopAnalysis(*sdb1, true));
    EXPECT_TRUE(sdb1->WaitForAnalysisThread(std::chrono::seconds(10)));
    EXPECT_EQ(card->ReadsWhileAway(), 0);
}

// The same with a real block device: a loop device detached and the image attached
// again as another loop device.
class LoopDevice {
  public:
    explicit LoopDevice(const std::filesystem::path& image) {
        name_ = test::CommandOutput("losetup -f --show '" + image.string() + "' 2>/dev/null");
        while (!name_.empty() && (name_.back() == '\n' || name_.back() == ' '))
            name_.pop_back();
    }
    ~LoopDevice() { Detach(); }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    bool Attached() const { return name_.rfind("/dev/loop", 0) == 0; }
    std::string KernelName() const { return name_.substr(5); }
    const std::string& Path() const { return name_; }
    void Detach() {
        if (Attached())
            test::RunCommand("losetup -d " + name_);
        name_.clear();
    }

  private:
    std::string name_;
};

TEST_F(MediaChangeTest, ALoopDeviceDetachedAndAttachedAgainIsFollowed) {
    const std::string bytes = MakeCard("loop.img", "LOOPCARD");
    if (bytes.empty() || !test::HaveTool("losetup"))
        GTEST_SKIP() << "mkfs.fat, mtools or losetup is not installed";
    auto first = std::make_unique<LoopDevice>(dir_ / "loop.img");
    if (!first->Attached())
        GTEST_SKIP() << "no loop device can be attached here (needs root and /dev/loop*)";

    devices::LocalComputerOptions options;  // this machine's /sys and /dev
    options.listDrives = false;
    options.followMediaChanges = false;
    computer_ = std::make_unique<devices::CLocalComputer>(*app_, std::move(options));
    computer_->Log().SetTimestamps(false);
    auto volume = std::make_shared<CVolume>(*computer_, VolumeKind::Logical);
    volume->KernelName = first->KernelName();
    volume->DevicePath = first->Path();
    volume->RootPath = first->Path();
    volume->Id = computer_->NextId();
    computer_->Volumes().Append(volume);
    volume->QueryInformation();
    ASSERT_FALSE(volume->Identity().fileSystemUuid.empty());
    ASSERT_EQ(volume->FileSystem->FileSystemId, filesystems::FileSystemIds::Fat12);

    // Pulled before the phase reads: it waits from its first read on.
    computer_->Volumes().OnDeviceChange({platform::MediaEvent::Kind::Removed, first->KernelName()});
    computer_->StartFileSystemAnalysis(*volume);
    // Attached anew while the old device is still in use, so that it gets another name.
    LoopDevice second(dir_ / "loop.img");
    ASSERT_TRUE(second.Attached());
    first->Detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(volume->AnalysisThreadAlive()) << "waiting for the card";
    EXPECT_TRUE(ErrorLines().empty()) << testing::PrintToString(ErrorLines());

    computer_->Volumes().OnDeviceChange({platform::MediaEvent::Kind::Arrived, second.KernelName()});
    ASSERT_TRUE(volume->WaitForAnalysisThread(std::chrono::seconds(30)));
    EXPECT_EQ(volume->KernelName, second.KernelName());
    EXPECT_TRUE(ErrorLines().empty()) << testing::PrintToString(ErrorLines());
    const auto listed = Sizes(*volume);
    EXPECT_EQ(listed.size(), 7u) << testing::PrintToString(listed);
    EXPECT_EQ(listed.count("/DCIM/IMG_0003.JPG"), 1u);
    computer_.reset();  // before the loop devices go
}

}  // namespace
}  // namespace duzez::devices
