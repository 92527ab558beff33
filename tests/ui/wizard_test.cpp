// The wizards as a person meets them: a camera card taken from the drive page to its
// recovered photos through the 4-step wizard's buttons, the questions before leaving a
// view page, "Process Another Drive", and the moves between the wizards and the explorer.

#include <gtest/gtest.h>

#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "core/string_table.h"
#include "recovery/recovery.h"
#include "tests/ui/ui_machine.h"
#include "ui/explorer/explore_view.h"
#include "ui/frame/commands.h"
#include "ui/wizard/wizard_bar.h"
#include "ui/wizard/wizard_pages.h"
#include "ui/wizard/wizard_window.h"

namespace duzez::test {
namespace {

namespace Command = ui::Command;
using ui::WizardWindow;

// Every name the tree shows, depth first.
QStringList TreeTexts(const QAbstractItemModel& model, const QModelIndex& parent = {}) {
    QStringList texts;
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        texts << index.data().toString();
        texts << TreeTexts(model, index);
    }
    return texts;
}

std::size_t FilesBelow(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        count += entry.is_regular_file() ? 1 : 0;
    return count;
}

class WizardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_ = std::make_unique<UiMachine>(dir_ / "home");
        machine_->App().Settings().SetFlag(core::CSettings::kConfirmScanAbort, false);
    }

    WizardWindow& Open(int mode = Command::ModeWizard4) {
        EXPECT_TRUE(machine_->Modes().SwitchMode(mode));
        auto* wizard = qobject_cast<WizardWindow*>(machine_->Modes().Current());
        EXPECT_NE(wizard, nullptr);
        wizard->SetFolderOpener([this](const QString& folder) { opened_ << folder; });
        return *wizard;
    }

    QString Text(core::StringId id) {
        return QString::fromStdString(machine_->App().Languages().GetString(id));
    }

    // A FAT card with nothing on it.
    std::filesystem::path MakeEmptyCard() {
        const auto card = dir_ / "empty.img";
        if (!RunCommand("mkfs.fat -C -F 16 -s 4 '" + card.string() + "' 20000 >/dev/null"))
            return {};
        return card;
    }

    // The drive page, the destination page and the analysis, as the buttons lead there;
    // false when the view page was not reached.
    bool RunToViewPage(WizardWindow& wizard, const std::filesystem::path& card) {
        wizard.show();
        if (wizard.LoadImageFile(QString::fromStdString(card.string())) == nullptr)
            return false;
        wizard.UpdateButtons();
        if (!wizard.NextButton()->isEnabled())
            return false;
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
        auto* destination = wizard.FindPage<ui::ScanParamPage>();
        if (wizard.CurrentPage() != destination)
            return false;
        destination->Destination().Edit()->setText(QString::fromStdString(out_.string()));
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
        if (wizard.CurrentPage() != wizard.FindPage<ui::AnalysingPage>())
            return false;
        return WaitUntil([&wizard] {
            return wizard.CurrentPage() == wizard.FindPage<ui::ViewPage>() &&
                   !wizard.App().IsBusy();
        });
    }

    TempFolder dir_;
    std::filesystem::path out_ = dir_ / "out";
    std::unique_ptr<UiMachine> machine_;
    QStringList opened_;
};

// The start window, end to end: the card is chosen, analysed, its DCIM folder ticked and
// recovered, and the deleted photo comes back with the bytes it had.
TEST_F(WizardTest, WizardFourStepsRecoversTheCardsDeletedPhotoByteForByte) {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    const auto card = MakeCameraCard(dir_.path());
    ASSERT_FALSE(card.empty());
    auto& wizard = Open();
    EXPECT_EQ(wizard.PageCount(), 5);
    EXPECT_EQ(wizard.Title(), Text(core::StringId::Wizard4Step1));
    EXPECT_EQ(wizard.Bar().Current(), 0);
    // Nothing chosen yet: only the way out.
    wizard.UpdateButtons();
    EXPECT_FALSE(wizard.NextButton()->isEnabled());
    EXPECT_FALSE(wizard.BackButton()->isEnabled());

    ASSERT_TRUE(RunToViewPage(wizard, card));
    EXPECT_EQ(wizard.Title(), Text(core::StringId::Wizard4Step4));
    EXPECT_EQ(wizard.Bar().Current(), 3);
    EXPECT_EQ(machine_->App().Settings().DestinationFolder(), out_.string());
    EXPECT_GT(wizard.FilesFound(), 0u);

    // DCIM ticked with the keyboard in the view page's tree.
    auto* view = wizard.FindPage<ui::ViewPage>();
    auto& explorer = view->Explorer();
    devices::CVolume* volume = wizard.Volume();
    ASSERT_NE(volume, nullptr);
    const filesystems::FoundObject* dcim = nullptr;
    for (const auto* object : volume->FoundObjectTree->ListedObjects()) {
        if (object->GetName() == "DCIM")
            dcim = object;
    }
    ASSERT_NE(dcim, nullptr);
    const QModelIndex folder = explorer.TreeModel().IndexOf(*volume, *dcim);
    ASSERT_TRUE(folder.isValid());
    QTreeView* tree = explorer.TreeView();
    tree->setFocus();
    tree->setCurrentIndex(folder);
    QTest::keyClick(tree, Qt::Key_Space);
    ASSERT_EQ(folder.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);

    // "Recover...": the dialog offers the folder chosen on page 2; OK.
    QString offered;
    QTimer::singleShot(0, [&offered] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        offered = dialog->findChild<QLineEdit*>(QStringLiteral("destination"))->text();
        dialog->accept();
    });
    QTest::mouseClick(view->RecoverButton(), Qt::LeftButton);
    EXPECT_EQ(offered, QString::fromStdString(out_.string()));
    ASSERT_TRUE(WaitUntil([&wizard] { return wizard.Recovery().Finished(); }));

    for (int n = 1; n <= 4; ++n) {
        const std::string name = "IMG_000" + std::to_string(n) + ".JPG";
        const std::string written = n == 3 ? "_MG_0003.JPG" : name;
        EXPECT_TRUE(ReadFile(out_ / "DCIM" / "100CANON" / written) == ReadFile(dir_ / name))
            << written;
    }

    // Something was recovered: Next goes on without a question.
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    EXPECT_TRUE(machine_->Questions().asked.empty());
    auto* finish = wizard.FindPage<ui::FinishPage>();
    ASSERT_EQ(wizard.CurrentPage(), finish);
    EXPECT_EQ(wizard.Title(), Text(core::StringId::Wizard4Finish));
    EXPECT_EQ(finish->RecoveredText(), QString::number(FilesBelow(out_)));
    EXPECT_EQ(finish->FoundText(),
              QString::number(volume->FilesFound.load() + volume->SectorFilesFound.load()));
    QTest::mouseClick(finish->ExploreButton(), Qt::LeftButton);
    EXPECT_EQ(opened_, QStringList{QString::fromStdString(out_.string())});
}

class WizardViewPageTest : public WizardTest {};

TEST_F(WizardViewPageTest, WizardFilesFoundButNoneRecoveredAsksAndNoStaysOnThePage) {
    if (!HaveCardTools())
        GTEST_SKIP() << "dosfstools or mtools missing";
    const auto card = MakeCameraCard(dir_.path());
    ASSERT_FALSE(card.empty());
    auto& wizard = Open();
    ASSERT_TRUE(RunToViewPage(wizard, card));
    ASSERT_GT(wizard.FilesFound(), 0u);
    auto* view = wizard.FindPage<ui::ViewPage>();

    machine_->Questions().answers = {false};
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    ASSERT_EQ(machine_->Questions().asked.size(), 1u);
    EXPECT_EQ(machine_->Questions().asked[0], Text(core::StringId::Confirmation) +
                                                  QStringLiteral(": ") +
                                                  Text(core::StringId::NothingRecoveredMoveOn));
    EXPECT_EQ(wizard.CurrentPage(), view);

    // Yes moves on.
    machine_->Questions().answers = {true};
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    EXPECT_EQ(machine_->Questions().asked.size(), 2u);
    EXPECT_EQ(wizard.CurrentPage(), wizard.FindPage<ui::FinishPage>());
}

TEST_F(WizardViewPageTest, WizardNothingFoundMovesOnWithoutAsking) {
    if (!HaveTool("mkfs.fat"))
        GTEST_SKIP() << "dosfstools missing";
    const auto card = MakeEmptyCard();
    ASSERT_FALSE(card.empty());
    auto& wizard = Open();
    ASSERT_TRUE(RunToViewPage(wizard, card));
    ASSERT_EQ(wizard.FilesFound(), 0u);
    machine_->Questions().answers = {false};
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    EXPECT_TRUE(machine_->Questions().asked.empty());
    EXPECT_EQ(wizard.CurrentPage(), wizard.FindPage<ui::FinishPage>());
}

// The finish page's second button: the first page, and the drive tree as the list is now.
TEST_F(WizardViewPageTest, WizardProcessAnotherDriveReturnsToTheFirstPageWithTheDrivesReadAgain) {
    if (!HaveTool("mkfs.fat"))
        GTEST_SKIP() << "dosfstools missing";
    const auto card = MakeEmptyCard();
    ASSERT_FALSE(card.empty());
    auto& wizard = Open();
    ASSERT_TRUE(RunToViewPage(wizard, card));
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    auto* finish = wizard.FindPage<ui::FinishPage>();
    ASSERT_EQ(wizard.CurrentPage(), finish);

    // A second image listed behind the wizard's back: the tree does not show it yet.
    std::filesystem::copy_file(card, dir_ / "second.img");
    auto* drives = wizard.FindPage<ui::DrivePage>();
    const QStringList before = TreeTexts(*drives->Tree()->model());
    std::string error;
    devices::CVolume* second = machine_->Computer().LoadImage(dir_ / "second.img", error);
    ASSERT_NE(second, nullptr) << error;
    const QString secondName = QString::fromStdString(second->DisplayNameText());
    ASSERT_EQ(TreeTexts(*drives->Tree()->model()), before);

    QTest::mouseClick(finish->AnotherButton(), Qt::LeftButton);
    EXPECT_EQ(wizard.CurrentIndex(), 0);
    EXPECT_EQ(wizard.CurrentPage(), drives);
    EXPECT_EQ(wizard.Title(), Text(core::StringId::Wizard4Step1));
    const QStringList after = TreeTexts(*drives->Tree()->model());
    EXPECT_EQ(after.count(secondName), before.count(secondName) + 1);
    // The drives only: no found folders, no Trash.
    EXPECT_FALSE(after.contains(QStringLiteral("Trash")));
}

// The mode commands replace the window without the exit sequence: no question, and the
// program goes on in the mode chosen.
TEST_F(WizardTest, WizardModeCommandsSwitchToTheExplorerAndBackWithoutEnding) {
    machine_->App().Settings().SetFlag(core::CSettings::kConfirmShutdown, true);
    QPointer<QWidget> first = &Open();
    first->show();
    EXPECT_TRUE(qobject_cast<WizardWindow*>(first.data())
                    ->Bar()
                    .Html()
                    .contains(QStringLiteral("command:%1").arg(Command::ModeExplorer)));

    // From the bar's link to the explorer.
    emit qobject_cast<WizardWindow*>(first.data())->Bar().CommandRequested(Command::ModeExplorer);
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull() || !first->isVisible());
    auto* frame = qobject_cast<ui::MainFrame*>(machine_->Modes().Current());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(machine_->App().Settings().InterfaceMode(),
              static_cast<std::uint32_t>(Command::ModeExplorer));

    // From the explorer to the 9-step wizard, with its ten pages.
    QPointer<QWidget> explorer = frame;
    frame->RunCommand(Command::ModeWizard9);
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(explorer.isNull() || !explorer->isVisible());
    auto* nine = qobject_cast<WizardWindow*>(machine_->Modes().Current());
    ASSERT_NE(nine, nullptr);
    EXPECT_EQ(nine->Mode(), Command::ModeWizard9);
    EXPECT_EQ(nine->PageCount(), 10);
    EXPECT_EQ(nine->Title(), Text(core::StringId::WizardWelcome));
    EXPECT_EQ(nine->PageAt(9)->Title(), Text(core::StringId::Wizard9Step9));

    // And back to the 4-step wizard.
    QPointer<QWidget> previous = nine;
    nine->RunCommand(Command::ModeWizard4);
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(previous.isNull() || !previous->isVisible());
    auto* four = qobject_cast<WizardWindow*>(machine_->Modes().Current());
    ASSERT_NE(four, nullptr);
    EXPECT_EQ(four->Mode(), Command::ModeWizard4);
    EXPECT_TRUE(machine_->Questions().asked.empty());
    EXPECT_EQ(machine_->App().Settings().InterfaceMode(),
              static_cast<std::uint32_t>(Command::ModeWizard4));
}

// Stop on the analysing page ends the sector scan where it is, and the wizard goes on to
// the view page with what was found; nothing keeps running.
TEST_F(WizardTest, WizardStopEndsTheSectorScanEarlyAndShowsWhatWasFound) {
    // A 3 GB card of zeros (sparse): its sector scan takes long enough to be stopped.
    const auto card = dir_ / "big.img";
    if (!RunCommand("mkfs.fat -C -F 32 '" + card.string() + "' 3000000 >/dev/null"))
        GTEST_SKIP() << "mkfs.fat missing";
    auto& wizard = Open();
    wizard.show();
    ASSERT_NE(wizard.LoadImageFile(QString::fromStdString(card.string())), nullptr);
    wizard.UpdateButtons();
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    auto* destination = wizard.FindPage<ui::ScanParamPage>();
    ASSERT_EQ(wizard.CurrentPage(), destination);
    destination->Destination().Edit()->setText(QString::fromStdString(out_.string()));
    QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    auto* analysing = wizard.FindPage<ui::AnalysingPage>();
    ASSERT_EQ(wizard.CurrentPage(), analysing);
    devices::CVolume* volume = machine_->Computer().ActiveVolume.load();
    ASSERT_NE(volume, nullptr);
    ASSERT_TRUE(WaitUntil([volume] {
        return volume->VolumeState.load() == devices::VolumeStatus::SectorPhase &&
               volume->ProgressPosition.load() > 0;
    }));
    // The file-system phase is over: there is nothing left to skip.
    analysing->Tick();
    EXPECT_FALSE(analysing->SkipButton()->isEnabled());
    ASSERT_TRUE(analysing->StopButton()->isEnabled());
    QTest::mouseClick(analysing->StopButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&wizard] { return !wizard.App().IsBusy(); }, 20000));
    EXPECT_LT(volume->ProgressPosition.load(), volume->ProgressEnd.load());
    ASSERT_TRUE(WaitUntil(
        [&wizard] { return wizard.CurrentPage() == wizard.FindPage<ui::ViewPage>(); }, 5000));
    analysing->Tick();
    EXPECT_FALSE(analysing->StopButton()->isEnabled());
}

// Where the wizard was left is where it opens at the next start.
TEST_F(WizardTest, WizardOpensWhereItWasLeftAtTheNextStart) {
    auto& wizard = Open();
    wizard.show();
    wizard.setGeometry(60, 70, 820, 600);
    QApplication::processEvents();
    machine_.reset();  // closes the window as the program ends

    UiMachine next(dir_ / "home");
    const core::WindowRect stored = next.App().Settings().WindowGeometry();
    EXPECT_EQ(stored.left, 60);
    EXPECT_EQ(stored.top, 70);
    EXPECT_EQ(stored.width, 820);
    ASSERT_TRUE(next.Modes().SwitchMode(Command::ModeWizard4));
    // The size may grow to what the pages need; the place is the one left.
    EXPECT_EQ(next.Modes().Current()->geometry().topLeft(), QPoint(60, 70));
}

}  // namespace
}  // namespace duzez::test
