#include <gtest/gtest.h>

#include <thread>

#include "core/window_messages.h"
#include "devices/volume.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::devices {
namespace {

class VolumesListTest : public test::MachineTest {
  protected:
    void BuildMachine() {
        system_.AddDisk("sdb", 65536, true, "Generic", "SD Reader");
        system_.AddPartition("sdb", "sdb1", 1, 2048, 4096);
        system_.AddDisk("sda", 1 << 21, false, "ATA", "Samsung SSD");
        system_.AddPartition("sda", "sda2", 2, 6144, 8192);
        system_.AddPartition("sda", "sda1", 1, 2048, 4096);
        system_.AddDisk("sr0", 0);
        system_.AddDisk("zram0", 1000);
        system_.AddLoop("loop0", "");
        system_.AddLoop("loop1", "/var/images/card.img");
        system_.AddDisk("nvme0n1", 1 << 20, false, "0x1af4", "");
    }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& v : Computer().Volumes().Snapshot())
            names.push_back(v->GetDisplayName());
        return names;
    }
};

TEST_F(VolumesListTest, DisksThenVolumesInNameOrderWithoutOpticalZramOrBareLoops) {
    BuildMachine();
    auto& list = Computer().Volumes();
    ASSERT_EQ(list.GetCount(), 7u) << testing::PrintToString(Names());
    EXPECT_EQ(Names(), (std::vector<std::string>{"Drive 0", "Drive 1", "ATA, Samsung SSD",
                                                 "Generic, SD Reader", "sda1", "sda2", "sdb1"}));
    // loop1 (with a backing file), nvme0n1 (a bus id is no vendor), sda, sdb.
    EXPECT_EQ(list.GetAt(0)->KernelName, "loop1");
    EXPECT_EQ(list.GetAt(1)->KernelName, "nvme0n1");
    EXPECT_EQ(list.GetAt(2)->DriveNumber, 2u);
    EXPECT_EQ(list.GetAt(2)->DevicePath, (system_.dev() / "sda").string());
    EXPECT_EQ(list.GetAt(3)->DriveType, DriveCategory::Fixed) << "physical disks are fixed";
    EXPECT_EQ(list.GetAt(6)->DriveType, DriveCategory::Removable);
    EXPECT_EQ(list.GetAt(7), nullptr);
}

TEST_F(VolumesListTest, InformationQueryFillsPartitionsAndLinksThemToTheirDisk) {
    BuildMachine();
    const bool haveFat = test::MakeFatImage(system_.dev() / "sdb1", 2048, "HOLIDAY");
    system_.AddMount("sdb1", dir_ / "mnt point");
    std::filesystem::create_directories(dir_ / "mnt point");
    auto& list = Computer().Volumes();
    CVolume* sdb = list.GetAt(3);
    CVolume* sdb1 = list.GetAt(6);
    ASSERT_EQ(sdb1->KernelName, "sdb1");
    EXPECT_EQ(sdb1->VolumeState.load(), VolumeStatus::Ready);
    EXPECT_EQ(sdb1->TotalSize, 4096u * 512);
    EXPECT_EQ(sdb1->DriveLayout.PartitionEntry[0].StartingOffset, 2048u * 512);
    EXPECT_EQ(sdb1->GetParentVolume(), sdb);
    ASSERT_EQ(sdb->ChildVolumes.size(), 1u);
    EXPECT_EQ(sdb->ChildVolumes[0], sdb1);
    EXPECT_EQ(sdb1->RootPath, (dir_ / "mnt point").string());
    EXPECT_GT(sdb1->FreeBytes, 0u);
    EXPECT_EQ(sdb->TotalSize, 65536u * 512);
    EXPECT_EQ(sdb->DriveLayout.PartitionCount, 1u);
    EXPECT_EQ(sdb->Geometry.BytesPerSector, 512u);
    if (!haveFat)
        GTEST_SKIP() << "mkfs.fat is not installed: label and file system not checked";
    EXPECT_EQ(sdb1->GetDisplayName(), "sdb1 (HOLIDAY)");
    EXPECT_EQ(sdb1->FileSystem->FileSystemName, "FAT12");
    EXPECT_NE(sdb1->SerialNumber, 0u);
}

TEST_F(VolumesListTest, RescanKeepsImagesAtTheEndAndDropsFoundVolumes) {
    BuildMachine();
    auto& computer = Computer();
    auto& list = computer.Volumes();
    test::WriteFile(dir_ / "card.dsk", std::string(4096, 'x'));
    std::string error;
    auto image = computer.CreateImageVolume(dir_ / "card.dsk", error);
    ASSERT_FALSE(image) << "the fake opener knows no image";
    opener_->Add((dir_ / "card.dsk").string(), [] {
        return std::make_unique<test::ScriptedDevice>(4096, nullptr,
                                                      std::make_shared<std::atomic<int>>());
    });
    image = computer.CreateImageVolume(dir_ / "card.dsk", error);
    ASSERT_TRUE(image) << error;
    const std::uint64_t imageId = image->Id;
    list.Append(image);
    auto found = std::make_shared<CVolume>(computer, VolumeKind::Found);
    found->ParentVolume = list.GetAt(2);
    found->Id = computer.NextId();
    list.Append(found);
    ASSERT_EQ(list.GetCount(), 9u);

    EXPECT_EQ(list.Rescan(), 8u);
    EXPECT_EQ(list.GetAt(7), image.get());
    EXPECT_EQ(list.GetAt(7)->Id, imageId);
    for (const auto& volume : list.Snapshot()) {
        EXPECT_NE(volume->VolumeType, VolumeKind::Found);
        if (volume != image) {
            EXPECT_LT(volume->Id, found->Id) << "ids are never reused";
        }
    }
    list.RescanAsync();
    EXPECT_TRUE(list.WaitForRescan(std::chrono::seconds(15)));
    EXPECT_EQ(list.GetCount(), 8u);
}

TEST_F(VolumesListTest, RemovedMediumPausesTheAnalysisAndItsReturnResumesIt) {
    BuildMachine();
    auto& computer = Computer();
    auto window = std::make_shared<platform::MessageRecorder>();
    app_->SetMainWindow(window);
    CVolume* sdb1 = computer.Volumes().GetAt(6);
    ASSERT_EQ(sdb1->KernelName, "sdb1");

    std::atomic<bool> running{true};
    std::atomic<int> steps{0};
    std::thread analysis([&] {
        while (running.load()) {
            sdb1->AnalysisGate.Pass(&running);
            ++steps;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    auto waitForSteps = [&](int more) {
        const int target = steps.load() + more;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (steps.load() < target && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return steps.load() >= target;
    };
    ASSERT_TRUE(waitForSteps(5));

    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Removed, "sdb1"});
    EXPECT_EQ(sdb1->VolumeState.load(), VolumeStatus::NotReady);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int pausedAt = steps.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LE(steps.load(), pausedAt + 1) << "the analysis must stand still";

    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Arrived, "sdb1"});
    EXPECT_EQ(sdb1->VolumeState.load(), VolumeStatus::Ready);
    EXPECT_TRUE(waitForSteps(5)) << "the analysis must go on";
    running = false;
    analysis.join();

    const auto lines = computer.Log().Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Drive sdb1: Medium removed!"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Volume sdb1: Medium connected!"), lines.end());
    const auto posted = window->MessagesWithId(core::WM_APP + 506);
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].wParam, 0x8004u);
    EXPECT_EQ(posted[1].wParam, 0x8000u);
}

TEST_F(VolumesListTest, RemovingTheCardMarksTheDiskAndItsPartitions) {
    BuildMachine();
    auto& list = Computer().Volumes();
    list.OnDeviceChange({platform::MediaEvent::Kind::Removed, "sdb"});
    EXPECT_EQ(list.GetAt(3)->VolumeState.load(), VolumeStatus::NotReady);
    EXPECT_EQ(list.GetAt(6)->VolumeState.load(), VolumeStatus::NotReady);
    EXPECT_EQ(list.GetAt(4)->VolumeState.load(), VolumeStatus::Ready);
}

TEST_F(VolumesListTest, EventsOfDevicesThatAreNeverListedChangeNothing) {
    BuildMachine();
    auto& computer = Computer();
    const auto before = computer.Log().Lines().size();
    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Removed, "loop3"});
    computer.Volumes().OnDeviceChange({platform::MediaEvent::Kind::Removed, "sr0"});
    EXPECT_EQ(computer.Log().Lines().size(), before);
    for (const auto& volume : computer.Volumes().Snapshot()) {
        EXPECT_EQ(volume->VolumeState.load(), VolumeStatus::Ready) << volume->GetDisplayName();
    }
}

}  // namespace
}  // namespace duzez::devices
