#include "recovery/recovery.h"

#include <gtest/gtest.h>

#include "core/window_messages.h"
#include "tests/devices/machine_fixture.h"

namespace duzez::recovery {
namespace {

using filesystems::FoundObject;
namespace ObjectFlags = filesystems::ObjectFlags;

class ScriptedAnswers : public RecoveryQuestions {
  public:
    SizeAnswer AskProbableSize(const FoundObject&) override {
        ++asked;
        return answer;
    }
    std::optional<std::filesystem::path> AskOtherDestination(
        const std::filesystem::path&) override {
        return other;
    }
    SizeAnswer answer;
    std::optional<std::filesystem::path> other;
    int asked = 0;
};

class RecoveryTest : public test::MachineTest {
  protected:
    // An image volume of 16 MiB whose byte i is i * 7 + i / 4096.
    devices::CVolume& Source() {
        std::string bytes(16 << 20, '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7 + i / 4096);
        test::WriteFile(dir_ / "card.dsk", bytes);
        source_ = bytes;
        std::string error;
        devices::CVolume* volume =
            Computer(false, platform::MakeLocalDeviceOpener()).LoadImage(dir_ / "card.dsk", error);
        computer_->ActiveVolume = volume;
        return *volume;
    }
    FoundObject* Add(devices::CVolume& volume, std::uint64_t id, std::uint64_t parent,
                     std::string name, std::uint64_t start, std::uint64_t size,
                     bool folder = false) {
        FoundObject record;
        record.Id = id;
        record.ParentId = parent;
        record.Start = start;
        record.Size = size;
        record.SetName(std::move(name));
        record.Modified = 132000000000000000ull;
        record.Created = record.Modified;
        if (folder)
            record.Flags |= ObjectFlags::Folder;
        return volume.FoundObjectTree->MergeObject(record);
    }
    void Root(devices::CVolume& volume) {
        volume.FoundObjectTree->RootFolder().Id = 5;
        volume.FoundObjectTree->AddObject(&volume.FoundObjectTree->RootFolder(), true);
    }
    std::string source_;
    ScriptedAnswers answers_;
};

TEST_F(RecoveryTest, FilesAreWrittenInTheirFoldersInTwoMebibyteBlocks) {
    auto& volume = Source();
    Root(volume);
    Add(volume, 10, 5, "DCIM", 0, 0, true);
    Add(volume, 11, 10, "100CANON", 0, 0, true);
    FoundObject* photo = Add(volume, 12, 11, "IMG_0001.JPG", 4096, 5 << 20);
    auto window = std::make_shared<platform::MessageRecorder>();
    app_->SetMainWindow(window);
    CRecovery engine(*computer_);
    engine.RecoveryList = {photo};
    engine.StartRecovery(dir_ / "out");
    engine.Wait();
    const auto file = dir_ / "out" / "DCIM" / "100CANON" / "IMG_0001.JPG";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(test::ReadFile(file), source_.substr(4096, 5 << 20));
    EXPECT_EQ(engine.RecoveredCount.load(), 1u);
    std::vector<std::int64_t> percents;
    for (const auto& m : window->MessagesWithId(WM_RECOVERY_PROGRESS))
        percents.push_back(m.lParam);
    EXPECT_EQ(percents, (std::vector<std::int64_t>{0, 40, 80}));
    EXPECT_EQ(engine.FilePercent.load(), 100u);
    const auto lines = computer_->Log().Lines();
    EXPECT_EQ(lines.back(), "Recovery completed.");
    EXPECT_EQ(std::filesystem::last_write_time(file).time_since_epoch().count() != 0, true);
}

TEST_F(RecoveryTest, AnEmptyObjectLeavesNoFile) {
    auto& volume = Source();
    Root(volume);
    FoundObject* empty = Add(volume, 20, 5, "EMPTY.TXT", 0, 0);
    CRecovery engine(*computer_);
    engine.RecoveryList = {empty};
    engine.StartRecovery(dir_ / "out");
    engine.Wait();
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "EMPTY.TXT"));
    EXPECT_EQ(engine.RecoveredCount.load(), 0u);
    const auto lines = computer_->Log().Lines();
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) {
                               return l.find("failed because file size == 0") != std::string::npos;
                           }),
              lines.end());
}

TEST_F(RecoveryTest, AnEstimatedSizeAskedOnceForAllFilesOfAnyType) {
    auto& volume = Source();
    volume.FoundObjectTree->BuildStartIndex();
    std::vector<FoundObject*> carved;
    for (std::uint64_t start : {1ull << 20, 3ull << 20, 6ull << 20}) {
        FoundObject item;
        item.Start = start;
        item.SignatureId = 300;
        item.Flags = ObjectFlags::ExtentToNext | ObjectFlags::Deleted;
        carved.push_back(volume.FoundObjectTree->AddFoundFile(item).object);
    }
    answers_.answer = {SizeAnswer::Result::Ok, SizeMethod::Custom, 300 * 1024, SizeScope::AnyType};
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    engine.RecoveryList = carved;
    engine.StartRecovery(dir_ / "out");
    engine.Wait();
    EXPECT_EQ(answers_.asked, 1);
    EXPECT_EQ(engine.SizeMethodForAll.load(), 4u);
    EXPECT_EQ(engine.SizeKBForAll.load(), 300);
    for (const FoundObject* object : carved) {
        const auto file = dir_ / "out" / std::string(object->GetName());
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        EXPECT_EQ(std::filesystem::file_size(file), 307200u);
    }
}

TEST_F(RecoveryTest, SkippingAnEstimateWritesNothingAndNamesTheFile) {
    auto& volume = Source();
    volume.FoundObjectTree->BuildStartIndex();
    FoundObject item;
    item.Start = 1 << 20;
    item.Flags = ObjectFlags::ExtentToNext;
    FoundObject* carved = volume.FoundObjectTree->AddFoundFile(item).object;
    answers_.answer.result = SizeAnswer::Result::Skip;
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    engine.RecoveryList = {carved};
    engine.StartRecovery(dir_ / "out");
    engine.Wait();
    EXPECT_EQ(engine.RecoveredCount.load(), 0u);
    const auto lines = computer_->Log().Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "ERR: FileRecovery: File 'lost_file_1048576' recovery skipped"),
              lines.end());
}

TEST_F(RecoveryTest, NamesCannotClimbOutOfTheDestination) {
    auto& volume = Source();
    Root(volume);
    FoundObject* sneaky = Add(volume, 30, 5, "..", 0, 100);
    CRecovery engine(*computer_);
    engine.RecoveryList = {sneaky};
    engine.StartRecovery(dir_ / "out");
    engine.Wait();
    EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "_.."));
}

TEST_F(RecoveryTest, BesideAnImageIsAFineDestination) {
    // Only a drive can be written over; an image's folder takes the recovered files.
    auto& volume = Source();
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    engine.SourceVolume = &volume;
    std::filesystem::path destination = dir_.path();
    EXPECT_TRUE(engine.CheckDestination(destination));
    EXPECT_EQ(destination, dir_.path());
}

}  // namespace
}  // namespace duzez::recovery
