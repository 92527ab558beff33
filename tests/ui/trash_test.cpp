// The desktop trash over trash folders made for real in a temporary folder: finding them,
// listing what they hold (and skipping what is not a trash record), putting items back
// byte for byte without ever replacing what is in the way, refusing records that point
// somewhere unsafe, and the view over it all.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTreeView>
#include <algorithm>
#include <cctype>
#include <filesystem>

#include "tests/support/temp_folder.h"
#include "tests/ui/ui_machine.h"
#include "ui/explorer/trash_store.h"
#include "ui/explorer/trash_view.h"

namespace duzez::test {
namespace {

namespace fs = std::filesystem;
using ui::RestoreAnswers;
using ui::RestoreStatus;
using ui::TrashItem;
using ui::TrashRoot;

std::string Encode(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 15]);
        }
    }
    return out;
}

std::string Info(const std::string& encodedPath, const std::string& date = "2024-03-05T14:07:09") {
    return "[Trash Info]\nPath=" + encodedPath + "\nDeletionDate=" + date + "\n";
}

// Puts a file (or, with `folder`, an empty folder) and its record into a trash folder.
void AddToTrash(const fs::path& trash, const std::string& name, const std::string& info,
                const std::string& bytes = "x", bool folder = false) {
    fs::create_directories(trash / "files");
    fs::create_directories(trash / "info");
    if (folder) {
        fs::create_directories(trash / "files" / name);
    } else {
        WriteFile(trash / "files" / name, bytes);
    }
    WriteFile(trash / "info" / (name + ".trashinfo"), info);
}

const TrashItem* Find(const std::vector<TrashItem>& items, const std::string& name) {
    for (const auto& item : items) {
        if (item.name == name)
            return &item;
    }
    return nullptr;
}

// Answers kept by the test: what to say and what was asked.
struct Answers {
    bool anotherName = false;
    bool followLink = false;
    std::vector<std::pair<fs::path, fs::path>> nameQuestions;  // taken, proposed
    std::vector<fs::path> linkQuestions;

    RestoreAnswers Get() {
        RestoreAnswers answers;
        answers.anotherName = [this](const TrashItem&, const fs::path& taken,
                                     const fs::path& proposed) {
            nameQuestions.emplace_back(taken, proposed);
            return anotherName;
        };
        answers.followLink = [this](const TrashItem&, const fs::path& link, const std::string&) {
            linkQuestions.push_back(link);
            return followLink;
        };
        return answers;
    }
};

class TrashTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base_ = fs::canonical(dir_.path());
        home_ = TrashRoot{base_ / "data" / "Trash", base_ / "data", true};
        fs::create_directories(home_.folder / "files");
        fs::create_directories(home_.folder / "info");
        // Two levels down, so a ".." that slipped through still lands in the test's folder.
        mount_ = base_ / "media" / "card";
        fs::create_directories(mount_);
        mountTrash_ = TrashRoot{mount_ / (".Trash-" + std::to_string(::getuid())), mount_, false};
    }

    // A file in the home trash that came from `original`.
    TrashItem TrashedFile(const fs::path& original, const std::string& bytes,
                          const std::string& name = "") {
        const std::string trashName = name.empty() ? original.filename().string() : name;
        AddToTrash(home_.folder, trashName, Info(Encode(original.string())), bytes);
        const auto items = ui::ListTrash(home_);
        const TrashItem* item = Find(items, trashName);
        EXPECT_NE(item, nullptr) << trashName;
        return item != nullptr ? *item : TrashItem{};
    }

    bool StillInTrash(const TrashItem& item) {
        return fs::exists(fs::symlink_status(item.FilePath())) && fs::exists(item.InfoPath());
    }

    TempFolder dir_;
    fs::path base_;
    TrashRoot home_;
    fs::path mount_;
    TrashRoot mountTrash_;
};

// --- finding and listing ----------------------------------------------------------------

TEST(TrashMounts, ParsesMountInfoLinesWithEscapesAndOptionalFields) {
    const std::string text =
        "36 35 98:0 / / rw,noatime master:1 - ext4 /dev/root rw\n"
        "40 36 8:17 / /media/me/My\\040Card rw,nosuid shared:5 master:7 - vfat /dev/sdb1 rw\n"
        "41 36 0:5 / /proc rw - proc proc rw\n"
        "garbage line\n"
        "42 36 0:6 / relative rw - ext4 /dev/x rw\n";
    const auto mounts = ui::ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].path, fs::path("/"));
    EXPECT_EQ(mounts[0].fsType, "ext4");
    EXPECT_EQ(mounts[1].path, fs::path("/media/me/My Card"));
    EXPECT_EQ(mounts[1].fsType, "vfat");
    EXPECT_EQ(mounts[2].fsType, "proc");
}

TEST_F(TrashTest, FindsHomeAndMountTrashesButNotLinksOrUnstickyFolders) {
    const std::string uid = std::to_string(::getuid());
    fs::create_directories(mountTrash_.folder);
    // A shared ".Trash" counts only when sticky.
    const fs::path sticky = base_ / "sticky";
    fs::create_directories(sticky / ".Trash" / uid);
    ASSERT_EQ(::chmod((sticky / ".Trash").c_str(), 01777), 0);
    const fs::path plain = base_ / "plain";
    fs::create_directories(plain / ".Trash" / uid);
    ASSERT_EQ(::chmod((plain / ".Trash").c_str(), 0777), 0);
    // A link where a trash should be could show someone else's folder.
    const fs::path linked = base_ / "linked";
    fs::create_directories(linked);
    fs::create_directory_symlink(mountTrash_.folder, linked / (".Trash-" + uid));

    const std::vector<ui::MountPoint> mounts = {
        {mount_, "ext4"}, {sticky, "ext4"}, {plain, "ext4"},
        {linked, "ext4"}, {mount_, "ext4"},  // mounted twice: listed once
        {base_, "proc"},
    };
    const auto roots = ui::FindTrashRoots(home_.folder, mounts, ::getuid());
    std::vector<fs::path> folders;
    for (const auto& root : roots)
        folders.push_back(root.folder);
    const std::vector<fs::path> expected = {home_.folder, mountTrash_.folder,
                                            sticky / ".Trash" / uid};
    EXPECT_EQ(folders, expected);
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_TRUE(roots[0].home);
    EXPECT_EQ(roots[0].topDir, base_ / "data");
    EXPECT_FALSE(roots[1].home);
    EXPECT_EQ(roots[1].topDir, mount_);
    EXPECT_EQ(roots[2].topDir, sticky);
}

TEST_F(TrashTest, ListsTheHomeTrashWithDecodedPathsDatesAndSizes) {
    const fs::path pictures = base_ / "Pictures";
    AddToTrash(home_.folder, "beach day.jpg", Info(Encode((pictures / "beach day.jpg").string())),
               std::string(5000, 'p'));
    AddToTrash(home_.folder, "Album",
               Info(Encode((pictures / "Album").string()), "2023-12-31T23:59:58"), "", true);
    const auto items = ui::ListTrash(home_);
    ASSERT_EQ(items.size(), 2u);

    const TrashItem* photo = Find(items, "beach day.jpg");
    ASSERT_NE(photo, nullptr);
    EXPECT_EQ(photo->originalPath, pictures / "beach day.jpg");
    EXPECT_EQ(photo->pathText.toStdString(), (pictures / "beach day.jpg").string());
    EXPECT_EQ(photo->size, 5000u);
    EXPECT_FALSE(photo->folder);
    EXPECT_EQ(photo->deletionDate, QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)));
    EXPECT_EQ(photo->root.folder, home_.folder);
    EXPECT_TRUE(photo->Restorable());

    const TrashItem* album = Find(items, "Album");
    ASSERT_NE(album, nullptr);
    EXPECT_TRUE(album->folder);
    EXPECT_EQ(album->originalPath, pictures / "Album");
    EXPECT_EQ(album->deletionDate, QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58)));
}

TEST_F(TrashTest, ListsAMountTrashRelativeToItsTopFolder) {
    AddToTrash(mountTrash_.folder, "IMG_0001.JPG", Info("DCIM/100CANON/IMG_0001.JPG"), "jpeg");
    AddToTrash(mountTrash_.folder, "IMG_0002.JPG",
               Info(Encode((mount_ / "DCIM" / "IMG_0002.JPG").string())), "jpeg2");
    const auto items = ui::ListTrash(std::vector<TrashRoot>{home_, mountTrash_});
    ASSERT_EQ(items.size(), 2u);
    const TrashItem* first = Find(items, "IMG_0001.JPG");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->originalPath, mount_ / "DCIM" / "100CANON" / "IMG_0001.JPG");
    EXPECT_EQ(first->root.folder, mountTrash_.folder);
    EXPECT_EQ(first->size, 4u);
    const TrashItem* second = Find(items, "IMG_0002.JPG");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->originalPath, mount_ / "DCIM" / "IMG_0002.JPG");
}

TEST_F(TrashTest, SkipsRecordsThatAreNotTrashInfo) {
    const fs::path info = home_.folder / "info";
    const fs::path files = home_.folder / "files";
    AddToTrash(home_.folder, "good.jpg", Info(Encode((base_ / "good.jpg").string())));
    AddToTrash(home_.folder, "nogroup", "Path=/x/nogroup\nDeletionDate=2024-01-01T00:00:00\n");
    AddToTrash(home_.folder, "othergroup", "[Desktop Entry]\nPath=/x/othergroup\n");
    AddToTrash(home_.folder, "nopath", "[Trash Info]\nDeletionDate=2024-01-01T00:00:00\n");
    AddToTrash(home_.folder, "emptypath", "[Trash Info]\nPath=\n");
    const char kBinary[] = "[Trash Info]\nPath=/x/bin\0ary\n";
    AddToTrash(home_.folder, "binary", std::string(kBinary, sizeof kBinary - 1));
    AddToTrash(home_.folder, "huge", "[Trash Info]\nPath=/x/huge\n" + std::string(100000, '#'));
    // A record whose file is gone, a file without a record, a record that is a folder, a
    // record that is a link, and one with no name.
    WriteFile(info / "orphan.trashinfo", Info("/x/orphan"));
    WriteFile(files / "unrecorded", "u");
    fs::create_directories(info / "folder.trashinfo");
    WriteFile(files / "folder", "f");
    WriteFile(files / "linked", "l");
    fs::create_symlink(info / "good.jpg.trashinfo", info / "linked.trashinfo");
    WriteFile(info / ".trashinfo", Info("/x/noname"));
    WriteFile(info / "notes.txt", "not a record");

    const auto items = ui::ListTrash(home_);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "good.jpg");
}

TEST_F(TrashTest, ListsRecordsWithUnsafePathsAsNotRestorable) {
    AddToTrash(home_.folder, "garbled", Info("/x/%ZZbad"));
    AddToTrash(home_.folder, "cut", Info("/x/cut%4"));
    AddToTrash(home_.folder, "nul", Info("/x/a%00b"));
    AddToTrash(home_.folder, "baddate", Info(Encode((base_ / "baddate").string()), "yesterday"));
    const auto items = ui::ListTrash(home_);
    ASSERT_EQ(items.size(), 4u);
    for (const char* name : {"garbled", "cut", "nul"}) {
        const TrashItem* item = Find(items, name);
        ASSERT_NE(item, nullptr) << name;
        EXPECT_FALSE(item->Restorable()) << name;
        EXPECT_FALSE(item->pathText.isEmpty()) << name;
    }
    const TrashItem* undated = Find(items, "baddate");
    ASSERT_NE(undated, nullptr);
    EXPECT_TRUE(undated->Restorable());
    EXPECT_FALSE(undated->deletionDate.isValid());
}

TEST(TrashPaths, RefusesDotDotAndPlacesOutsideAMountTrash) {
    const TrashRoot mount{"/media/card/.Trash-1000", "/media/card", false};
    const TrashRoot home{"/home/me/.local/share/Trash", "/home/me/.local/share", true};
    EXPECT_EQ(ui::ResolveTrashPath(mount, "DCIM/a.jpg"), fs::path("/media/card/DCIM/a.jpg"));
    EXPECT_EQ(ui::ResolveTrashPath(mount, "/media/card/DCIM/a.jpg"),
              fs::path("/media/card/DCIM/a.jpg"));
    EXPECT_EQ(ui::ResolveTrashPath(mount, "DCIM//b%20c.jpg"), fs::path("/media/card/DCIM/b c.jpg"));
    EXPECT_EQ(ui::ResolveTrashPath(home, "/home/me/a.jpg"), fs::path("/home/me/a.jpg"));
    EXPECT_EQ(ui::ResolveTrashPath(home, "/media/card/a.jpg"), fs::path("/media/card/a.jpg"));
    EXPECT_EQ(ui::ResolveTrashPath(home, "notes/a.txt"),
              fs::path("/home/me/.local/share/notes/a.txt"));

    const char* refusedOnMount[] = {
        "../../etc/passwd",
        "DCIM/../../x",
        "%2E%2E/x",
        "DCIM%2F..%2F..%2Fx",
        "/etc/passwd",
        "/media/cardboard/x",
        "/media/card",
        "/media/card/",
        "./DCIM/a.jpg",
        "",
        "/",
        "%",
        ".Trash-1000/files/x",
        "/media/card/.Trash-1000/info/x.trashinfo",
    };
    for (const char* value : refusedOnMount)
        EXPECT_TRUE(ui::ResolveTrashPath(mount, value).empty()) << value;
    for (const char* value : {"/home/me/../../etc/shadow", "/a/./b", "..", "Trash/files/x"})
        EXPECT_TRUE(ui::ResolveTrashPath(home, value).empty()) << value;
}

TEST(TrashNames, RestoredNamesKeepTheExtension) {
    EXPECT_EQ(ui::RestoredName("photo.jpg", false, 1), "photo (restored).jpg");
    EXPECT_EQ(ui::RestoredName("photo.jpg", false, 2), "photo (restored 2).jpg");
    EXPECT_EQ(ui::RestoredName("archive.tar.gz", false, 3), "archive.tar (restored 3).gz");
    EXPECT_EQ(ui::RestoredName(".bashrc", false, 1), ".bashrc (restored)");
    EXPECT_EQ(ui::RestoredName("Album.2024", true, 1), "Album.2024 (restored)");
}

// --- restoring ----------------------------------------------------------------------------

TEST_F(TrashTest, RestorePutsTheFileBackByteForByteAndDropsTheRecord) {
    const fs::path original = base_ / "Pictures" / "IMG_1234.JPG";
    fs::create_directories(original.parent_path());
    const std::string bytes = Pattern(300000, 7);
    const TrashItem item = TrashedFile(original, bytes);
    Answers answers;
    const auto result = ui::RestoreTrashItem(item, answers.Get());
    EXPECT_EQ(result.status, RestoreStatus::Restored) << result.error.toStdString();
    EXPECT_TRUE(result.error.isEmpty());
    EXPECT_EQ(result.restoredTo, original);
    EXPECT_EQ(ReadFile(original), bytes);
    EXPECT_FALSE(fs::exists(item.FilePath()));
    EXPECT_FALSE(fs::exists(item.InfoPath()));
    EXPECT_TRUE(answers.nameQuestions.empty());
    EXPECT_TRUE(ui::ListTrash(home_).empty());
}

TEST_F(TrashTest, RestoreOfAFolderKeepsWhatIsInside) {
    AddToTrash(mountTrash_.folder, "Holiday", Info("Photos/Holiday"), "", true);
    WriteFile(mountTrash_.folder / "files" / "Holiday" / "a.jpg", Pattern(5000, 1));
    fs::create_directories(mountTrash_.folder / "files" / "Holiday" / "sub");
    WriteFile(mountTrash_.folder / "files" / "Holiday" / "sub" / "b.jpg", Pattern(7000, 2));
    const auto items = ui::ListTrash(mountTrash_);
    ASSERT_EQ(items.size(), 1u);
    Answers answers;
    const auto result = ui::RestoreTrashItem(items[0], answers.Get());
    ASSERT_EQ(result.status, RestoreStatus::Restored) << result.error.toStdString();
    EXPECT_EQ(ReadFile(mount_ / "Photos" / "Holiday" / "a.jpg"), Pattern(5000, 1));
    EXPECT_EQ(ReadFile(mount_ / "Photos" / "Holiday" / "sub" / "b.jpg"), Pattern(7000, 2));
    EXPECT_FALSE(fs::exists(items[0].InfoPath()));
}

TEST_F(TrashTest, RestoreCreatesMissingParentFolders) {
    const fs::path original = base_ / "gone" / "deeper" / "photo.png";
    const TrashItem item = TrashedFile(original, "png bytes");
    ASSERT_FALSE(fs::exists(base_ / "gone"));
    Answers answers;
    const auto result = ui::RestoreTrashItem(item, answers.Get());
    ASSERT_EQ(result.status, RestoreStatus::Restored) << result.error.toStdString();
    EXPECT_TRUE(fs::is_directory(base_ / "gone" / "deeper"));
    EXPECT_EQ(ReadFile(original), "png bytes");
    EXPECT_FALSE(fs::exists(item.InfoPath()));
}

TEST_F(TrashTest, RestoreOntoAnExistingFileAsksAndDecliningChangesNothing) {
    const fs::path original = base_ / "Pictures" / "cat.jpg";
    fs::create_directories(original.parent_path());
    WriteFile(original, "the newer cat");
    const TrashItem item = TrashedFile(original, "the old cat");
    Answers answers;
    answers.anotherName = false;
    const auto result = ui::RestoreTrashItem(item, answers.Get());
    EXPECT_EQ(result.status, RestoreStatus::Cancelled);
    ASSERT_EQ(answers.nameQuestions.size(), 1u);
    EXPECT_EQ(answers.nameQuestions[0].first, original);
    EXPECT_EQ(answers.nameQuestions[0].second, base_ / "Pictures" / "cat (restored).jpg");
    EXPECT_EQ(ReadFile(original), "the newer cat");
    EXPECT_FALSE(fs::exists(answers.nameQuestions[0].second));
    EXPECT_TRUE(StillInTrash(item));
    EXPECT_EQ(ReadFile(item.FilePath()), "the old cat");
}

TEST_F(TrashTest, RestoreOntoAnExistingFileAcceptedUsesTheNextFreeName) {
    const fs::path original = base_ / "Pictures" / "cat.jpg";
    fs::create_directories(original.parent_path());
    WriteFile(original, "the newer cat");
    const TrashItem first = TrashedFile(original, "old cat one", "cat.jpg");
    const TrashItem second = TrashedFile(original, "old cat two", "cat.2.jpg");
    Answers answers;
    answers.anotherName = true;

    const auto one = ui::RestoreTrashItem(first, answers.Get());
    ASSERT_EQ(one.status, RestoreStatus::Restored) << one.error.toStdString();
    EXPECT_EQ(one.restoredTo, base_ / "Pictures" / "cat (restored).jpg");
    const auto two = ui::RestoreTrashItem(second, answers.Get());
    ASSERT_EQ(two.status, RestoreStatus::Restored) << two.error.toStdString();
    EXPECT_EQ(two.restoredTo, base_ / "Pictures" / "cat (restored 2).jpg");

    EXPECT_EQ(answers.nameQuestions.size(), 2u);
    EXPECT_EQ(ReadFile(original), "the newer cat");
    EXPECT_EQ(ReadFile(one.restoredTo), "old cat one");
    EXPECT_EQ(ReadFile(two.restoredTo), "old cat two");
    EXPECT_TRUE(ui::ListTrash(home_).empty());
}

TEST_F(TrashTest, RestoreNeverWritesThroughALinkLeftAtTheTarget) {
    const fs::path original = base_ / "Pictures" / "dog.jpg";
    fs::create_directories(original.parent_path());
    const fs::path victim = base_ / "elsewhere" / "victim";
    fs::create_directories(victim.parent_path());
    fs::create_symlink(victim, original);  // dangling: a plain rename would replace it
    const TrashItem item = TrashedFile(original, "dog");
    Answers answers;
    EXPECT_EQ(ui::RestoreTrashItem(item, answers.Get()).status, RestoreStatus::Cancelled);
    EXPECT_EQ(answers.nameQuestions.size(), 1u);
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_TRUE(fs::is_symlink(original));
    EXPECT_TRUE(StillInTrash(item));
}

TEST_F(TrashTest, RestoreAsksBeforeGoingThroughALinkedFolder) {
    const fs::path elsewhere = base_ / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directories(base_ / "Pictures");
    fs::create_directory_symlink(elsewhere, base_ / "Pictures" / "Trip");
    const TrashItem item = TrashedFile(base_ / "Pictures" / "Trip" / "sea.jpg", "sea");

    Answers decline;
    EXPECT_EQ(ui::RestoreTrashItem(item, decline.Get()).status, RestoreStatus::Cancelled);
    ASSERT_EQ(decline.linkQuestions.size(), 1u);
    EXPECT_EQ(decline.linkQuestions[0], base_ / "Pictures" / "Trip");
    EXPECT_FALSE(fs::exists(elsewhere / "sea.jpg"));
    EXPECT_TRUE(StillInTrash(item));

    Answers accept;
    accept.followLink = true;
    const auto result = ui::RestoreTrashItem(item, accept.Get());
    ASSERT_EQ(result.status, RestoreStatus::Restored) << result.error.toStdString();
    EXPECT_EQ(ReadFile(elsewhere / "sea.jpg"), "sea");
    EXPECT_FALSE(fs::exists(item.InfoPath()));
}

TEST_F(TrashTest, RestoreRefusesUnsafeRecordsAndLeavesThemInTheTrash) {
    const std::string escape = Encode((base_ / "outside.txt").string());
    AddToTrash(mountTrash_.folder, "up", Info("DCIM/../../outside.txt"), "up");
    AddToTrash(mountTrash_.folder, "abs", Info(escape), "abs");
    AddToTrash(mountTrash_.folder, "encoded", Info("%2E%2E/outside.txt"), "enc");
    AddToTrash(home_.folder, "homeup", Info(Encode((base_ / "a").string()) + "/../outside.txt"),
               "h");
    const auto items = ui::ListTrash(std::vector<TrashRoot>{home_, mountTrash_});
    ASSERT_EQ(items.size(), 4u);
    for (const auto& item : items) {
        Answers answers;
        answers.anotherName = true;
        answers.followLink = true;
        const auto result = ui::RestoreTrashItem(item, answers.Get());
        EXPECT_EQ(result.status, RestoreStatus::Refused) << item.name;
        EXPECT_FALSE(result.error.isEmpty()) << item.name;
        EXPECT_TRUE(StillInTrash(item)) << item.name;
    }
    EXPECT_FALSE(fs::exists(base_ / "outside.txt"));
    EXPECT_FALSE(fs::exists(base_ / "media" / "outside.txt"));
}

TEST_F(TrashTest, RestoreSeesARecordChangedSinceTheListing) {
    const TrashItem item = TrashedFile(base_ / "fine.txt", "fine");
    WriteFile(item.InfoPath(), Info(Encode((base_ / "a").string()) + "/../changed.txt"));
    Answers answers;
    answers.anotherName = true;
    EXPECT_EQ(ui::RestoreTrashItem(item, answers.Get()).status, RestoreStatus::Refused);
    EXPECT_FALSE(fs::exists(base_ / "fine.txt"));
    EXPECT_FALSE(fs::exists(base_ / "changed.txt"));
    EXPECT_TRUE(StillInTrash(item));
}

TEST_F(TrashTest, AFailedMoveKeepsTheItemAndAddsNoFolders) {
    // A file where a folder of the path should be: the move cannot happen.
    WriteFile(base_ / "blocker", "in the way");
    const TrashItem blocked = TrashedFile(base_ / "blocker" / "new" / "x.jpg", "x");
    Answers answers;
    const auto result = ui::RestoreTrashItem(blocked, answers.Get());
    EXPECT_EQ(result.status, RestoreStatus::Failed);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_TRUE(StillInTrash(blocked));
    EXPECT_EQ(ReadFile(base_ / "blocker"), "in the way");
    EXPECT_EQ(ReadFile(blocked.FilePath()), "x");

    // A name no file system takes fails only after the folders were made: they go again.
    const TrashItem tooLong =
        TrashedFile(base_ / "made" / "deeper" / std::string(300, 'n'), "n", "long.jpg");
    EXPECT_EQ(ui::RestoreTrashItem(tooLong, answers.Get()).status, RestoreStatus::Failed);
    EXPECT_FALSE(fs::exists(base_ / "made"));
    EXPECT_TRUE(StillInTrash(tooLong));
}

// A folder on another file system, to restore across devices.
class OtherDevice {
  public:
    explicit OtherDevice(const fs::path& than) {
        std::string pattern = "/dev/shm/duzez-trash-XXXXXX";
        struct stat here {};
        struct stat there {};
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        path_ = pattern;
        if (::stat(than.c_str(), &here) != 0 || ::stat(path_.c_str(), &there) != 0 ||
            here.st_dev == there.st_dev)
            usable_ = false;
    }
    ~OtherDevice() {
        std::error_code error;
        if (!path_.empty())
            fs::remove_all(path_, error);
    }
    OtherDevice(const OtherDevice&) = delete;
    OtherDevice& operator=(const OtherDevice&) = delete;
    bool Usable() const { return !path_.empty() && usable_; }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
    bool usable_ = true;
};

TEST_F(TrashTest, RestoreAcrossFileSystemsCopiesThenEmptiesTheTrash) {
    OtherDevice other(base_);
    if (!other.Usable())
        GTEST_SKIP() << "no second file system to restore across";
    const TrashRoot trash{other.path() / "Trash", other.path(), true};
    const fs::path folder = base_ / "Pictures" / "Roll";
    AddToTrash(trash.folder, "Roll", Info(Encode(folder.string())), "", true);
    WriteFile(trash.folder / "files" / "Roll" / "1.jpg", Pattern(200000, 3));
    fs::create_symlink("1.jpg", trash.folder / "files" / "Roll" / "latest.jpg");
    AddToTrash(trash.folder, "single.jpg", Info(Encode((base_ / "single.jpg").string())),
               Pattern(1234, 4));
    const auto items = ui::ListTrash(trash);
    ASSERT_EQ(items.size(), 2u);
    for (const auto& item : items) {
        Answers answers;
        const auto result = ui::RestoreTrashItem(item, answers.Get());
        ASSERT_EQ(result.status, RestoreStatus::Restored) << result.error.toStdString();
        EXPECT_FALSE(result.leftInTrash);
        EXPECT_FALSE(fs::exists(fs::symlink_status(item.FilePath())));
        EXPECT_FALSE(fs::exists(item.InfoPath()));
    }
    EXPECT_EQ(ReadFile(folder / "1.jpg"), Pattern(200000, 3));
    EXPECT_EQ(fs::read_symlink(folder / "latest.jpg"), fs::path("1.jpg"));
    EXPECT_EQ(ReadFile(base_ / "single.jpg"), Pattern(1234, 4));
}

TEST_F(TrashTest, CrossDeviceConflictDeclinedLeavesBothCopiesAlone) {
    OtherDevice other(base_);
    if (!other.Usable())
        GTEST_SKIP() << "no second file system to restore across";
    const TrashRoot trash{other.path() / "Trash", other.path(), true};
    WriteFile(base_ / "taken.jpg", "already here");
    AddToTrash(trash.folder, "taken.jpg", Info(Encode((base_ / "taken.jpg").string())), "trashed");
    const auto items = ui::ListTrash(trash);
    ASSERT_EQ(items.size(), 1u);
    Answers answers;
    EXPECT_EQ(ui::RestoreTrashItem(items[0], answers.Get()).status, RestoreStatus::Cancelled);
    EXPECT_EQ(answers.nameQuestions.size(), 1u);
    EXPECT_EQ(ReadFile(base_ / "taken.jpg"), "already here");
    EXPECT_EQ(ReadFile(items[0].FilePath()), "trashed");
    EXPECT_TRUE(fs::exists(items[0].InfoPath()));
}

// --- the view -----------------------------------------------------------------------------

class TrashViewTest : public TrashTest {
  protected:
    std::vector<std::string> ShownNames(ui::TrashView& view) {
        std::vector<std::string> names;
        const QAbstractItemModel* model = view.List()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            names.push_back(
                model->index(row, ui::TrashView::NameColumn).data().toString().toStdString());
        std::sort(names.begin(), names.end());
        return names;
    }
    void SelectRowOf(ui::TrashView& view, const std::string& name) {
        const QAbstractItemModel* model = view.List()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, 0).data().toString().toStdString() == name) {
                view.List()->selectionModel()->select(
                    model->index(row, 0),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
                return;
            }
        }
        ADD_FAILURE() << "no row " << name;
    }

    ScriptedQuestions questions_;
};

TEST_F(TrashViewTest, ShowsTheItemsOfEveryTrashAfterRefresh) {
    ui::TrashView view(questions_);
    view.SetRoots({home_, mountTrash_});
    QSignalSpy counts(&view, &ui::TrashView::ItemCountChanged);
    view.Refresh();
    EXPECT_TRUE(view.ShowsEmptyText());
    EXPECT_EQ(view.List()->model()->rowCount(), 0);

    AddToTrash(home_.folder, "letter.txt", Info(Encode((base_ / "Docs" / "letter.txt").string())),
               std::string(2048, 'l'));
    AddToTrash(mountTrash_.folder, "IMG_0001.JPG", Info("DCIM/IMG_0001.JPG"), "j");
    AddToTrash(home_.folder, "broken", "[Nothing]\n");
    view.Refresh();
    EXPECT_FALSE(view.ShowsEmptyText());
    EXPECT_EQ(view.ItemCount(), 2);
    EXPECT_EQ(ShownNames(view), (std::vector<std::string>{"IMG_0001.JPG", "letter.txt"}));
    ASSERT_EQ(counts.size(), 2);
    EXPECT_EQ(counts[0][0].toInt(), 0);
    EXPECT_EQ(counts[1][0].toInt(), 2);

    const QAbstractItemModel* model = view.List()->model();
    EXPECT_EQ(model->columnCount(), 4);
    EXPECT_EQ(model->headerData(ui::TrashView::LocationColumn, Qt::Horizontal).toString(),
              QStringLiteral("Original Location"));
    for (int row = 0; row < model->rowCount(); ++row) {
        const TrashItem* item = view.ItemAt(row);
        ASSERT_NE(item, nullptr);
        const QString location = model->index(row, ui::TrashView::LocationColumn).data().toString();
        EXPECT_EQ(location.toStdString(), item->originalPath.parent_path().string());
        EXPECT_FALSE(model->index(row, ui::TrashView::NameColumn)
                         .data(Qt::DecorationRole)
                         .value<QIcon>()
                         .isNull());
        EXPECT_FALSE(model->index(row, ui::TrashView::DateColumn).data().toString().isEmpty());
    }
}

TEST_F(TrashViewTest, RestoreFromTheViewPutsTheItemBack) {
    const fs::path original = base_ / "Pictures" / "kid.jpg";
    AddToTrash(home_.folder, "kid.jpg", Info(Encode(original.string())), Pattern(4096, 9));
    ui::TrashView view(questions_);
    view.SetRoots({home_});
    view.Refresh();
    EXPECT_FALSE(view.RestoreAction()->isEnabled());
    SelectRowOf(view, "kid.jpg");
    ASSERT_TRUE(view.RestoreAction()->isEnabled());
    view.RestoreAction()->trigger();
    EXPECT_EQ(ReadFile(original), Pattern(4096, 9));
    EXPECT_TRUE(questions_.asked.empty());
    EXPECT_TRUE(questions_.told.empty());
    EXPECT_EQ(view.ItemCount(), 0);
    EXPECT_TRUE(view.ShowsEmptyText());
}

TEST_F(TrashViewTest, AConflictIsAskedAndNoKeepsEverything) {
    const fs::path original = base_ / "Pictures" / "kid.jpg";
    fs::create_directories(original.parent_path());
    WriteFile(original, "current");
    AddToTrash(home_.folder, "kid.jpg", Info(Encode(original.string())), "trashed");
    ui::TrashView view(questions_);
    view.SetRoots({home_});
    view.Refresh();
    SelectRowOf(view, "kid.jpg");

    questions_.answers = {false};
    view.RestoreSelected();
    ASSERT_EQ(questions_.asked.size(), 1u);
    EXPECT_TRUE(questions_.asked[0].contains(QStringLiteral("kid (restored).jpg")));
    EXPECT_EQ(ReadFile(original), "current");
    EXPECT_EQ(view.ItemCount(), 1);

    SelectRowOf(view, "kid.jpg");
    questions_.answers = {true};
    view.RestoreSelected();
    EXPECT_EQ(questions_.asked.size(), 2u);
    EXPECT_EQ(ReadFile(original), "current");
    EXPECT_EQ(ReadFile(base_ / "Pictures" / "kid (restored).jpg"), "trashed");
    EXPECT_EQ(view.ItemCount(), 0);
}

TEST_F(TrashViewTest, ARefusedRestoreIsToldAndTheItemStays) {
    AddToTrash(mountTrash_.folder, "evil", Info("../../evil"), "e");
    ui::TrashView view(questions_);
    view.SetRoots({mountTrash_});
    view.Refresh();
    ASSERT_EQ(view.ItemCount(), 1);
    EXPECT_EQ(view.List()->model()->index(0, ui::TrashView::LocationColumn).data().toString(),
              QStringLiteral("../../evil"));
    SelectRowOf(view, "evil");
    view.RestoreSelected();
    EXPECT_EQ(questions_.told.size(), 1u);
    EXPECT_EQ(view.ItemCount(), 1);
    EXPECT_TRUE(fs::exists(mountTrash_.folder / "info" / "evil.trashinfo"));
    EXPECT_FALSE(fs::exists(base_ / "evil"));
}

}  // namespace
}  // namespace duzez::test
