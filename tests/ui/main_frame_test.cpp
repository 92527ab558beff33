// The explorer window as a person meets it: what is enabled while an analysis runs, the
// questions before stopping and closing (and that declining changes nothing), the progress
// bar and status, the placement kept across a restart, and a card recovered through the
// widgets byte for byte.

#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "core/window_messages.h"
#include "recovery/recovery.h"
#include "tests/ui/ui_machine.h"
#include "ui/explorer/explore_view.h"
#include "ui/explorer/find_bar.h"
#include "ui/explorer/trash_view.h"
#include "ui/frame/commands.h"
#include "ui/frame/startup.h"
#include "ui/frame/udisks_opener.h"
#include "ui/viewer/hex_view.h"

namespace duzez::test {
namespace {

namespace Command = ui::Command;

class MainFrameTest : public ::testing::Test {
  protected:
    void SetUp() override { machine_ = std::make_unique<UiMachine>(dir_ / "home"); }
    ui::MainFrame& Frame() { return machine_->Frame(); }
    bool Enabled(int command) { return Frame().Action(command)->isEnabled(); }
    // A loaded card made busy as an analysis would make it, without a thread.
    devices::CVolume* BusyCard() {
        const auto card = MakeCameraCard(dir_.path());
        if (card.empty())
            return nullptr;
        devices::CVolume* volume = Frame().LoadImageFile(QString::fromStdString(card.string()));
        machine_->App().AnalysisRunning = true;
        machine_->Computer().ActiveVolume = volume;
        volume->VolumeState = devices::VolumeStatus::SectorPhase;
        Frame().UpdateCommands();
        return volume;
    }

    TempFolder dir_;
    std::unique_ptr<UiMachine> machine_;
};

TEST_F(MainFrameTest, WhileBusyOnlyStopAndTheFileViewsStayUsable) {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    devices::CVolume* volume = BusyCard();
    ASSERT_NE(volume, nullptr);
    for (const int command :
         {Command::StartAnalyzing, Command::RescanDrives, Command::CreateDriveImage,
          Command::LoadDriveImage, Command::SearchLostDrives, Command::Search, Command::Recover}) {
        EXPECT_FALSE(Enabled(command)) << command;
    }
    EXPECT_TRUE(Enabled(Command::StopAnalyzing));
    machine_->App().AnalysisRunning = false;
    volume->VolumeState = devices::VolumeStatus::Ready;
    Frame().UpdateCommands();
    EXPECT_TRUE(Enabled(Command::StartAnalyzing));
    EXPECT_TRUE(Enabled(Command::RescanDrives));
    EXPECT_FALSE(Enabled(Command::StopAnalyzing));
}

TEST_F(MainFrameTest, DecliningToStopTheScanChangesNothing) {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    devices::CVolume* volume = BusyCard();
    ASSERT_NE(volume, nullptr);
    machine_->App().Settings().SetFlag(core::CSettings::kConfirmScanAbort, true);
    const auto logBefore = machine_->Computer().Log().Lines();
    machine_->Questions().answers = {false};
    Frame().RunCommand(Command::StopAnalyzing);
    EXPECT_EQ(machine_->Questions().asked.size(), 1u);
    EXPECT_TRUE(machine_->App().IsBusy());
    EXPECT_EQ(volume->VolumeState.load(), devices::VolumeStatus::SectorPhase);
    EXPECT_EQ(machine_->Computer().Log().Lines(), logBefore);
    EXPECT_TRUE(machine_->App().Settings().ContinueWithSectors());

    machine_->Questions().answers = {true};
    Frame().RunCommand(Command::StopAnalyzing);
    EXPECT_FALSE(machine_->App().IsBusy());
    EXPECT_FALSE(machine_->App().Settings().ContinueWithSectors());
}

TEST_F(MainFrameTest, DecliningToExitKeepsTheWindowAndWritesNothing) {
    Frame().show();
    machine_->App().Settings().SetFlag(core::CSettings::kConfirmShutdown, true);
    machine_->App().Settings().SaveSettings();
    const auto store = dir_ / "home" / "config" / "registry.reg";
    const std::string before = ReadFile(store);
    Frame().setGeometry(40, 50, 500, 400);
    machine_->Questions().answers = {false};
    EXPECT_FALSE(Frame().close());
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_EQ(machine_->Questions().asked.size(), 1u);
    EXPECT_EQ(ReadFile(store), before);
}

TEST_F(MainFrameTest, TheFinishMessageHidesTheProgressAndSaysReady) {
    Frame();
    machine_->App().AnalysisRunning = true;
    auto window = machine_->App().MainWindow();
    ASSERT_NE(window, nullptr);
    window->Post({core::WM_APP + 509, 0, 0, {}});
    Frame().DrainMessages();
    EXPECT_TRUE(Frame().ProgressShown());
    window->Post({core::WM_APP + 108, 0, 0, {}});
    Frame().DrainMessages();
    EXPECT_FALSE(Frame().ProgressShown());
    EXPECT_FALSE(machine_->App().IsBusy());
    EXPECT_EQ(Frame().StatusText(), QStringLiteral("Ready"));
}

TEST_F(MainFrameTest, TheNextStartOpensWhereTheWindowWasLeft) {
    const QRect placed(30, 40, 520, 410);
    Frame().show();
    Frame().setGeometry(placed);
    machine_->App().Settings().SetFlag(core::CSettings::kConfirmShutdown, false);
    const QRect left = Frame().geometry();
    EXPECT_TRUE(Frame().close());
    machine_.reset();
    UiMachine next(dir_ / "home");
    EXPECT_EQ(next.Frame().geometry(), left);
}

TEST_F(MainFrameTest, ACardIsAnalysedCheckedAndRecoveredThroughTheWidgets) {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    const auto card = MakeCameraCard(dir_.path());
    ASSERT_FALSE(card.empty());
    auto& frame = Frame();
    frame.show();
    devices::CVolume* volume = frame.LoadImageFile(QString::fromStdString(card.string()));
    ASSERT_NE(volume, nullptr);
    frame.Action(Command::StartAnalyzing)->trigger();
    ASSERT_TRUE(WaitUntil([this] { return !machine_->App().IsBusy(); }));
    frame.DrainMessages();

    // The card's folder DCIM, ticked with the keyboard in the tree.
    auto& explorer = frame.Explorer();
    QTreeView* tree = explorer.TreeView();
    const auto dcim = [&]() -> const filesystems::FoundObject* {
        for (const auto* object : volume->FoundObjectTree->ListedObjects()) {
            if (object->GetName() == "DCIM")
                return object;
        }
        return nullptr;
    }();
    ASSERT_NE(dcim, nullptr);
    const QModelIndex folder = explorer.TreeModel().IndexOf(*volume, *dcim);
    ASSERT_TRUE(folder.isValid());
    tree->setFocus();
    tree->setCurrentIndex(folder);
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(folder.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    frame.UpdateCommands();
    ASSERT_TRUE(frame.Action(Command::Recover)->isEnabled());

    // Recover: the dialog gets the destination and OK, as a person would type it.
    const auto out = dir_ / "out";
    QTimer::singleShot(0, [&out] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QLineEdit*>(QStringLiteral("destination"))
            ->setText(QString::fromStdString(out.string()));
        dialog->accept();
    });
    frame.Action(Command::Recover)->trigger();
    ASSERT_TRUE(WaitUntil([&frame] { return frame.Recovery().Finished(); }));
    for (int n = 1; n <= 4; ++n) {
        const std::string name = "IMG_000" + std::to_string(n) + ".JPG";
        const std::string written = n == 3 ? "_MG_0003.JPG" : name;
        EXPECT_TRUE(ReadFile(out / "DCIM" / "100CANON" / written) == ReadFile(dir_ / name))
            << written;
    }
    // The folder is in the stored settings for the next recovery.
    EXPECT_EQ(machine_->App().Settings().DestinationFolder(), out.string());
}

// A language file with only its menu section: the menu bar follows the language chosen,
// and what the file does not name keeps its text.
TEST_F(MainFrameTest, TheMenuBarSpeaksTheLanguageChosen) {
    const auto languages = dir_ / "Languages";
    WriteFile(languages / "Deutsch.lng",
              "[MainMenu]\n0=&Laufwerk\n32774=Analyse starten\n32781=Laufwerke neu einlesen\tF5\n");
    machine_.reset();  // one program at a time
    UiMachine german(dir_ / "german", languages);
    auto& frame = german.Frame();
    EXPECT_EQ(frame.Action(Command::StartAnalyzing)->text(), QStringLiteral("Start Analyzing"));
    german.App().Languages().SelectLanguageByName("Deutsch");
    EXPECT_EQ(frame.Action(Command::StartAnalyzing)->text(), QStringLiteral("Analyse starten"));
    EXPECT_EQ(frame.Action(Command::RescanDrives)->text(),
              QStringLiteral("Laufwerke neu einlesen"));
    EXPECT_EQ(frame.Action(Command::Recover)->text(), QStringLiteral("Recover..."));
    const auto popups = frame.menuBar()->actions();
    ASSERT_FALSE(popups.empty());
    EXPECT_EQ(popups.front()->text(), QStringLiteral("&Laufwerk"));
}

// Switching modes replaces the window without the exit sequence: no question, nothing
// stored, the program goes on.
TEST_F(MainFrameTest, SwitchingModesClosesTheOldWindowWithoutExiting) {
    machine_->App().Settings().SetFlag(core::CSettings::kConfirmShutdown, true);
    QPointer<QWidget> first = &Frame();
    first->show();
    ASSERT_TRUE(machine_->Modes().SwitchMode(Command::ModeExplorerViewer));
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull() || !first->isVisible());
    EXPECT_NE(machine_->Modes().Current(), first.data());
    EXPECT_TRUE(machine_->Questions().asked.empty());
    EXPECT_EQ(machine_->App().Settings().InterfaceMode(),
              static_cast<std::uint32_t>(Command::ModeExplorerViewer));
}

// The start-up's rescan happens once, at the first idle moment; when an analysis was
// already under way then, it must not later take the analysed card out of view.
TEST_F(MainFrameTest, TheStartUpRescanNeverTakesAnAnalysedCardOutOfView) {
    auto& frame = Frame();
    auto& settings = machine_->App().Settings();
    ASSERT_TRUE(settings.RescanPending());
    ASSERT_TRUE(WaitUntil([&settings] { return !settings.RescanPending(); }, 5000));
    EXPECT_EQ(frame.Explorer().Mode(), ui::ViewMode::MyComputer);
    // The machine started without its drives listed: the rescan read them.
    const std::size_t listed = machine_->Computer().Volumes().Snapshot().size();
    EXPECT_EQ(listed, machine_->Computer().Volumes().Rescan());

    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    const auto card = MakeCameraCard(dir_.path());
    ASSERT_FALSE(card.empty());
    devices::CVolume* volume = frame.LoadImageFile(QString::fromStdString(card.string()));
    ASSERT_NE(volume, nullptr);
    settings.SetRescanPending(true);
    frame.RunCommand(Command::StartAnalyzing);
    ASSERT_TRUE(WaitUntil([this] { return !machine_->App().IsBusy(); }));
    ASSERT_TRUE(WaitUntil([&settings] { return !settings.RescanPending(); }, 5000));
    QTest::qWait(300);  // one more tick of the idle timer
    auto& explorer = frame.Explorer();
    EXPECT_NE(explorer.Mode(), ui::ViewMode::MyComputer);
    EXPECT_EQ(explorer.SelectedVolume(), volume);
    EXPECT_FALSE(volume->FoundObjectTree->ListedObjects().empty());
}

// The Trash node of the tree shows the desktop's Trash, and its icon says whether it holds
// anything.
TEST_F(MainFrameTest, TheTrashNodeShowsTheDesktopsTrash) {
    const auto trash = dir_ / "home" / "data" / "Trash";
    WriteFile(trash / "files" / "holiday.jpg", "photo");
    WriteFile(trash / "info" / "holiday.jpg.trashinfo",
              "[Trash Info]\nPath=/tmp/holiday.jpg\nDeletionDate=2026-12-01T10:00:00\n");
    auto& explorer = Frame().Explorer();
    const QModelIndex node = explorer.TreeModel().TrashIndex();
    ASSERT_TRUE(node.isValid());
    explorer.TreeView()->setCurrentIndex(node);
    EXPECT_EQ(explorer.Mode(), ui::ViewMode::RecycleBin);
    ASSERT_NE(explorer.Trash(), nullptr);
    EXPECT_GE(explorer.Trash()->ItemCount(), 1);
    EXPECT_EQ(explorer.SelectedVolume(), nullptr);
    Frame().UpdateCommands();
    EXPECT_FALSE(Enabled(Command::StartAnalyzing));
}

// Find: the bar takes the left pane, its results fill the list as they come, and the
// command again brings the tree back.
TEST_F(MainFrameTest, TheFindBarSearchesTheAnalysedCardIntoTheList) {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    const auto card = MakeCameraCard(dir_.path());
    ASSERT_FALSE(card.empty());
    auto& frame = Frame();
    ASSERT_NE(frame.LoadImageFile(QString::fromStdString(card.string())), nullptr);
    frame.RunCommand(Command::StartAnalyzing);
    ASSERT_TRUE(WaitUntil([this] { return !machine_->App().IsBusy(); }));
    frame.DrainMessages();
    frame.RunCommand(Command::Search);
    auto& explorer = frame.Explorer();
    EXPECT_EQ(explorer.Mode(), ui::ViewMode::Search);
    EXPECT_TRUE(frame.Action(Command::Search)->isChecked());
    explorer.Finder()
        ->findChild<QLineEdit*>(QStringLiteral("namePattern"))
        ->setText(QStringLiteral("*.jpg"));
    emit explorer.Finder()->SearchRequested(explorer.Finder()->Criteria());
    ASSERT_TRUE(WaitUntil([&explorer] {
        explorer.UpdateSearch();
        return !explorer.Searching() && explorer.ListModel().rowCount() == 4;
    }));
    QStringList names;
    for (int row = 0; row < 4; ++row)
        names << explorer.ListModel().index(row, 0).data().toString();
    names.sort();
    EXPECT_EQ(names, (QStringList{"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0004.JPG", "_MG_0003.JPG"}));
    EXPECT_EQ(explorer.ListModel().columnCount(), 5);  // with "In Folder"
    EXPECT_TRUE(machine_->Questions().told.empty());
    frame.RunCommand(Command::Search);
    EXPECT_NE(explorer.Mode(), ui::ViewMode::Search);
}

// The bottom pane's data viewer shows the focused photo's first bytes, and the display
// filter set in the Filters dialog's record shows only the deleted photo and its folders.
class BottomPaneAndFilterTest : public AnalysedCardTest {};

TEST_F(BottomPaneAndFilterTest, TheViewerFollowsTheFocusAndTheFilterTheRecord) {
    auto& frame = machine_->Frame();
    auto& explorer = frame.Explorer();
    auto& list = explorer.ListModel();
    const QModelIndex folder = explorer.TreeModel().IndexOf(*volume_, *Named("100CANON"));
    ASSERT_TRUE(folder.isValid());
    explorer.TreeView()->setCurrentIndex(folder);
    ASSERT_EQ(list.rowCount(), 4);
    frame.ShowDataViewerPage();
    explorer.ListView()->setCurrentIndex(list.index(list.RowOf(Named("IMG_0002.JPG")), 0));
    EXPECT_TRUE(frame.DataViewer().RowText(0).contains(QStringLiteral("FF D8 FF E0")))
        << frame.DataViewer().RowText(0).toStdString();

    machine_->Computer().Filter().SetDeletedOnly(true);
    explorer.ApplyDisplayFilter();
    ASSERT_EQ(list.rowCount(), 1);
    EXPECT_EQ(list.index(0, 0).data().toString(), QStringLiteral("_MG_0003.JPG"));
    // The folders on the way to it stay in the tree; the empty one goes.
    EXPECT_TRUE(explorer.TreeModel().IndexOf(*volume_, *Named("DCIM")).isValid());
    EXPECT_FALSE(explorer.TreeModel().IndexOf(*volume_, *Named("MISC")).isValid());
    machine_->Computer().Filter().SetDeletedOnly(false);
    explorer.ApplyDisplayFilter();
    EXPECT_EQ(list.rowCount(), 4);
}

TEST(DriveAccess, RootTheDiskGroupOrUdisksMayReadDrives) {
    EXPECT_TRUE(ui::MayReadDrives(0, {}, std::nullopt, false));
    EXPECT_TRUE(ui::MayReadDrives(1000, {1000, 6}, 6u, false));
    EXPECT_FALSE(ui::MayReadDrives(1000, {1000, 24}, 6u, false));
    EXPECT_FALSE(ui::MayReadDrives(1000, {6}, std::nullopt, false));
    EXPECT_TRUE(ui::MayReadDrives(1000, {1000}, 6u, true));
}

TEST(DriveAccess, UdisksNamesOnlyDeviceNodes) {
    TempFolder dir;
    EXPECT_EQ(ui::UdisksObjectPath("/dev/null"), "/org/freedesktop/UDisks2/block_devices/null");
    // A link elsewhere is judged by where it leads.
    std::filesystem::create_symlink("/dev/null", dir / "disk");
    EXPECT_EQ(ui::UdisksObjectPath((dir / "disk").string()),
              "/org/freedesktop/UDisks2/block_devices/null");
    WriteFile(dir / "sdb", "x");
    EXPECT_EQ(ui::UdisksObjectPath((dir / "sdb").string()), "");
    EXPECT_EQ(ui::UdisksObjectPath("/dev/../etc/passwd"), "");
    EXPECT_EQ(ui::UdisksObjectPath("/nonexistent/sdz"), "");
}

}  // namespace
}  // namespace duzez::test
