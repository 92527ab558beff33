// The explorer's models over a card analysed for real: size texts, the three-state check
// marks and what they hand to the recovery, sorting, and the models' own consistency.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QTreeView>

#include "tests/ui/ui_machine.h"
#include "ui/explorer/explore_view.h"
#include "ui/explorer/size_text.h"
#include "ui/frame/commands.h"

namespace duzez::test {
namespace {

using filesystems::FoundObject;
using ui::CheckState;

TEST(SizeText, WholeUnitsOnlyAboveEachThreshold) {
    const std::uint64_t kKilo = 1024;
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0"},
        {1024, "1024"},
        {1025, "1 KB"},
        {kKilo * kKilo, "1024 KB"},
        {kKilo * kKilo + 1, "1 MB"},
        {kKilo * kKilo * kKilo, "1024 MB"},
        {kKilo * kKilo * kKilo + 1, "1 GB"},
        {5 * kKilo * kKilo * kKilo * kKilo, "5120 GB"},
        {filesystems::kUnknownSize, "unknown"},
    };
    for (const auto& [size, text] : cases)
        EXPECT_EQ(ui::SizeText(size, false).toStdString(), text) << size;
    EXPECT_TRUE(ui::SizeText(4096, true).isEmpty());
}

class ExplorerModelsTest : public AnalysedCardTest {
  protected:
    ui::ExploreView& Explorer() { return machine_->Frame().Explorer(); }
    CheckState State(std::string_view name) {
        return Explorer().Checks().For(*volume_).State(*Named(name));
    }
    std::vector<std::string> CheckedNames() {
        std::vector<std::string> names;
        for (const FoundObject* file : Explorer().Checks().CheckedFiles(*volume_))
            names.emplace_back(file->GetName());
        std::sort(names.begin(), names.end());
        return names;
    }
    void Check(std::string_view name, bool on) {
        auto& tree = Explorer().TreeModel();
        FoundObject* object = Named(name);
        if (object->Is(filesystems::ObjectFlags::Folder)) {
            const QModelIndex index = tree.IndexOf(*volume_, *object);
            ASSERT_TRUE(index.isValid()) << name;
            tree.setData(index, on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
            return;
        }
        auto& list = Explorer().ListModel();
        list.ShowFolder(volume_, tree_->FolderWithId(object->ParentId));
        const int row = list.RowOf(object);
        ASSERT_GE(row, 0) << name;
        list.setData(list.index(row, 0), on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    }
};

TEST_F(ExplorerModelsTest, CheckingAFolderChecksAllBelowAndMarksItsAncestorsPartly) {
    Check("DCIM", true);
    EXPECT_EQ(State("DCIM"), CheckState::Checked);
    EXPECT_EQ(State("100CANON"), CheckState::Checked);
    EXPECT_EQ(State("IMG_0001.JPG"), CheckState::Checked);
    EXPECT_EQ(State("MISC"), CheckState::Unchecked);
    EXPECT_EQ(Explorer().Checks().For(*volume_).State(tree_->RootFolder()), CheckState::Partial);
    EXPECT_EQ(Explorer().Checks().For(*volume_).State(volume_->TreeNode), CheckState::Partial);
    // The deleted photo comes along with its folder.
    EXPECT_EQ(CheckedNames(), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG",
                                                        "IMG_0004.JPG", "_MG_0003.JPG"}));

    Check("IMG_0002.JPG", false);
    EXPECT_EQ(State("100CANON"), CheckState::Partial);
    EXPECT_EQ(State("DCIM"), CheckState::Partial);
    EXPECT_EQ(CheckedNames(),
              (std::vector<std::string>{"IMG_0001.JPG", "IMG_0004.JPG", "_MG_0003.JPG"}));
    // Checking the folder again takes in what was left out below it.
    Check("100CANON", true);
    EXPECT_EQ(State("100CANON"), CheckState::Checked);
    EXPECT_EQ(State("DCIM"), CheckState::Checked);
    EXPECT_EQ(CheckedNames().size(), 4u);
}

TEST_F(ExplorerModelsTest, UncheckingTheLastCheckedChildLeavesItsFoldersUnchecked) {
    Check("IMG_0004.JPG", true);
    EXPECT_EQ(State("100CANON"), CheckState::Partial);
    EXPECT_EQ(State("DCIM"), CheckState::Partial);
    Check("IMG_0004.JPG", false);
    EXPECT_EQ(State("100CANON"), CheckState::Unchecked);
    EXPECT_EQ(State("DCIM"), CheckState::Unchecked);
    EXPECT_EQ(Explorer().Checks().For(*volume_).State(volume_->TreeNode), CheckState::Unchecked);
    EXPECT_TRUE(CheckedNames().empty());
    // The tree shows what the marks say.
    auto& tree = Explorer().TreeModel();
    const QModelIndex dcim = tree.IndexOf(*volume_, *Named("DCIM"));
    EXPECT_EQ(tree.data(dcim, Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
}

TEST_F(ExplorerModelsTest, ModelsPassTheConsistencyChecksAndSortTheList) {
    auto& tree = Explorer().TreeModel();
    QAbstractItemModelTester treeTester(&tree,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto& list = Explorer().ListModel();
    list.ShowFolder(volume_, Named("100CANON"));
    QAbstractItemModelTester listTester(&list,
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(list.rowCount(), 4);
    list.sort(ui::FileListModel::Size, Qt::DescendingOrder);
    std::vector<std::uint64_t> sizes;
    for (int row = 0; row < list.rowCount(); ++row)
        sizes.push_back(list.ObjectAt(list.index(row, 0))->Size);
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend()));
    EXPECT_EQ(sizes.front(), 4u + 20000 + 4 * 3000);
    list.sort(ui::FileListModel::Name, Qt::AscendingOrder);
    EXPECT_EQ(list.index(0, 0).data().toString(), QStringLiteral("_MG_0003.JPG"));
    EXPECT_EQ(list.index(1, 0).data().toString(), QStringLiteral("IMG_0001.JPG"));
    EXPECT_EQ(list.index(3, 0).data().toString(), QStringLiteral("IMG_0004.JPG"));
    // New folders show up when the tree refreshes; nothing is lost on the way.
    tree.Refresh();
    EXPECT_TRUE(tree.IndexOf(*volume_, *Named("MISC")).isValid());
}

}  // namespace
}  // namespace duzez::test
