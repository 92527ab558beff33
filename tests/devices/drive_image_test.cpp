#include "devices/drive_image.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <fstream>
#include <future>

#include "platform/device_identity.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

// Stops the copy it watches after `limit` blocks.
class BlockCounter : public platform::MessageTarget {
  public:
    explicit BlockCounter(int limit = 0) : limit_(limit) {}
    bool Post(platform::Message message) override {
        if (message.id == WM_IMAGE_BLOCK_WRITTEN && ++blocks == limit_ && job != nullptr) {
            job->ImageRunning = false;
        }
        if (message.id == WM_IMAGE_ENDED)
            ++ended;
        return true;
    }
    std::int64_t Send(const platform::Message&) override { return 0; }
    int blocks = 0;
    int ended = 0;
    ImageJob* job = nullptr;

  private:
    int limit_;
};

class ImageTest : public test::MachineTest {
  protected:
    // `onOpen` runs on the copy's thread as it opens the drive.
    std::shared_ptr<CVolume> SourceOf(std::uint64_t sectors,
                                      std::function<bool(std::uint64_t)> bad = {},
                                      std::function<void()> onOpen = {}) {
        opener_->Add("/dev/card", [sectors, bad, onOpen, this] {
            if (onOpen)
                onOpen();
            return std::make_unique<test::ScriptedDevice>(
                sectors * 512,
                [bad](std::uint64_t offset, std::span<std::uint8_t> buffer) {
                    for (std::uint64_t s = 0; s < buffer.size() / 512; ++s) {
                        if (bad && bad(offset / 512 + s))
                            return platform::DeviceReadResult{
                                platform::DeviceReadResult::Status::Failed, 0, EIO};
                    }
                    for (std::size_t i = 0; i < buffer.size(); ++i)
                        buffer[i] = static_cast<std::uint8_t>((offset + i) / 512);
                    return platform::DeviceReadResult{platform::DeviceReadResult::Status::Ok,
                                                      buffer.size(), 0};
                },
                reads_);
        });
        auto volume = std::make_shared<CVolume>(Computer(false), VolumeKind::Physical);
        volume->DevicePath = "/dev/card";
        volume->Description = "Card";
        volume->TotalSize = sectors * 512;
        volume->TotalSectors = sectors;
        return volume;
    }
    // The byte of the image file `name` at the start of `sector`.
    int ByteAt(const std::string& name, std::uint64_t sector) {
        std::ifstream image(dir_ / name, std::ios::binary);
        image.seekg(static_cast<std::streamoff>(sector * 512));
        return image.get();
    }
    std::shared_ptr<std::atomic<int>> reads_ = std::make_shared<std::atomic<int>>(0);
};

TEST_F(ImageTest, TenThousandSectorsInThreeBlocks) {
    auto source = SourceOf(10000);
    auto counter = std::make_shared<BlockCounter>();
    std::string error;
    auto copy = CreateImage(*source, dir_ / "card.dsk", counter, false, error);
    ASSERT_TRUE(copy) << error;
    copy->Wait();
    EXPECT_EQ(std::filesystem::file_size(dir_ / "card.dsk"), 5120000u);
    EXPECT_EQ(counter->blocks, 3);
    EXPECT_EQ(counter->ended, 1);
    EXPECT_EQ(reads_->load(), 3);
    EXPECT_TRUE(copy->Job.Error.empty());
    EXPECT_EQ(ByteAt("card.dsk", 9999), 9999 % 256) << "sector k lies at byte k * 512";
}

TEST_F(ImageTest, CancelAfterThreeBlocksKeepsSixMebibytes) {
    auto source = SourceOf(100000);
    auto counter = std::make_shared<BlockCounter>(3);
    auto copy = std::make_unique<ImageCopy>();
    counter->job = &copy->Job;
    copy->Job.NotifyWindow = counter;
    copy->Job.SourceVolume = source.get();
    copy->Job.ImagePath = dir_ / "part.dsk";
    copy->Start();
    copy->Wait();
    EXPECT_EQ(std::filesystem::file_size(dir_ / "part.dsk"), 6u << 20);
}

// Cancel pressed, or Ctrl-C, while the copy is still opening the drive: the copy must not
// start over it.
TEST_F(ImageTest, AStopBeforeTheCopyBeginsHolds) {
    std::promise<void> stopped;
    auto source = SourceOf(100000, {}, [asked = stopped.get_future().share()] { asked.wait(); });
    std::string error;
    auto copy = CreateImage(*source, dir_ / "early.dsk", nullptr, false, error);
    ASSERT_TRUE(copy) << error;
    copy->Stop();
    stopped.set_value();
    copy->Wait();
    EXPECT_EQ(copy->Job.SectorsWritten.load(), 0u);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "early.dsk"), 0u);
}

TEST_F(ImageTest, UnreadableBlockEndsTheCopyUnlessSkipped) {
    const auto bad = [](std::uint64_t sector) { return sector >= 5000 && sector < 5010; };
    std::string error;
    auto plain = CreateImage(*SourceOf(10000, bad), dir_ / "plain.dsk", nullptr, false, error);
    plain->Wait();
    EXPECT_EQ(std::filesystem::file_size(dir_ / "plain.dsk"), 4096u * 512)
        << "the sectors before it";
    EXPECT_FALSE(plain->Job.Error.empty());
    const auto lines = computer_->Log().Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ERR: Image_Create: Can't read sector: 0x1000"),
              lines.end());

    auto skipping = CreateImage(*SourceOf(10000, bad), dir_ / "skip.dsk", nullptr, true, error);
    skipping->Wait();
    EXPECT_EQ(std::filesystem::file_size(dir_ / "skip.dsk"), 5120000u);
    EXPECT_EQ(test::ReadFile(dir_ / "skip.dsk.bad"), "5000 10\n");
    EXPECT_EQ(ByteAt("skip.dsk", 5005), 0) << "unreadable sectors are zeros";
    EXPECT_EQ(ByteAt("skip.dsk", 5010), 5010 % 256) << "the rest of the block is kept";
}

// A write that stops part-way (here a file-size limit standing for a full disk) must not
// be taken for a block written: the copy ends there and says the image is incomplete.
TEST_F(ImageTest, AnImageWhoseWritingFailsPartWayIsIncomplete) {
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 3 << 20;  // one and a half 2 MiB blocks
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string error;
    auto copy = CreateImage(*SourceOf(10000), dir_ / "cut.dsk", nullptr, false, error);
    ASSERT_NE(copy, nullptr) << error;
    copy->Wait();
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previousHandler);
    EXPECT_NE(copy->Job.Error.find("cannot write the image file"), std::string::npos)
        << copy->Job.Error;
    EXPECT_EQ(copy->Job.SectorsWritten.load(), (3u << 20) / 512);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "cut.dsk"), 3u << 20)
        << "nothing written after the failed block";
}

TEST_F(ImageTest, AnImageIsWrittenToANewFileOnly) {
    auto source = SourceOf(100);
    test::WriteFile(dir_ / "taken.dsk", "precious");
    std::string error;
    EXPECT_FALSE(CreateImage(*source, dir_ / "taken.dsk", nullptr, false, error));
    EXPECT_NE(error.find("exists"), std::string::npos);
    EXPECT_EQ(test::ReadFile(dir_ / "taken.dsk"), "precious");
    EXPECT_TRUE(platform::PathLiesOnSource(dir_ / "taken.dsk", dir_ / "taken.dsk"));
    EXPECT_FALSE(platform::PathLiesOnSource(dir_ / "other.dsk", dir_ / "taken.dsk"));

    // Skipping bad sectors writes "<image>.bad" as well: a file or a link of that name is
    // never truncated or followed, so the copy does not start.
    test::WriteFile(dir_ / "kept.dsk.bad", "precious");
    std::filesystem::create_symlink(dir_ / "elsewhere", dir_ / "linked.dsk.bad");
    for (const char* image : {"kept.dsk", "linked.dsk"}) {
        EXPECT_FALSE(CreateImage(*source, dir_ / image, nullptr, true, error)) << image;
        EXPECT_NE(error.find(".bad' exists"), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(dir_ / image));
    }
    EXPECT_EQ(test::ReadFile(dir_ / "kept.dsk.bad"), "precious");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "elsewhere"));
}

TEST_F(ImageTest, SmallFileLoadsAsOneSector) {
    test::WriteFile(dir_ / "tiny.dsk", std::string(1000, 'x'));
    std::string error;
    CVolume* volume =
        Computer(false, platform::MakeLocalDeviceOpener()).LoadImage(dir_ / "tiny.dsk", error);
    ASSERT_NE(volume, nullptr) << error;
    EXPECT_EQ(volume->TotalSectors, 1u);
    EXPECT_EQ(volume->TotalSize, 1000u);
    EXPECT_EQ(volume->DriveType, DriveCategory::OsFile);
    EXPECT_EQ(volume->VolumeState.load(), VolumeStatus::Ready);
    EXPECT_EQ(Computer().Volumes().GetAt(0), volume);
    EXPECT_EQ(Computer().LoadImage(dir_ / "missing.dsk", error), nullptr);
    // The same file again, by another spelling of its path, is the volume already listed.
    const std::size_t listed = Computer().Volumes().GetCount();
    EXPECT_EQ(Computer().LoadImage(dir_ / "." / "tiny.dsk", error), volume);
    EXPECT_EQ(Computer().Volumes().GetCount(), listed);
}

// The name the image dialog proposes: the drive, and its label in brackets when it has
// one. A label is read from the disk and must not make the name a path or unprintable.
TEST_F(ImageTest, TheProposedNameNamesTheDriveAndItsLabel) {
    EXPECT_EQ(ProposedImageName("E", "CARD"), "Image from drive E (CARD)");
    EXPECT_EQ(ProposedImageName("E", ""), "Image from drive E");
    EXPECT_EQ(ProposedImageName("sdb1", "CARD       "), "Image from drive sdb1 (CARD)")
        << "FAT pads its labels with blanks";
    EXPECT_EQ(ProposedImageName("sdb1", "   "), "Image from drive sdb1");
    EXPECT_EQ(ProposedImageName("mmcblk0p1", "Urlaub \xc3\xa9t\xc3\xa9"),
              "Image from drive mmcblk0p1 (Urlaub \xc3\xa9t\xc3\xa9)");

    auto source = SourceOf(100);
    source->DriveLetter = 'E';
    source->VolumeLabel = "CARD";
    EXPECT_EQ(ProposedImageName(*source), "Image from drive E (CARD)");
    source->DriveLetter = '1';  // a disk's number, no letter
    source->KernelName = "sdc";
    source->VolumeLabel.clear();
    EXPECT_EQ(ProposedImageName(*source), "Image from drive sdc");
    source->KernelName.clear();
    source->VolumeType = VolumeKind::Image;
    source->DevicePath = "/home/u/cards/holiday.dsk";
    source->VolumeLabel = "NIKON D70";
    EXPECT_EQ(ProposedImageName(*source), "Image from drive holiday (NIKON D70)");
}

TEST_F(ImageTest, AHostileLabelStillGivesOnePlainFileName) {
    const auto plain = [](const std::string& name) {
        if (name == "." || name == ".." || name.empty())
            return false;
        for (unsigned char c : name) {
            if (c == '/' || c < 0x20 || c == 0x7F)
                return false;
        }
        return name.size() + 4 <= 255;  // with ".dsk"
    };
    EXPECT_EQ(ProposedImageName("E", "../../etc/passwd"), "Image from drive E (.._.._etc_passwd)");
    EXPECT_EQ(ProposedImageName("E", std::string("a\nb\x1b[31m\x7f\0c", 11)),
              "Image from drive E (a_b_[31m__c)");
    EXPECT_EQ(ProposedImageName("E", "x\xc2\x85y"), "Image from drive E (x_y)") << "C1 control";
    EXPECT_EQ(ProposedImageName("E", "\xff\xfe\xc3(\xed\xa0\x80"), "Image from drive E (___(___)")
        << "bytes that are no UTF-8";
    EXPECT_EQ(ProposedImageName("../x", "."), "Image from drive .._x (.)");
    for (const std::string& label :
         {std::string(300, 'L'), std::string(100, '/'), std::string("..")}) {
        const std::string name = ProposedImageName("sdb1", label);
        EXPECT_TRUE(plain(name)) << name;
        EXPECT_EQ(name.back(), ')') << "shortened inside the brackets";
    }
    // A label of two-byte characters is never cut inside one.
    std::string accents;
    for (int i = 0; i < 200; ++i)
        accents += "\xc3\xa9";
    const std::string name = ProposedImageName("sdb1", accents);
    EXPECT_TRUE(plain(name));
    EXPECT_EQ(name.size() % 2, 0u) << "\"Image from drive sdb1 ()\" is 24 bytes, then pairs";
    EXPECT_EQ(name.substr(name.size() - 3), "\xc3\xa9)");

    auto source = SourceOf(100);
    source->VolumeLabel = "a/b";
    source->KernelName = "sdd\x01";
    EXPECT_EQ(ProposedImageName(*source), "Image from drive sdd_ (a_b)");
}

}  // namespace
}  // namespace duzez::devices
