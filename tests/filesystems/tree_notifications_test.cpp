// The WM_APP+500 notices the tree posts to the main window, which the explorer views grow
// from: which code for which change, for which object, in which order, and the object
// complete by the time it is announced.

#include <gtest/gtest.h>

#include <thread>

#include "core/app.h"
#include "filesystems/found_object_tree.h"
#include "tests/filesystems/fake_volume.h"
#include "tests/support/temp_folder.h"

namespace duzez::filesystems {
namespace {

constexpr std::int32_t kImagesGroup = static_cast<std::int32_t>(0xFFFEFFF0u);
constexpr std::uint64_t kLostFragments = SpecialIds::LostFragments;
using Posted = std::vector<std::pair<FoundObject*, std::int64_t>>;

// One notice as the window received it, with the object as it was at that moment (the
// window reads the object when it handles the notice; it must already be whole).
struct Notice {
    std::uint32_t id;
    FoundObject* object;
    std::int64_t code;
    FoundObject seen;
};

class RecordingWindow : public platform::MessageTarget {
  public:
    bool Post(platform::Message message) override {
        std::lock_guard lock(mutex_);
        auto* object = reinterpret_cast<FoundObject*>(static_cast<std::uintptr_t>(message.wParam));
        notices_.push_back({message.id, object, message.lParam, object ? *object : FoundObject{}});
        return true;
    }
    std::int64_t Send(const platform::Message&) override {
        ++sent;
        return 0;
    }
    std::vector<Notice> Notices() const {
        std::lock_guard lock(mutex_);
        return notices_;
    }
    // Which object each notice was for, and its code, in the order they were posted.
    std::vector<std::pair<FoundObject*, std::int64_t>> Posted() const {
        std::vector<std::pair<FoundObject*, std::int64_t>> posted;
        for (const Notice& notice : Notices())
            posted.emplace_back(notice.object, notice.code);
        return posted;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        notices_.clear();
    }
    std::atomic<int> sent{0};

  private:
    mutable std::mutex mutex_;
    std::vector<Notice> notices_;
};

class TreeNotificationsTest : public ::testing::Test {
  protected:
    TreeNotificationsTest() {
        core::CAppOptions options;
        options.storePath = dir_ / "registry.reg";
        options.languageFolder = dir_ / "Languages";
        app_ = std::make_unique<core::CApp>(std::move(options));
        app_->SetMainWindow(window_);
        catalog_.Add({300, kImagesGroup, true, "IMG", "jpg", "JPEG image"}, "jpg");
        catalog_.Add({301, kImagesGroup, true, "PNG", "png", "PNG image"}, "png");
        catalog_.Add({410, -1, false, "AUD", "wav", "WAVE audio"}, "wav");
        catalog_.SetGroupTitle(kImagesGroup, "Images");
        tree_ = std::make_unique<FoundObjectTree>(&volume_, &catalog_, app_.get());
        tree_->RootFolder().Id = 2;
        tree_->RootFolder().ParentId = volume_.NodeId();
        tree_->AddObject(&tree_->RootFolder(), false);
    }

    static FoundObject Entry(std::uint64_t id, std::uint64_t parent, const std::string& name,
                             bool folder = false) {
        FoundObject record;
        record.Id = id;
        record.ParentId = parent;
        record.Start = id * 4096;
        record.Size = 100;
        record.SetName(name);
        if (folder)
            record.Flags |= ObjectFlags::Folder;
        return record;
    }
    static FoundObject Carved(std::uint64_t start, std::int16_t type) {
        FoundObject item;
        item.Start = start;
        item.SignatureId = type;
        item.Flags = ObjectFlags::ExtentToNext | ObjectFlags::Deleted;
        return item;
    }
    FoundObject* Placeholder(std::uint64_t id) {
        FoundObjectTree::Cursor cursor = FoundObjectTree::kFreshCursor;
        for (FoundObject* o = tree_->FindById(id, cursor); o; o = tree_->FindById(id, cursor)) {
            if (o->Is(ObjectFlags::LostFolder))
                return o;
        }
        return nullptr;
    }

    test::TempFolder dir_;
    std::unique_ptr<core::CApp> app_;
    std::shared_ptr<RecordingWindow> window_ = std::make_shared<RecordingWindow>();
    test::MemoryVolume volume_{std::vector<std::uint8_t>(1 << 20)};
    test::FakeCatalog catalog_;
    std::unique_ptr<FoundObjectTree> tree_;
};

TEST_F(TreeNotificationsTest, AnEntryFromTheFileSystemIsAnnouncedOnceAsAdded) {
    FoundObject* folder = tree_->MergeObject(Entry(10, 2, "DCIM", true));
    FoundObject* photo = tree_->MergeObject(Entry(11, 10, "IMG_0001.JPG"));
    ASSERT_EQ(window_->Posted(), (Posted{{folder, TreeNotice::Added}, {photo, 1}}));
    const auto notices = window_->Notices();
    EXPECT_EQ(notices[0].id, WM_FOUND_OBJECT);
    EXPECT_EQ(notices[0].id, 33268u);
    EXPECT_EQ(notices[1].seen.GetName(), "IMG_0001.JPG");
    EXPECT_EQ(notices[1].seen.ParentId, 10u);
    EXPECT_EQ(window_->sent.load(), 0) << "notices are posted, never sent";
}

TEST_F(TreeNotificationsTest, WhatTheTreeDoesNotTakeOrOnlyIndexesIsNotAnnounced) {
    EXPECT_EQ(tree_->MergeObject(Entry(12, 2, "song.wav")), nullptr);
    FoundObject byHand = Entry(13, 2, "volume node");
    tree_->AddObject(&byHand, true);
    tree_->BuildStartIndex();
    EXPECT_EQ(tree_->AddFoundFile(Carved(8192, 410)).object, nullptr);
    tree_->Clear();
    EXPECT_TRUE(window_->Notices().empty());
}

TEST_F(TreeNotificationsTest,
       APlaceholderIsAnnouncedWhenMadeAndAgainBeforeAndAfterItsFolderArrives) {
    FoundObject* child = tree_->MergeObject(Entry(900, 123, "photo.jpg"));
    FoundObject* placeholder = Placeholder(123);
    ASSERT_NE(placeholder, nullptr);
    // The placeholder first, so the view has the folder before the child that needs it.
    ASSERT_EQ(window_->Posted(),
              (Posted{{placeholder, TreeNotice::PlaceholderCreated}, {child, TreeNotice::Added}}));
    auto notices = window_->Notices();
    EXPECT_EQ(notices[0].code, 16);
    EXPECT_EQ(notices[0].seen.GetName(), "lost_folder_123");
    EXPECT_EQ(notices[0].seen.ParentId, kLostFragments);

    window_->Clear();
    FoundObject* folder = tree_->MergeObject(Entry(123, 2, "Holiday", true));
    ASSERT_EQ(folder, placeholder);
    // 32 while the object is still the placeholder, so the view can take it out from under
    // the lost-fragments folder; then 1 for the folder it has become.
    ASSERT_EQ(window_->Posted(),
              (Posted{{placeholder, TreeNotice::PlaceholderCompleting}, {placeholder, 1}}));
    notices = window_->Notices();
    EXPECT_EQ(notices[0].code, 32);
    EXPECT_EQ(notices[0].seen.ParentId, kLostFragments);
    EXPECT_TRUE(notices[0].seen.Is(ObjectFlags::LostFolder));
    EXPECT_EQ(notices[1].seen.GetName(), "Holiday");
    EXPECT_EQ(notices[1].seen.ParentId, 2u);
    EXPECT_FALSE(notices[1].seen.Is(ObjectFlags::LostFolder));
}

TEST_F(TreeNotificationsTest, AFolderCompletingAPlaceholderWithItsOwnParentMissingAnnouncesAll) {
    tree_->MergeObject(Entry(900, 123, "photo.jpg"));
    FoundObject* placeholder = Placeholder(123);
    window_->Clear();
    // The folder's own parent 77 is not known either: a second placeholder is made.
    tree_->MergeObject(Entry(123, 77, "Holiday", true));
    FoundObject* grandparent = Placeholder(77);
    ASSERT_NE(grandparent, nullptr);
    ASSERT_EQ(window_->Posted(), (Posted{{placeholder, 32}, {grandparent, 16}, {placeholder, 1}}));
    const auto notices = window_->Notices();
    EXPECT_EQ(notices[1].seen.GetName(), "lost_folder_77");
    EXPECT_EQ(notices[2].seen.ParentId, 77u);
}

TEST_F(TreeNotificationsTest, NoPlaceholderAndNoSixteenForTheRootOrZeroIds) {
    FoundObject* a = tree_->MergeObject(Entry(10, 0, "a"));
    FoundObject* b = tree_->MergeObject(Entry(0, 55, "b"));
    FoundObject* c = tree_->MergeObject(Entry(11, 2, "c"));
    EXPECT_EQ(window_->Posted(), (Posted{{a, 1}, {b, 1}, {c, 1}}));
}

TEST_F(TreeNotificationsTest, AFileFoundBySignatureIsAnnouncedNamedAndFiled) {
    tree_->BuildStartIndex();
    FoundObject* photo = tree_->AddFoundFile(Carved(1048576, 300)).object;
    ASSERT_NE(photo, nullptr);
    ASSERT_EQ(window_->Posted(), (Posted{{photo, TreeNotice::FoundBySignature}}))
        << "the group folder it goes into is not announced";
    const auto notices = window_->Notices();
    EXPECT_EQ(notices[0].code, 2);
    EXPECT_EQ(notices[0].seen.GetName(), "IMG_1048576.jpg");
    EXPECT_TRUE(notices[0].seen.Is(ObjectFlags::FoundBySignature));
    EXPECT_EQ(notices[0].seen.ParentId, static_cast<std::uint64_t>(std::int64_t{kImagesGroup}));
    EXPECT_EQ(volume_.carved, 1) << "counted before it is announced";
}

TEST_F(TreeNotificationsTest, AHitAtATakenStartAnnouncesTheObjectAlreadyThere) {
    tree_->BuildStartIndex();
    FoundObject* first = tree_->AddFoundFile(Carved(65536, 300)).object;
    window_->Clear();
    const auto again = tree_->AddFoundFile(Carved(65536, 301));
    EXPECT_EQ(again.outcome, FoundObjectTree::FoundFileResult::Outcome::FoundAgain);
    ASSERT_EQ(window_->Posted(), (Posted{{first, TreeNotice::FoundAgain}}))
        << "the existing object, not the discarded item";
    const auto notices = window_->Notices();
    EXPECT_EQ(notices[0].code, 4);
    EXPECT_EQ(notices[0].seen.SignatureId, 301) << "the new type is set before the notice";

    // A file the file system listed, found again by the scan.
    FoundObject* listed = tree_->MergeObject(Entry(40, 2, "DSC.JPG"));
    window_->Clear();
    tree_->AddFoundFile(Carved(listed->Start, 300));
    EXPECT_EQ(window_->Posted(), (Posted{{listed, 4}}));
}

// An entry read after the scan met its first cluster takes over the carved object: the
// view listed that object under "Lost files", so it hears 32 (take it out) before 1 (list
// it where the entry says), and the entry's missing parent still gets a placeholder.
TEST_F(TreeNotificationsTest, AnEntryTakingOverACarvedFileIsAnnouncedLikeACompletedPlaceholder) {
    tree_->BuildStartIndex();
    FoundObject* carved = tree_->AddFoundFile(Carved(4096 * 50, 300)).object;
    ASSERT_NE(carved, nullptr);
    window_->Clear();
    FoundObject* entry = tree_->MergeObject(Entry(50, 321, "HOLIDAY.JPG"));
    ASSERT_EQ(entry, carved) << "listed once";
    FoundObject* placeholder = Placeholder(321);
    ASSERT_NE(placeholder, nullptr) << "a missing parent never loses an object";
    ASSERT_EQ(window_->Posted(), (Posted{{carved, 32}, {placeholder, 16}, {carved, 1}}));
    const auto notices = window_->Notices();
    EXPECT_EQ(notices[0].seen.GetName(), "IMG_204800.jpg");
    EXPECT_EQ(notices[2].seen.GetName(), "HOLIDAY.JPG");
    EXPECT_EQ(notices[2].seen.ParentId, 321u);
}

TEST_F(TreeNotificationsTest, NoticesGoToTheWindowOfTheMomentAndNowhereWithoutOne) {
    app_->SetMainWindow(nullptr);
    EXPECT_NE(tree_->MergeObject(Entry(10, 2, "a")), nullptr);
    auto other = std::make_shared<RecordingWindow>();
    app_->SetMainWindow(other);
    FoundObject* b = tree_->MergeObject(Entry(11, 2, "b"));
    EXPECT_TRUE(window_->Notices().empty());
    ASSERT_EQ(other->Notices().size(), 1u);
    EXPECT_EQ(other->Notices()[0].object, b);
}

// The analysis adds on its worker thread while the window reads: every object is
// announced exactly once, after it was indexed.
TEST_F(TreeNotificationsTest, ObjectsAddedOnAWorkerThreadAreEachAnnouncedOnce) {
    std::vector<FoundObject*> added;
    std::thread worker([&] {
        tree_->BuildStartIndex();
        for (std::uint64_t i = 0; i < 200; ++i)
            added.push_back(tree_->AddFoundFile(Carved((i + 1) * 512, 300)).object);
    });
    worker.join();
    const auto notices = window_->Notices();
    ASSERT_EQ(notices.size(), added.size());
    for (std::size_t i = 0; i < added.size(); ++i) {
        EXPECT_EQ(notices[i].object, added[i]);
        EXPECT_EQ(notices[i].code, 2);
        EXPECT_EQ(tree_->FindAtStart(added[i]->Start), added[i]);
    }
}

}  // namespace
}  // namespace duzez::filesystems
