#include "filesystems/found_object_tree.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/filesystems/fake_volume.h"

namespace duzez::filesystems {
namespace {

constexpr std::int32_t kImagesGroup = static_cast<std::int32_t>(0xFFFEFFF0u);

class TreeTest : public ::testing::Test {
  protected:
    TreeTest() {
        catalog_.Add({300, kImagesGroup, true, "IMG", "jpg", "JPEG image"}, "jpg");
        catalog_.Add({410, -1, false, "AUD", "wav", "WAVE audio"}, "wav");
        catalog_.SetGroupTitle(kImagesGroup, "Images");
        tree_.RootFolder().Id = 2;
        tree_.RootFolder().ParentId = volume_.NodeId();
        tree_.AddObject(&tree_.RootFolder(), false);
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
        item.Flags = ObjectFlags::ExtentToNext;
        return item;
    }

    test::MemoryVolume volume_{std::vector<std::uint8_t>(1 << 20)};
    test::FakeCatalog catalog_;
    FoundObjectTree tree_{&volume_, &catalog_, nullptr};
};

TEST_F(TreeTest, SpecialFoldersOfANewTree) {
    EXPECT_EQ(tree_.LostFragmentsFolder().Id, static_cast<std::uint64_t>(-18));
    EXPECT_EQ(tree_.LostFragmentsFolder().Flags & 0x0015, 0x0015);
    EXPECT_EQ(tree_.LostFragmentsFolder().GetName(), "Filesystem (lost fragments)");
    EXPECT_EQ(tree_.LostFilesFolder().Id, static_cast<std::uint64_t>(-19));
    EXPECT_EQ(tree_.LostFilesFolder().GetName(), "Lost files");
    EXPECT_EQ(tree_.LostFilesFolder().ParentId, volume_.NodeId());
    EXPECT_EQ(tree_.RootFolder().GetName(), "Filesystem");
}

TEST_F(TreeTest, ObjectsSharingAnIdAreAllKeptNewestFirst) {
    FoundObject* older = tree_.MergeObject(Entry(7, 2, "a.txt"));
    FoundObject* newer = tree_.MergeObject(Entry(7, 2, "b.txt"));
    FoundObjectTree::Cursor cursor = FoundObjectTree::kFreshCursor;
    EXPECT_EQ(tree_.FindById(7, cursor), newer);
    EXPECT_EQ(tree_.FindById(7, cursor), older);
    EXPECT_EQ(tree_.FindById(7, cursor), nullptr);
    std::vector<FoundObject*> children;
    tree_.GetChildren(2, children);
    EXPECT_EQ(children, (std::vector<FoundObject*>{newer, older}));
}

TEST_F(TreeTest, ChildBeforeItsFolderGetsAPlaceholderThatBecomesTheFolder) {
    FoundObject* child = tree_.MergeObject(Entry(900, 123, "photo.jpg"));
    FoundObjectTree::Cursor cursor = FoundObjectTree::kFreshCursor;
    FoundObject* placeholder = tree_.FindById(123, cursor);
    ASSERT_NE(placeholder, nullptr);
    EXPECT_EQ(placeholder->GetName(), "lost_folder_123");
    EXPECT_EQ(placeholder->ParentId, static_cast<std::uint64_t>(-18));
    EXPECT_EQ(placeholder->Flags, 0x0215 | ObjectFlags::Named | ObjectFlags::NameOwned);
    EXPECT_EQ(tree_.GetFolderPath(*child), "lost_folder_123/");

    FoundObject* folder = tree_.MergeObject(Entry(123, 2, "Holiday", true));
    EXPECT_EQ(folder, placeholder) << "the placeholder keeps its identity";
    EXPECT_EQ(folder->GetName(), "Holiday");
    EXPECT_EQ(folder->ParentId, 2u);
    EXPECT_FALSE(folder->Is(ObjectFlags::LostFolder));
    std::vector<FoundObject*> lost;
    tree_.GetChildren(static_cast<std::uint64_t>(-18), lost);
    EXPECT_TRUE(lost.empty());
    std::vector<FoundObject*> children;
    tree_.GetChildren(123, children);
    EXPECT_EQ(children, std::vector<FoundObject*>{child});
    EXPECT_EQ(tree_.GetFolderPath(*child), "/Holiday/");
}

TEST_F(TreeTest, NoPlaceholderForTheRootOrForZeroIds) {
    tree_.MergeObject(Entry(10, 0, "a"));
    tree_.MergeObject(Entry(0, 55, "b"));
    tree_.MergeObject(Entry(11, 2, "c"));
    std::vector<FoundObject*> lost;
    tree_.GetChildren(static_cast<std::uint64_t>(-18), lost);
    EXPECT_TRUE(lost.empty());
}

TEST_F(TreeTest, FormatsThatAreSwitchedOffAreNotAdded) {
    EXPECT_EQ(tree_.MergeObject(Entry(12, 2, "song.wav")), nullptr);
    tree_.BuildStartIndex();
    const auto result = tree_.AddFoundFile(Carved(8192, 410));
    EXPECT_EQ(result.outcome, FoundObjectTree::FoundFileResult::Outcome::Disabled);
    EXPECT_EQ(tree_.FindAtStart(8192), nullptr);
}

TEST_F(TreeTest, FileFoundByItsSignatureIsNamedAndFiledUnderItsGroup) {
    tree_.BuildStartIndex();
    const auto result = tree_.AddFoundFile(Carved(1048576, 300));
    ASSERT_EQ(result.outcome, FoundObjectTree::FoundFileResult::Outcome::Added);
    FoundObject* photo = result.object;
    EXPECT_EQ(photo->GetName(), "IMG_1048576.jpg");
    EXPECT_TRUE(photo->Is(ObjectFlags::FoundBySignature));
    EXPECT_EQ(static_cast<std::int32_t>(photo->ParentId), kImagesGroup);
    EXPECT_EQ(volume_.carved, 1);
    FoundObjectTree::Cursor cursor = FoundObjectTree::kFreshCursor;
    FoundObject* group = tree_.FindById(photo->ParentId, cursor);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->GetName(), "Images");
    EXPECT_EQ(group->ParentId, static_cast<std::uint64_t>(-19));
    EXPECT_EQ(tree_.GetFolderPath(*photo), "Images/");
    const auto listed = tree_.ListedObjects();
    EXPECT_EQ(std::count(listed.begin(), listed.end(), group), 0) << "group folders are not listed";

    const auto unknown = tree_.AddFoundFile(Carved(2048, 999));
    EXPECT_EQ(unknown.object->GetName(), "lost_file_2048");
}

TEST_F(TreeTest, FileFoundAgainAtATakenStartIsNotAdded) {
    FoundObject* live = tree_.MergeObject(Entry(3, 2, "scan.dat"));
    tree_.BuildStartIndex();
    const auto result = tree_.AddFoundFile(Carved(live->Start, 300));
    EXPECT_EQ(result.outcome, FoundObjectTree::FoundFileResult::Outcome::FoundAgain);
    EXPECT_EQ(result.object, live);
    // A listed file stays what the file system says ("Live", its size, read through its
    // map); the scan only tells the type it did not know.
    EXPECT_FALSE(live->Is(ObjectFlags::FoundBySignature));
    EXPECT_EQ(live->SignatureId, 300);
    EXPECT_EQ(live->Size, 100u);
    EXPECT_EQ(live->GetName(), "scan.dat");
    EXPECT_EQ(volume_.carved, 0);
}

// The other order: the scan found the photo before the directory that names it.
TEST_F(TreeTest, AnEntryReadAfterTheScanFoundItsFileNamesThatFile) {
    tree_.BuildStartIndex();
    FoundObject* carved = tree_.AddFoundFile(Carved(7 * 4096, 300)).object;
    const FoundObject entry = Entry(7, 2, "IMG_0007.JPG");
    FoundObject* listed = tree_.MergeObject(entry);
    EXPECT_EQ(listed, carved) << "one object, not two";
    EXPECT_EQ(listed->GetName(), "IMG_0007.JPG");
    EXPECT_FALSE(listed->Is(ObjectFlags::FoundBySignature));
    EXPECT_EQ(listed->Size, 100u);
    EXPECT_EQ(listed->SignatureId, 300) << "the type the scan told stays";
    std::size_t atStart = 0;
    for (const FoundObject* object : tree_.ListedObjects())
        atStart += object->Start == 7 * 4096 ? 1 : 0;
    EXPECT_EQ(atStart, 1u);
    EXPECT_EQ(tree_.GetFolderPath(*listed), "/");
}

// A partition's node in its own tree carries its place on the disk; a photo found at that
// offset of the partition is still a photo, and sizes do not stop at the node.
TEST_F(TreeTest, TheVolumesOwnNodeNeitherHidesNorEndsAFile) {
    FoundObject node;
    node.Id = 0xFFFFFFFFFFFF0003ull;
    node.Start = 0x100000;  // the partition's offset on its disk
    node.Flags = ObjectFlags::Folder;
    tree_.AddObject(&node, true);
    tree_.BuildStartIndex();
    FoundObject* before = tree_.AddFoundFile(Carved(0x80000, 300)).object;
    const auto result = tree_.AddFoundFile(Carved(0x100000, 300));
    EXPECT_EQ(result.outcome, FoundObjectTree::FoundFileResult::Outcome::Added);
    EXPECT_NE(result.object, &node);
    EXPECT_EQ(before->Size, 0x80000u) << "up to the photo, not to the node";
}

TEST_F(TreeTest, UnknownEndsReachToTheNextThingFound) {
    tree_.BuildStartIndex();
    FoundObject* first = tree_.AddFoundFile(Carved(0x10000, 300)).object;
    FoundObject* last = tree_.AddFoundFile(Carved(0x30000, 300)).object;
    EXPECT_EQ(first->Size, 0x20000u);
    EXPECT_EQ(last->Size, kUnknownSize);
    FoundObject* middle = tree_.AddFoundFile(Carved(0x18000, 300)).object;
    EXPECT_EQ(first->Size, 0x8000u) << "shrinks when something is found in between";
    EXPECT_EQ(middle->Size, 0x18000u);
    EXPECT_EQ(tree_.NextAfterStart(0x10000), middle);
    EXPECT_EQ(tree_.NextOfSameType(*first), middle);
    EXPECT_EQ(tree_.NextAfterStart(0x30000), nullptr);
    EXPECT_EQ(tree_.NextAfterStart(0x12345), nullptr);
}

TEST_F(TreeTest, FolderPaths) {
    volume_.letter = 'D';
    FoundObject* a = tree_.MergeObject(Entry(20, 2, "A", true));
    FoundObject* b = tree_.MergeObject(Entry(21, 20, "B", true));
    FoundObject* file = tree_.MergeObject(Entry(22, 21, "x.jpg"));
    FoundObject* top = tree_.MergeObject(Entry(23, 2, "y.jpg"));
    EXPECT_EQ(tree_.GetFolderPath(*file), "D:/A/B/");
    EXPECT_EQ(tree_.GetFolderPath(*top), "D:/");
    EXPECT_EQ(tree_.GetFolderPath(tree_.RootFolder()), "D:/");
    volume_.letter = 0;
    EXPECT_EQ(tree_.GetFolderPath(*top), "/");
    // A loop of parents gives the part that could be followed, and ends.
    a->ParentId = 21;
    (void)b;
    EXPECT_EQ(tree_.GetFolderPath(*file), "A/B/");
}

// FAT ids are first clusters: a deleted file and the live folder that later took its
// cluster share one. Files below are in the folder, never in the file.
TEST_F(TreeTest, AParentIsALiveFolderBeforeADeletedOneAndNeverAFile) {
    FoundObject* dcim = tree_.MergeObject(Entry(37, 2, "DCIM", true));
    FoundObject old = Entry(37, 2, "_LD.JPG");
    old.Flags |= ObjectFlags::Deleted;
    tree_.MergeObject(old);  // newer than the folder with the same id
    FoundObject* photo = tree_.MergeObject(Entry(40, 37, "B.JPG"));
    EXPECT_EQ(tree_.GetFolderPath(*photo), "/DCIM/");
    FoundObject gone = Entry(37, 2, "TRIP", true);
    gone.Flags |= ObjectFlags::Deleted;
    tree_.MergeObject(gone);
    EXPECT_EQ(tree_.GetFolderPath(*photo), "/DCIM/") << "the live folder before the deleted one";
    (void)dcim;
    // Only a file bears the id: the photo keeps its placeholder folder, never the file.
    FoundObject* orphan = tree_.MergeObject(Entry(60, 50, "C.JPG"));
    EXPECT_EQ(tree_.GetFolderPath(*orphan), "lost_folder_50/");
    FoundObject sameId = Entry(50, 2, "_LD2.JPG");
    sameId.Flags |= ObjectFlags::Deleted;
    tree_.MergeObject(sameId);
    EXPECT_EQ(tree_.GetFolderPath(*orphan), "lost_folder_50/") << "a file is never a folder";
}

TEST_F(TreeTest, DeletedPathMarksEveryFolderUpToTheRoot) {
    FoundObject* a = tree_.MergeObject(Entry(30, 2, "A", true));
    FoundObject* b = tree_.MergeObject(Entry(31, 30, "B", true));
    FoundObject* gone = tree_.MergeObject(Entry(32, 31, "old.jpg"));
    gone->Flags |= ObjectFlags::Deleted;
    tree_.MarkDeletedPath(*gone);
    EXPECT_TRUE(b->Is(ObjectFlags::HasDeleted));
    EXPECT_TRUE(a->Is(ObjectFlags::HasDeleted));
    EXPECT_TRUE(tree_.RootFolder().Is(ObjectFlags::HasDeleted));
    EXPECT_FALSE(gone->Is(ObjectFlags::HasDeleted)) << "a file is not marked itself";
}

TEST_F(TreeTest, ClearKeepsTheSpecialFolders) {
    tree_.MergeObject(Entry(40, 2, "a"));
    tree_.MergeObject(Entry(41, 77, "b"));
    tree_.Clear();
    EXPECT_EQ(tree_.ObjectCount(), 0u);
    EXPECT_TRUE(tree_.ListedObjects().empty());
    EXPECT_EQ(tree_.LostFilesFolder().GetName(), "Lost files");
    EXPECT_FALSE(tree_.StartIndexOn());
}

TEST_F(TreeTest, TypeNames) {
    EXPECT_EQ(tree_.GetTypeName(tree_.RootFolder()), "Folder");
    FoundObject photo = Entry(50, 2, "x.jpg");
    photo.SignatureId = 300;
    EXPECT_EQ(tree_.GetTypeName(photo), "JPEG image");
    EXPECT_EQ(tree_.GetTypeName(Entry(51, 2, "notes.txt")), "TXT File");
    EXPECT_EQ(tree_.GetTypeName(Entry(52, 2, "README")), "File");
}

// The interface thread reads while the analysis thread adds.
TEST_F(TreeTest, ReadersWhileAWriterAdds) {
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done.load()) {
            std::vector<FoundObject*> children;
            tree_.GetChildren(2, children);
            for (FoundObject* child : children)
                ASSERT_EQ(child->ParentId, 2u);
            FoundObjectTree::Cursor cursor = FoundObjectTree::kFreshCursor;
            tree_.FindById(5000, cursor);
        }
    });
    for (std::uint64_t i = 100; i < 20000; ++i)
        tree_.MergeObject(Entry(i, 2, "f"));
    done = true;
    reader.join();
    EXPECT_EQ(tree_.ListedObjects().size(), 19900u);
}

}  // namespace
}  // namespace duzez::filesystems
