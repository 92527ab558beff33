// What a recovery may and may not do to the destination and to the files it writes: names
// from the volume stay inside it, nothing already there is replaced, a file is put in
// place only whole, and what could not be read is said, not hidden.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstring>

#include "core/window_messages.h"
#include "tests/recovery/recovery_fixture.h"

namespace duzez::recovery {
namespace {

class DestinationTest : public RecoveryTest {
  protected:
    // Runs one recovery of `objects` into `destination` and waits for it.
    CRecovery& Recover(std::vector<FoundObject*> objects,
                       const std::filesystem::path& destination) {
        engine_ = std::make_unique<CRecovery>(*computer_);
        engine_->RecoveryList = std::move(objects);
        engine_->StartRecovery(destination);
        engine_->Wait();
        return *engine_;
    }
    // The source volume with its root folder in place.
    devices::CVolume& RootedSource() {
        auto& volume = Source();
        Root(volume);
        return volume;
    }
    // `count` folders below the root, each holding one photo of `size` bytes, the photos
    // `stride` bytes apart on the volume.
    std::vector<FoundObject*> OneFilePerFolder(devices::CVolume& volume, std::uint64_t count,
                                               std::uint64_t stride, std::uint64_t size) {
        std::vector<FoundObject*> files;
        for (std::uint64_t i = 0; i < count; ++i) {
            Add(volume, 1000 + i, 5, "FOLDER" + std::to_string(i), 0, 0, true);
            files.push_back(Add(volume, 100000 + i, 1000 + i, "PHOTO.JPG", i * stride, size));
        }
        return files;
    }
    std::unique_ptr<CRecovery> engine_;
};

// Folder and file names come from the disk and are hostile.
TEST_F(DestinationTest, NamesFromTheVolumeNeverClimbOutOfTheDestination) {
    auto& volume = RootedSource();
    Add(volume, 10, 5, "..", 0, 0, true);
    Add(volume, 11, 10, "../../x", 0, 0, true);
    Add(volume, 12, 11, std::string("ctl\x1b[31m\x01"), 0, 0, true);
    FoundObject* deep = Add(volume, 13, 12, "PHOTO.JPG", 4096, 1000);
    FoundObject* slashed = Add(volume, 14, 5, "a/../../b.JPG", 8192, 1000);
    const std::string longName = std::string(300, 'L') + ".jpeg";
    FoundObject* longOne = Add(volume, 15, 5, longName, 12288, 1000);
    const auto destination = dir_ / "a" / "b" / "out";
    const auto before = FilesBelow(dir_.path());

    const CRecovery& engine = Recover({deep, slashed, longOne}, destination);
    EXPECT_EQ(engine.RecoveredCount.load(), 3u);
    for (const std::string& entry : FilesBelow(dir_.path())) {
        if (std::find(before.begin(), before.end(), entry) == before.end()) {
            EXPECT_EQ(entry.rfind("a", 0), 0u) << entry << " is outside the destination";
        }
    }
    EXPECT_EQ(test::ReadFile(destination / "_.." / ".._.._x" / "ctl_[31m_" / "PHOTO.JPG"),
              source_.substr(4096, 1000));
    EXPECT_EQ(test::ReadFile(destination / "a_.._.._b.JPG"), source_.substr(8192, 1000));
    const std::string shortened = std::string(250, 'L') + ".jpeg";
    EXPECT_EQ(test::ReadFile(destination / shortened), source_.substr(12288, 1000));
}

// A link already in the destination never redirects a write, and a file there (a photo
// edited since the last run) is never replaced.
TEST_F(DestinationTest, LinksAndFilesAlreadyThereAreLeftAlone) {
    auto& volume = RootedSource();
    Add(volume, 10, 5, "DCIM", 0, 0, true);
    FoundObject* inFolder = Add(volume, 11, 10, "IMG.JPG", 4096, 1000);
    FoundObject* linked = Add(volume, 12, 5, "PHOTO.JPG", 8192, 1000);
    FoundObject* edited = Add(volume, 13, 5, "EDITED.JPG", 12288, 1000);
    const auto out = dir_ / "out";
    std::filesystem::create_directories(out);
    std::filesystem::create_directories(dir_ / "elsewhere");
    test::WriteFile(dir_ / "victim", "precious");
    std::filesystem::create_symlink(dir_ / "victim", out / "PHOTO.JPG");
    std::filesystem::create_directory_symlink(dir_ / "elsewhere", out / "DCIM");
    test::WriteFile(out / "EDITED.JPG", "the user's own edit");

    const CRecovery& engine = Recover({inFolder, linked, edited}, out);
    EXPECT_EQ(engine.RecoveredCount.load(), 3u);
    EXPECT_EQ(test::ReadFile(dir_ / "victim"), "precious");
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "elsewhere"));
    EXPECT_EQ(test::ReadFile(out / "EDITED.JPG"), "the user's own edit");
    EXPECT_EQ(test::ReadFile(out / "PHOTO (2).JPG"), source_.substr(8192, 1000));
    EXPECT_EQ(test::ReadFile(out / "DCIM (2)" / "IMG.JPG"), source_.substr(4096, 1000));
    EXPECT_EQ(test::ReadFile(out / "EDITED (2).JPG"), source_.substr(12288, 1000));
    EXPECT_EQ(engine.Results.at(1).path, out / "PHOTO (2).JPG");
}

// A tmpfs of 1 MiB stands for a card that fills up.
class SmallMount {
  public:
    explicit SmallMount(const std::filesystem::path& where, unsigned long flags = 0,
                        const char* options = "size=1m")
        : where_(where) {
        std::filesystem::create_directories(where);
        mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", flags, options) == 0;
    }
    ~SmallMount() {
        if (mounted_)
            ::umount2(where_.c_str(), MNT_DETACH);
    }
    SmallMount(const SmallMount&) = delete;
    SmallMount& operator=(const SmallMount&) = delete;
    bool mounted() const { return mounted_; }

  private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

TEST_F(DestinationTest, AFullDestinationStopsTheRunAndLeavesNoPartialFile) {
    auto& volume = RootedSource();
    FoundObject* first = Add(volume, 20, 5, "ONE.JPG", 0, 600000);
    FoundObject* second = Add(volume, 21, 5, "TWO.JPG", 1 << 20, 600000);
    FoundObject* third = Add(volume, 22, 5, "THREE.JPG", 2 << 20, 1000);
    SmallMount full(dir_ / "full");
    if (!full.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);

    const CRecovery& engine = Recover({first, second, third}, dir_ / "full");
    EXPECT_TRUE(engine.DestinationFull.load());
    EXPECT_EQ(engine.RecoveredCount.load(), 1u);
    ASSERT_EQ(engine.Results.size(), 2u) << "nothing is tried after the destination is full";
    EXPECT_EQ(engine.Results[0].outcome, FileOutcome::Recovered);
    EXPECT_EQ(engine.Results[1].outcome, FileOutcome::NotWritten);
    EXPECT_EQ(FilesBelow(dir_ / "full"), std::vector<std::string>{"ONE.JPG"});
    EXPECT_EQ(test::ReadFile(dir_ / "full" / "ONE.JPG"), source_.substr(0, 600000));
}

// Out of inodes is as full as out of space: the run stops instead of failing every file.
TEST_F(DestinationTest, ADestinationOutOfInodesStopsTheRun) {
    auto& volume = RootedSource();
    const auto files = OneFilePerFolder(volume, 12, 4096, 1000);
    SmallMount tiny(dir_ / "tiny", 0, "size=1m,nr_inodes=8");
    if (!tiny.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const CRecovery& engine = Recover(files, dir_ / "tiny");
    EXPECT_TRUE(engine.DestinationFull.load());
    EXPECT_LT(engine.Results.size(), files.size()) << "the run stopped when the inodes ran out";
    EXPECT_EQ(engine.Results.back().outcome, FileOutcome::NotWritten);
    EXPECT_GE(engine.RecoveredCount.load(), 1u);
}

// A destination folder holds one open descriptor per folder of the current path only, so
// a volume of many folders never runs out of them.
TEST_F(DestinationTest, ManyFoldersNeedNoMoreDescriptorsThanTheirDepth) {
    auto& volume = RootedSource();
    const auto files = OneFilePerFolder(volume, 200, 512, 100);
    std::size_t open = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++open;
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = open + 32;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limited), 0);
    const CRecovery& engine = Recover(files, dir_ / "out");
    ::setrlimit(RLIMIT_NOFILE, &old);
    EXPECT_EQ(engine.RecoveredCount.load(), 200u);
}

// A file-size limit stands for a file system that cannot hold a large file (FAT32 and its
// 4 GiB): that file fails, the smaller ones after it are still written.
TEST_F(DestinationTest, AFileTooLargeForTheDestinationFailsAlone) {
    auto& volume = RootedSource();
    FoundObject* big = Add(volume, 30, 5, "BIG.MOV", 0, 3 << 20);
    FoundObject* small = Add(volume, 31, 5, "SMALL.JPG", 4 << 20, 4096);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const CRecovery& engine = Recover({big, small}, dir_ / "out");
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(engine.DestinationFull.load());
    ASSERT_EQ(engine.Results.size(), 2u);
    EXPECT_EQ(engine.Results[0].outcome, FileOutcome::Failed);
    EXPECT_EQ(engine.Results[1].outcome, FileOutcome::Recovered);
    EXPECT_EQ(FilesBelow(dir_ / "out"), std::vector<std::string>{"SMALL.JPG"});
}

// Pattern bytes with one sector that fails every read that touches it.
class BadSectorTest : public DestinationTest {
  protected:
    static constexpr std::uint64_t kSize = 8 << 20;
    static constexpr std::uint64_t kBadSector = 5000;

    static std::uint8_t Byte(std::uint64_t at) {
        return static_cast<std::uint8_t>(at * 13 + at / 512);
    }

    // With `shortReads`, a read over the bad sector delivers what lies before it and says
    // so by its count, as a buffered read of a failing disk does; else it fails whole.
    devices::CVolume& DamagedSource(bool shortReads = false) {
        std::string bytes(kSize, '\0');
        for (std::uint64_t i = 0; i < kSize; ++i)
            bytes[i] = static_cast<char>(Byte(i));
        opener_->Add("/damaged.img", [bytes, shortReads] {
            return test::DeviceWithBadSector(bytes, kBadSector, shortReads);
        });
        std::string error;
        devices::CVolume* volume = Computer(false).LoadImage("/damaged.img", error);
        EXPECT_NE(volume, nullptr) << error;
        computer_->ActiveVolume = volume;
        LoadShippedSignatures();
        return *volume;
    }

    // A 3 MiB clip over the bad sector comes back whole but for that sector, and says so.
    void ExpectOnlyTheBadSectorLost(devices::CVolume& volume) {
        Root(volume);
        const std::uint64_t start = 1 << 20;
        const std::uint64_t size = 3 << 20;
        FoundObject* video = Add(volume, 40, 5, "CLIP.MOV", start, size);
        const CRecovery& engine = Recover({video}, dir_ / "out");

        const std::string data = test::ReadFile(dir_ / "out" / "CLIP.MOV");
        ASSERT_EQ(data.size(), size) << "the blocks after the bad sector are written too";
        for (std::uint64_t i = 0; i < size; ++i) {
            const std::uint64_t at = start + i;
            const bool inBadSector = at / 512 == kBadSector;
            ASSERT_EQ(static_cast<std::uint8_t>(data[i]), inBadSector ? 0 : Byte(at))
                << "byte " << i;
        }
        ASSERT_EQ(engine.Results.size(), 1u);
        EXPECT_EQ(engine.Results[0].outcome, FileOutcome::RecoveredWithUnreadableSectors);
        EXPECT_EQ(engine.Results[0].unreadableSectors, 1u);
        EXPECT_EQ(engine.RecoveredCount.load(), 1u);
        const auto errors = ErrorLines();
        EXPECT_NE(std::find_if(errors.begin(), errors.end(),
                               [](const std::string& line) {
                                   return line.find("CLIP.MOV' recovered with 1 unreadable") !=
                                          std::string::npos;
                               }),
                  errors.end());
    }
};

TEST_F(BadSectorTest, AnUnreadableSectorCostsThatSectorNotTheFile) {
    ExpectOnlyTheBadSectorLost(DamagedSource());
}

// The zeros a short read leaves are no data: they are counted as lost too.
TEST_F(BadSectorTest, AShortReadAtABadSectorIsNotTakenForData) {
    ExpectOnlyTheBadSectorLost(DamagedSource(true));
}

TEST_F(BadSectorTest, AFileThatIsOnlyTheBadSectorFails) {
    auto& volume = DamagedSource();
    Root(volume);
    FoundObject* gone = Add(volume, 41, 5, "GONE.TXT", kBadSector * 512, 300);
    const CRecovery& engine = Recover({gone}, dir_ / "out");
    EXPECT_EQ(engine.Results.at(0).outcome, FileOutcome::Failed);
    EXPECT_TRUE(FilesBelow(dir_ / "out").empty());
}

// The dates a person sorts their photos by: the listed modification and access times,
// to the 100 ns unit the volume keeps and the file system here can hold.
TEST_F(DestinationTest, RecoveredFilesCarryTheListedTimes) {
    auto& volume = RootedSource();
    FoundObject* photo = Add(volume, 50, 5, "DATED.JPG", 4096, 1000);
    // 2021-07-04 12:34:56.1234567 and 2022-01-02 03:04:05 UTC.
    photo->Modified = 132698756960000000ull + 1234567;
    photo->Accessed = 132855662450000000ull;
    photo->Created = photo->Modified;
    Recover({photo}, dir_ / "out");
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "out" / "DATED.JPG").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1625402096);
    EXPECT_EQ(info.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(info.st_atim.tv_sec, 1641092645);
}

// A program that must end now (a second Ctrl-C) leaves no temporary file behind.
TEST_F(DestinationTest, ADiscardedFileLeavesNothingBehind) {
    auto& volume = RootedSource();
    FoundObject* photo = Add(volume, 59, 5, "PHOTO.JPG", 4096, 1000);
    FoundObject* clip = Add(volume, 60, 5, "CLIP.MOV", 0, 5 << 20);
    CRecovery recovery(*computer_);
    app_->SetMainWindow(
        std::make_shared<AtFirstBlockOf>(clip, [&recovery] { recovery.DiscardPartialFile(); }));
    recovery.RecoveryList = {photo, clip};
    recovery.StartRecovery(dir_ / "out");
    recovery.Wait();
    EXPECT_EQ(FilesBelow(dir_ / "out"), std::vector<std::string>{"PHOTO.JPG"});
    EXPECT_EQ(recovery.RecoveredCount.load(), 1u);
    ASSERT_EQ(recovery.Results.size(), 2u);
    EXPECT_EQ(recovery.Results[1].outcome, FileOutcome::Failed);
    EXPECT_TRUE(recovery.Results[1].path.empty()) << "a file not written has no path";
}

TEST_F(DestinationTest, AnUnusableDestinationIsNamedBeforeAnythingRuns) {
    auto& volume = Source();
    CRecovery engine(*computer_);
    test::WriteFile(dir_ / "plain", "x");
    EXPECT_NE(engine.DestinationProblem(dir_ / "plain", &volume), "");
    EXPECT_NE(engine.DestinationProblem("/proc/duzez-test", &volume), "");
    EXPECT_NE(engine.DestinationProblem("", &volume), "");
    // Read-only: a mount when this runs as root (who may write anywhere), else a mode.
    SmallMount readOnly(dir_ / "locked", MS_RDONLY);
    if (!readOnly.mounted()) {
        std::filesystem::permissions(dir_ / "locked", std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_exec);
    }
    if (readOnly.mounted() || ::geteuid() != 0) {
        EXPECT_NE(engine.DestinationProblem(dir_ / "locked", &volume).find("cannot write into"),
                  std::string::npos);
    }
    EXPECT_EQ(engine.DestinationProblem(dir_ / "fresh" / "folder", &volume), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "fresh" / "folder"));
    EXPECT_TRUE(FilesBelow(dir_ / "fresh" / "folder").empty()) << "the write test leaves nothing";
    // The path as the user typed it: a link on the way is theirs to follow, ".." and a
    // trailing "/" mean what they mean in a shell.
    std::filesystem::create_directory(dir_ / "real");
    std::filesystem::create_directory_symlink(dir_ / "real", dir_ / "via");
    EXPECT_EQ(engine.DestinationProblem(dir_ / "via" / "made" / ".." / "also", &volume), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "real" / "made"));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "real" / "also"));
    EXPECT_EQ(engine.DestinationProblem((dir_ / "slash").string() + "/", &volume), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "slash"));
}

}  // namespace
}  // namespace duzez::recovery
