#include "recovery/recovery.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "core/window_messages.h"
#include "tests/recovery/recovery_fixture.h"

namespace duzez::recovery {
namespace {

class RecordingOpener : public platform::ShellOpener {
  public:
    platform::ShellOpenResult Open(const std::filesystem::path& file) override {
        opened.push_back(file);
        return result;
    }
    platform::ShellOpenResult result;
    std::vector<std::filesystem::path> opened;
};

// A file system that reads every file as bytes of 0x5A, wherever its extent would lie.
class PatternFileSystem : public filesystems::CFileSystem {
  public:
    std::uint32_t FileRead(const FoundObject&, std::span<std::uint8_t> buffer, std::uint64_t,
                           filesystems::ReadDamage&) override {
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0x5A});
        return static_cast<std::uint32_t>(buffer.size());
    }
};

// A file system whose reads of every file fail.
class FailingFileSystem : public filesystems::CFileSystem {
  public:
    std::uint32_t FileRead(const FoundObject&, std::span<std::uint8_t>, std::uint64_t,
                           filesystems::ReadDamage&) override {
        return 0;
    }
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
    RunRecovery(engine, {photo}, dir_ / "out");
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

// An empty file is a file: it is created empty and counts as recovered. An object that
// should hold bytes and yields none leaves nothing behind.
TEST_F(RecoveryTest, AnEmptyFileIsRecoveredEmptyAndAnUnreadableOneLeavesNothing) {
    auto& volume = Source();
    Root(volume);
    FoundObject* empty = Add(volume, 20, 5, "EMPTY.TXT", 0, 0);
    CRecovery engine(*computer_);
    RunRecovery(engine, {empty}, dir_ / "out");
    ASSERT_TRUE(std::filesystem::is_regular_file(dir_ / "out" / "EMPTY.TXT"));
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out" / "EMPTY.TXT"), 0u);
    EXPECT_EQ(engine.RecoveredCount.load(), 1u);
    ASSERT_EQ(engine.Results.size(), 1u);
    EXPECT_EQ(engine.Results[0].outcome, FileOutcome::Recovered);

    volume.FileSystem = std::make_unique<FailingFileSystem>();
    FoundObject* lost = Add(volume, 21, 5, "LOST.JPG", 4096, 5000);
    RunRecovery(engine, {lost}, dir_ / "out");
    EXPECT_EQ(engine.RecoveredCount.load(), 0u);
    EXPECT_EQ(engine.Results.at(0).outcome, FileOutcome::Failed);
    EXPECT_EQ(ErrorLines().back(), "ERR: CRecovery::FileRecovery of '" +
                                       (dir_ / "out" / "LOST.JPG").string() +
                                       "' failed because file size == 0");
    EXPECT_EQ(FilesBelow(dir_ / "out"), std::vector<std::string>{"EMPTY.TXT"})
        << "no temporary file is left";
}

TEST_F(RecoveryTest, AnEstimatedSizeAskedOnceForAllFilesOfAnyType) {
    auto& volume = Source();
    const auto carved = Carved(volume, 300, {1ull << 20, 3ull << 20, 6ull << 20});
    answers_.answer = {SizeAnswer::Result::Ok, SizeMethod::Custom, 300 * 1024, SizeScope::AnyType};
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    RunRecovery(engine, carved, dir_ / "out");
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
    RunRecovery(engine, {carved}, dir_ / "out");
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
    RunRecovery(engine, {sneaky}, dir_ / "out");
    EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "_.."));
}

TEST_F(RecoveryTest, TheImagesOwnFolderIsRefusedAFolderBesideItIsFine) {
    auto& volume = Source();
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    engine.SourceVolume = &volume;
    std::filesystem::path beside = dir_ / "out";
    EXPECT_TRUE(engine.CheckDestination(beside));
    EXPECT_EQ(engine.DestinationProblem(beside, &volume), "");
    // A folder holding the image, at any depth, is where the image itself would be.
    std::filesystem::path holding = dir_.path();
    EXPECT_FALSE(engine.CheckDestination(holding));
    EXPECT_NE(engine.DestinationProblem(dir_.path(), &volume).find("holds the image"),
              std::string::npos);
}

// A folder chosen in place of the stored destination becomes the stored destination; a
// folder given for this run only is replaced for the run and the setting stays.
TEST_F(RecoveryTest, AnotherDestinationChosenForTheSettingBecomesTheSetting) {
    auto& volume = Source();
    Root(volume);
    FoundObject* photo = Add(volume, 80, 5, "IMG.JPG", 4096, 1000);
    auto& settings = app_->Settings();
    // The folder that holds the image is on the source.
    settings.SetDestinationFolder(dir_.path().string() + "/");
    answers_.other = dir_ / "chosen";
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    RunRecovery(engine, {photo}, dir_.path());
    EXPECT_EQ(settings.DestinationFolder(), (dir_ / "chosen").string());
    EXPECT_EQ(test::ReadFile(dir_ / "chosen" / "IMG.JPG"), source_.substr(4096, 1000));

    // Not the setting: only the run's folder changes.
    engine.SourceVolume = &volume;
    std::filesystem::path holding = dir_.path().parent_path();
    answers_.other = dir_ / "once";
    EXPECT_TRUE(engine.CheckDestination(holding));
    EXPECT_EQ(holding, dir_ / "once");
    EXPECT_EQ(settings.DestinationFolder(), (dir_ / "chosen").string());

    // Declined: the setting stays as it was.
    settings.SetDestinationFolder(dir_.path().string());
    answers_.other.reset();
    std::filesystem::path setting = dir_.path();
    EXPECT_FALSE(engine.CheckDestination(setting));
    EXPECT_EQ(settings.DestinationFolder(), dir_.path().string());
}

TEST_F(RecoveryTest, AChoiceForOneTypeAppliesToThatTypeOnly) {
    auto& volume = Source();
    // JPEGs at 1 and 3 MiB, a PNG at 2 MiB, another at 5 MiB.
    const auto jpegs = Carved(volume, 300, {1ull << 20, 3ull << 20});
    const auto pngs = Carved(volume, 301, {2ull << 20, 5ull << 20});
    answers_.answer = {SizeAnswer::Result::Ok, SizeMethod::NextSame, 0, SizeScope::ThisType};
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    RunRecovery(engine, {jpegs[0], jpegs[1]}, dir_ / "out");
    EXPECT_EQ(answers_.asked, 1) << "the second JPEG takes the remembered method";
    EXPECT_EQ(computer_->Signatures().FindSignatureById(300)->SizeMethodForType.load(), 3u);
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out" / std::string(jpegs[0]->GetName())), 2u << 20)
        << "the distance to the next JPEG, not to the PNG between";
    answers_.answer = {SizeAnswer::Result::Ok, SizeMethod::NextAny, 0, SizeScope::ThisFile};
    RunRecovery(engine, {pngs[0], pngs[1]}, dir_ / "out");
    EXPECT_EQ(answers_.asked, 3) << "PNGs still ask, and 'this file only' remembers nothing";
    EXPECT_EQ(std::filesystem::file_size(dir_ / "out" / std::string(pngs[0]->GetName())), 1u << 20);
}

TEST_F(RecoveryTest, AFragmentedFileStartingNearTheEndKeepsItsSize) {
    auto& volume = Source();
    Root(volume);
    volume.FileSystem = std::make_unique<PatternFileSystem>();
    FoundObject* file = Add(volume, 45, 5, "LATE.MOV", (16 << 20) - 4096, 1 << 20);
    CRecovery engine(*computer_);
    RunRecovery(engine, {file}, dir_ / "out");
    EXPECT_EQ(test::ReadFile(dir_ / "out" / "LATE.MOV"), std::string(1 << 20, '\x5A'));
}

TEST_F(RecoveryTest, TwoFilesOfOneNameInOneFolderBothSurviveAndARunAgainAddsNothing) {
    auto& volume = Source();
    Root(volume);
    FoundObject* first = Add(volume, 40, 5, "_HOTO.JPG", 4096, 1000);
    FoundObject* second = Add(volume, 41, 5, "_HOTO.JPG", 65536, 2000);
    CRecovery engine(*computer_);
    RunRecovery(engine, {first, second}, dir_ / "out");
    EXPECT_EQ(test::ReadFile(dir_ / "out" / "_HOTO.JPG"), source_.substr(4096, 1000));
    EXPECT_EQ(test::ReadFile(dir_ / "out" / "_HOTO (2).JPG"), source_.substr(65536, 2000));
    // A later run into the same folder finds both already there: nothing new is written.
    RunRecovery(engine, engine.RecoveryList, dir_ / "out");
    EXPECT_EQ(FilesBelow(dir_ / "out"), (std::vector<std::string>{"_HOTO (2).JPG", "_HOTO.JPG"}));
    EXPECT_EQ(engine.RecoveredCount.load(), 0u);
    ASSERT_EQ(engine.Results.size(), 2u);
    EXPECT_EQ(engine.Results[0].outcome, FileOutcome::AlreadyRecovered);
    EXPECT_EQ(engine.Results[1].outcome, FileOutcome::AlreadyRecovered);
    EXPECT_EQ(engine.Results[1].path, dir_ / "out" / "_HOTO (2).JPG");
}

// A file is only ever put in place whole: an abort discards the part of the current one.
TEST_F(RecoveryTest, AbortInTheLastFileDiscardsItsPartAndLogsTheAbortOnce) {
    auto& volume = Source();
    Root(volume);
    FoundObject* a = Add(volume, 50, 5, "A.JPG", 0, 1000);
    FoundObject* b = Add(volume, 51, 5, "B.JPG", 8192, 1000);
    FoundObject* c = Add(volume, 52, 5, "C.MOV", 1 << 20, 5 << 20);
    CRecovery recovery(*computer_);
    app_->SetMainWindow(
        std::make_shared<AtFirstBlockOf>(c, [&recovery] { recovery.AbortRecovery(); }));
    RunRecovery(recovery, {a, b, c}, dir_ / "out");
    EXPECT_EQ(FilesBelow(dir_ / "out"), (std::vector<std::string>{"A.JPG", "B.JPG"}));
    EXPECT_EQ(recovery.Results.at(2).outcome, FileOutcome::NotWritten);
    EXPECT_EQ(LinesEqualTo("Recovery aborted."), 1);
    EXPECT_EQ(LinesEqualTo("Recovery completed."), 0);
}

TEST_F(RecoveryTest, ADestinationOnTheSourceDeviceIsRefusedBeforeAnyWrite) {
    // A device node for the file system the test folder is on stands for the source drive.
    struct stat folder {};
    ASSERT_EQ(::stat(dir_.path().c_str(), &folder), 0);
    const auto node = dir_ / "source-device";
    if (::mknod(node.c_str(), S_IFBLK | 0400, folder.st_dev) != 0)
        GTEST_SKIP() << "cannot make a device node here (needs CAP_MKNOD)";
    opener_->Add(node.string(), [] {
        return std::make_unique<test::ScriptedDevice>(
            1 << 20,
            [](std::uint64_t, std::span<std::uint8_t> buffer) {
                return platform::DeviceReadResult{platform::DeviceReadResult::Status::Ok,
                                                  buffer.size(), 0};
            },
            std::make_shared<std::atomic<int>>());
    });
    std::string error;
    auto device = Computer(false).CreateImageVolume(node, error);
    ASSERT_NE(device, nullptr) << error;
    computer_->ActiveVolume = device.get();
    Root(*device);
    FoundObject* photo = Add(*device, 60, 5, "IMG.JPG", 0, 512);
    CRecovery engine(*computer_);
    engine.SetQuestions(&answers_);
    RunRecovery(engine, {photo}, dir_ / "out");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
    EXPECT_EQ(engine.RecoveredCount.load(), 0u);
    EXPECT_EQ(LinesEqualTo("Recovery completed."), 1);
    EXPECT_FALSE(computer_->PrepareDestination(dir_ / "out", false));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
}

TEST_F(RecoveryTest, PrepareDestinationMakesTheFolderOrSaysWhyNot) {
    Source();
    EXPECT_TRUE(computer_->PrepareDestination(dir_ / "new" / "deeper", true));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "new" / "deeper"));
    EXPECT_TRUE(computer_->PrepareDestination(dir_ / "new" / "deeper", true)) << "already there";
    test::WriteFile(dir_ / "plain", "x");
    EXPECT_FALSE(computer_->PrepareDestination(dir_ / "plain" / "sub", false));
    EXPECT_EQ(ErrorLines().back(),
              "ERR: Can't create folder: " + (dir_ / "plain" / "sub").string());
}

TEST_F(RecoveryTest, TryOpenWritesToTheTemporaryFolderOpensAndCleansUp) {
    auto& volume = Source();
    Root(volume);
    FoundObject* photo = Add(volume, 70, 5, "IMG.XYZ", 4096, 3000);
    RecordingOpener opener;
    opener.result.status = platform::ShellOpenStatus::NoAssociatedApplication;
    CRecovery engine(*computer_);
    engine.SetOpener(&opener);
    engine.RecoveryList = {photo};
    engine.StartTryOpen(dir_ / "temp");
    engine.Wait();
    const auto file = dir_ / "temp" / "IMG.XYZ";
    ASSERT_EQ(opener.opened, std::vector<std::filesystem::path>{file});
    EXPECT_EQ(engine.TemporaryFiles, std::vector<std::filesystem::path>{file});
    const auto errors = ErrorLines();
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors.back().find("No application associated"), std::string::npos) << errors.back();

    bool answer = false;
    computer_->SetQuestionAnswerer([&answer](core::StringId, core::StringId) { return answer; });
    engine.DeleteTemporaryFiles();
    EXPECT_TRUE(std::filesystem::exists(file)) << "the user said No";
    answer = true;
    engine.DeleteTemporaryFiles();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(engine.TemporaryFiles.empty());
}

}  // namespace
}  // namespace duzez::recovery
