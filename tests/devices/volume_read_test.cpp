#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "devices/volume.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

using platform::DeviceReadResult;
using Status = platform::DeviceReadResult::Status;

class VolumeReadTest : public test::MachineTest {
  protected:
    // A disk volume of `size` bytes on the device `path`.
    std::shared_ptr<CVolume> DiskAt(const std::string& path, const std::string& description,
                                    std::uint64_t size) {
        auto volume = std::make_shared<CVolume>(Computer(false), VolumeKind::Physical);
        volume->DevicePath = path;
        volume->Description = description;
        volume->TotalSize = size;
        return volume;
    }
    // A disk volume on "/dev/fake" whose device answers with `answer`.
    std::shared_ptr<CVolume> DiskWith(test::ScriptedDevice::Answer answer,
                                      std::uint64_t size = 1 << 20) {
        opener_->Add("/dev/fake", [=, this] {
            return std::make_unique<test::ScriptedDevice>(size, answer, reads_);
        });
        return DiskAt("/dev/fake", "Fake disk", size);
    }

    static DeviceReadResult Fill(std::span<std::uint8_t> buffer, std::size_t count) {
        std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count), 0xAB);
        return {Status::Ok, count, 0};
    }

    void SetRetries(std::uint32_t retries) {
        app_->Settings().SetWord(core::CSettings::kReadRetryAttempts, retries);
    }

    std::shared_ptr<std::atomic<int>> reads_ = std::make_shared<std::atomic<int>>(0);
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(8 * 512, 0x55);
};

TEST_F(VolumeReadTest, CountZeroReadsNothingAndOpensNothing) {
    auto volume = DiskWith([](auto, auto buffer) { return Fill(buffer, buffer.size()); });
    EXPECT_EQ(volume->ReadSectors(buffer_, 0, std::uint64_t{0}), 0u);
    EXPECT_EQ(volume->ReadSectors(buffer_, 0, std::int32_t{-3}), 0u);
    EXPECT_EQ(opener_->opens.load(), 0);
    EXPECT_FALSE(volume->IsOpen());
}

TEST_F(VolumeReadTest, StartBeyondTheEndIsRefusedSilentlyButTheEndItselfIsRead) {
    auto volume = DiskWith([](auto, auto buffer) { return Fill(buffer, 0); }, 4096);
    EXPECT_EQ(volume->ReadSectors(buffer_, 9, std::uint64_t{1}), 0u);  // 4608 > 4096
    EXPECT_EQ(reads_->load(), 0);
    EXPECT_TRUE(ErrorLines().empty());
    volume->ReadSectors(buffer_, 8, std::uint64_t{1});  // exactly at the end: attempted
    EXPECT_GE(reads_->load(), 1);
}

TEST_F(VolumeReadTest, ShortReadsAreRetriedAndTheLastShortCountReturned) {
    SetRetries(2);
    int call = 0;
    auto volume = DiskWith([&call](auto, auto buffer) { return Fill(buffer, 512 + 100 * call++); });
    EXPECT_EQ(volume->ReadSectors(buffer_, 0, std::uint64_t{4}), 712u);
    EXPECT_EQ(reads_->load(), 3);
    EXPECT_EQ(buffer_[711], 0xAB);
    EXPECT_TRUE(std::all_of(buffer_.begin() + 712, buffer_.begin() + 2048, [](auto b) {
        return b == 0;
    })) << "the part that was not read is zero";
    EXPECT_EQ(buffer_[2048], 0x55) << "nothing beyond the requested sectors is touched";
    EXPECT_TRUE(ErrorLines().empty());
}

TEST_F(VolumeReadTest, RetryCountZeroMeansOneAttempt) {
    SetRetries(0);
    auto volume = DiskWith([](auto, auto buffer) { return Fill(buffer, 10); });
    EXPECT_EQ(volume->ReadSectors(buffer_, 0, std::uint64_t{1}), 10u);
    EXPECT_EQ(reads_->load(), 1);
}

TEST_F(VolumeReadTest, HardFailureIsReadOnceAndLoggedOnce) {
    SetRetries(5);
    auto volume = DiskWith([](auto, auto) { return DeviceReadResult{Status::Failed, 0, EIO}; });
    EXPECT_EQ(volume->ReadSectors(buffer_, 3, std::uint64_t{2}), 0u);
    EXPECT_EQ(reads_->load(), 1);
    ASSERT_EQ(ErrorLines().size(), 1u);
    EXPECT_EQ(ErrorLines()[0], "ERR: Volume Fake disk at position 1536 not read, retry 1");
}

TEST_F(VolumeReadTest, HangIsCutAtTheWaitLimit) {
    opener_->Add("/dev/hang", [] { return std::make_unique<test::HangingDevice>(); });
    auto volume = DiskAt("/dev/hang", "Hung disk", 1 << 20);
    volume->SetReadWaitLimit(std::chrono::milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(volume->ReadSectors(buffer_, 0, std::uint64_t{1}), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_EQ(ErrorLines().size(), 1u);
    EXPECT_NE(ErrorLines()[0].find("not read, retry 1"), std::string::npos);
}

TEST_F(VolumeReadTest, OpenFailureIsLoggedWithTheSystemText) {
    auto volume = DiskAt("/dev/absent", "", 4096);
    EXPECT_EQ(volume->ReadSectors(buffer_, 0, std::uint64_t{1}), 0u);
    ASSERT_EQ(ErrorLines().size(), 1u);
    EXPECT_EQ(ErrorLines()[0],
              "ERR: Can't open volume '/dev/absent', System Error: No such file or directory");
}

TEST_F(VolumeReadTest, BufferTooSmallForTheCountIsRefused) {
    auto volume = DiskWith([](auto, auto buffer) { return Fill(buffer, buffer.size()); });
    std::vector<std::uint8_t> small(512);
    EXPECT_EQ(volume->ReadSectors(small, 0, std::uint64_t{2}), 0u);
    EXPECT_EQ(reads_->load(), 0);
}

class VolumeFileTest : public test::MachineTest {
  protected:
    std::filesystem::path MakeImage(std::size_t bytes) {
        const auto file = dir_ / "disk.img";
        std::vector<char> data(bytes);
        std::mt19937 random(7);
        for (auto& b : data)
            b = static_cast<char>(random());
        std::ofstream(file, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(data.size()));
        data_.assign(data.begin(), data.end());
        return file;
    }
    // Whether `bytes` are the image's bytes from `offset` on.
    bool ImageHas(const std::vector<std::uint8_t>& bytes, std::uint64_t offset) const {
        return std::equal(bytes.begin(), bytes.end(),
                          data_.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    std::vector<std::uint8_t> data_;
};

TEST_F(VolumeFileTest, ImageReadSectorBySectorMatchesTheFile) {
    const auto file = MakeImage(3 * 1024 * 1024 + 512);
    std::string error;
    auto image = Computer(false, platform::MakeLocalDeviceOpener()).CreateImageVolume(file, error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->TotalSize, data_.size());
    EXPECT_EQ(image->GetDisplayName(), "disk.img");
    std::vector<std::uint8_t> sector(512);
    for (std::uint64_t s = 0; s * 512 < data_.size(); ++s) {
        ASSERT_EQ(image->ReadSectors(sector, s, std::uint64_t{1}), 512u) << s;
        ASSERT_TRUE(ImageHas(sector, s * 512)) << s;
    }
    // One block across the end of the file: the bytes that exist, then zeros.
    std::vector<std::uint8_t> block(4 * 512, 0xFF);
    EXPECT_EQ(image->ReadSectors(block, data_.size() / 512 - 2, std::uint64_t{4}), 1024u);
    EXPECT_EQ(block[1024], 0);
}

TEST_F(VolumeFileTest, FoundVolumeReadsThroughItsOwnHandleWithItsOffset) {
    const auto file = MakeImage(4 * 1024 * 1024);
    auto& computer = Computer(false, platform::MakeLocalDeviceOpener());
    auto disk = std::make_shared<CVolume>(computer, VolumeKind::Physical);
    disk->DevicePath = file.string();
    disk->TotalSize = data_.size();
    auto found = std::make_shared<CVolume>(computer, VolumeKind::Found);
    found->ParentVolume = disk.get();
    found->StartOffset = 1048576;
    found->TotalSize = 2 * 1048576;
    EXPECT_EQ(found->GetDisplayName(), "Volume at: 1048576");
    EXPECT_EQ(found->GetDevicePath(), file.string());

    std::vector<std::uint8_t> sector(512);
    ASSERT_EQ(found->ReadSectors(sector, 0, std::uint64_t{1}), 512u);
    EXPECT_TRUE(ImageHas(sector, 1048576));
    EXPECT_TRUE(found->IsOpen());
    EXPECT_FALSE(disk->IsOpen()) << "the parent's handle is not borrowed";
    // The last sector of the found volume lies beyond TotalSize as a device offset, but
    // inside the volume: it is read.
    const std::uint64_t last = found->TotalSize / 512 - 1;
    ASSERT_EQ(found->ReadSectors(sector, last, std::uint64_t{1}), 512u);
    EXPECT_TRUE(ImageHas(sector, 1048576 + last * 512));
}

// A fresh computer that lists no drives: its first ids and a new volume's defaults.
class VolumeFields : public test::MachineTest {};

TEST_F(VolumeFields, ClusterToSectorProgressAndNames) {
    CLocalComputer& computer = Computer(false);
    EXPECT_EQ(computer.NextId(), 0xFFFFFFFFFFFEFFFFull);
    EXPECT_EQ(computer.NextId(), 0xFFFFFFFFFFFEFFFEull);

    CVolume volume(computer, VolumeKind::Logical);
    EXPECT_EQ(volume.VolumeState.load(), VolumeStatus::NotReady);
    EXPECT_EQ(volume.ParentId, NodeId::ComputerRoot);
    EXPECT_EQ(volume.GetParentVolume(), nullptr);
    EXPECT_EQ(volume.DeviceNumberInfo.DeviceNumber, 0xFFFFFFFFu);
    EXPECT_EQ(volume.FileSystem->FileSystemName, "Unknown");
    EXPECT_EQ(volume.ClusterToSector(0), ~0ull);
    volume.SectorsPerCluster = 8;
    EXPECT_EQ(volume.ClusterToSector(3), 24u);
    volume.SectorsPerCluster = 0;
    EXPECT_EQ(volume.ClusterToSector(3), ~0ull);
    EXPECT_EQ(volume.SetProgressPosition(100), 100u);
    EXPECT_EQ(volume.SetProgressPosition(~0ull), 100u);
    EXPECT_EQ(volume.SetProgressEnd(~0ull), 0u);

    volume.KernelName = "sde1";
    volume.VolumeLabel = "  Photos  ";
    EXPECT_EQ(volume.GetDisplayName(), "sde1 (Photos)");
    volume.VolumeLabel = "   ";
    EXPECT_EQ(volume.GetDisplayName(), "sde1");
}

}  // namespace
}  // namespace duzez::devices
