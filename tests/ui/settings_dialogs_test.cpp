// The settings sheet, the "Filters" dialog, the file-type trees and the display filter the
// explorer views apply: ranges refused with the sheet kept open, dependent controls, the
// temporary-folder rule, Cancel, the language chosen at once, and which objects of a real
// card the filter keeps.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeWidget>
#include <algorithm>
#include <fstream>
#include <functional>

#include "filesystems/found_object_tree.h"
#include "platform/program_folders.h"
#include "tests/ui/ui_machine.h"
#include "ui/dialogs/file_types_dialog.h"
#include "ui/dialogs/filters_dialog.h"
#include "ui/dialogs/settings_sheet.h"
#include "ui/explorer/display_filter.h"

namespace duzez::test {
namespace {

using core::CFileFilter;
using core::CSettings;
using filesystems::FoundObject;
namespace Flags = filesystems::ObjectFlags;
using ui::FileTypeMark;
using ui::FileTypesDialog;
using ui::FileTypesTree;
using ui::FiltersDialog;
using ui::PassesDisplayFilter;
using ui::SettingsSheet;

constexpr std::int32_t kJpeg = 300;
constexpr std::int32_t kPng = 301;

// Every format item of a tree with its format number.
std::vector<std::pair<std::int32_t, QTreeWidgetItem*>> FormatItems(const FileTypesTree& tree,
                                                                   const auto& database) {
    std::vector<std::pair<std::int32_t, QTreeWidgetItem*>> items;
    for (const auto& format : database.Signatures()) {
        if (QTreeWidgetItem* item = tree.FormatItem(format->FormatId))
            items.emplace_back(format->FormatId, item);
    }
    return items;
}

class SettingsSheetTest : public ::testing::Test {
  protected:
    SettingsSheetTest() : machine_(dir_ / "home") {}

    std::unique_ptr<SettingsSheet> Open(int page) {
        auto sheet = std::make_unique<SettingsSheet>(machine_.App(), machine_.Computer(),
                                                     machine_.Questions(), page);
        sheet->show();
        return sheet;
    }
    CSettings& Settings() { return machine_.App().Settings(); }

    TempFolder dir_;
    UiMachine machine_;
};

TEST_F(SettingsSheetTest, OpensOnTheRequestedPageWithThePagesInOrder) {
    const QString inOrder[] = {"Common Settings",   "Confirmations", "File Types",
                               "Temporary Folder",  "Drive Access",  "Logging",
                               "Interface Language"};
    for (int page = 0; page < SettingsSheet::kPageCount; ++page) {
        auto sheet = Open(page);
        EXPECT_EQ(sheet->CurrentPage(), page);
        EXPECT_EQ(sheet->PageTitle(page), inOrder[page]);
    }
    EXPECT_EQ(Open(0)->windowTitle(), QStringLiteral("Settings"));
}

TEST_F(SettingsSheetTest, RetryAttemptsOfZeroAreAccepted) {
    auto sheet = Open(SettingsSheet::kDriveAccess);
    ASSERT_EQ(Settings().ReadRetryAttempts(), 10u);
    sheet->RetryAttempts()->Edit()->setText(QStringLiteral("0"));
    sheet->RetryPause()->Edit()->setText(QStringLiteral("1000000"));
    sheet->accept();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(machine_.Questions().told.empty());
    EXPECT_EQ(Settings().ReadRetryAttempts(), 0u);
    EXPECT_EQ(Settings().RetryPauseMs(), 1000000u);
}

TEST_F(SettingsSheetTest, NumbersOutOfRangeAreRefusedWithTheSheetOpenAndNothingStored) {
    struct Case {
        int page;
        std::function<ui::NumberBox*(SettingsSheet&)> box;
        QString text;
    };
    const Case cases[] = {
        {SettingsSheet::kDriveAccess, [](SettingsSheet& s) { return s.RetryAttempts(); },
         "1000001"},
        {SettingsSheet::kDriveAccess, [](SettingsSheet& s) { return s.RetryPause(); }, "1000001"},
        {SettingsSheet::kLogging, [](SettingsSheet& s) { return s.LogFileSize(); }, "0"},
        {SettingsSheet::kLogging, [](SettingsSheet& s) { return s.LogFileSize(); }, "102401"},
        {SettingsSheet::kDriveAccess, [](SettingsSheet& s) { return s.RetryAttempts(); }, ""},
    };
    const std::vector<std::uint8_t> before = Settings().Bytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        machine_.Questions().told.clear();
        auto sheet = Open(SettingsSheet::kCommon);
        sheet->ShowSplash()->setChecked(!sheet->ShowSplash()->isChecked());
        c.box(*sheet)->Edit()->setText(c.text);
        sheet->accept();
        EXPECT_TRUE(sheet->isVisible());
        EXPECT_NE(sheet->result(), QDialog::Accepted);
        EXPECT_EQ(sheet->CurrentPage(), c.page);
        EXPECT_EQ(machine_.Questions().told.size(), 1u);
        EXPECT_FALSE(sheet->Apply());
        EXPECT_EQ(Settings().Bytes(), before);
    }
}

TEST_F(SettingsSheetTest, LogFileSizeAtItsEndsIsAccepted) {
    for (const std::uint32_t size : {1u, 102400u}) {
        auto sheet = Open(SettingsSheet::kLogging);
        sheet->LogFileSize()->Edit()->setText(QString::number(size));
        EXPECT_TRUE(sheet->Apply());
        EXPECT_EQ(Settings().MaxLogFileSizeKb(), size);
    }
    EXPECT_TRUE(machine_.Questions().told.empty());
}

TEST_F(SettingsSheetTest, ClearingSaveLogInFileDisablesTheThreeFileControls) {
    Settings().SetFlag(CSettings::kSaveLogInFile, true);
    auto sheet = Open(SettingsSheet::kLogging);
    const QWidget* dependent[] = {sheet->LogFileName(), sheet->LogFileSize(), sheet->ClearLog()};
    for (const QWidget* control : dependent)
        EXPECT_TRUE(control->isEnabled());
    sheet->SaveLog()->setChecked(false);
    for (const QWidget* control : dependent)
        EXPECT_FALSE(control->isEnabled());
    EXPECT_TRUE(sheet->DebugLog()->isEnabled());
    sheet->SaveLog()->setChecked(true);
    for (const QWidget* control : dependent)
        EXPECT_TRUE(control->isEnabled());

    sheet->SaveLog()->setChecked(false);
    sheet->DebugLog()->setChecked(false);
    sheet->ClearLog()->setChecked(false);
    sheet->LogFileName()->setText(QStringLiteral("/var/tmp/duzez.log"));
    ASSERT_TRUE(sheet->Apply());
    EXPECT_FALSE(Settings().SaveLogInFile());
    EXPECT_FALSE(Settings().LogToDebugOutput());
    EXPECT_FALSE(Settings().ClearLogOnStartup());
    EXPECT_EQ(Settings().LogFileName(), "/var/tmp/duzez.log");
}

TEST_F(SettingsSheetTest, TemporaryFolderIsCustomExactlyWhenItDiffersFromTheSystemOne) {
    const std::string system = platform::SystemTempFolder().string();
    {
        Settings().SetTempFolder(QString::fromStdString(system).toUpper().toStdString());
        auto sheet = Open(SettingsSheet::kTemporary);
        EXPECT_TRUE(sheet->SystemTemp()->isChecked());
        EXPECT_FALSE(sheet->TempFolder()->isEnabled());
        EXPECT_FALSE(sheet->BrowseTemp()->isEnabled());
        sheet->CustomTemp()->setChecked(true);
        EXPECT_TRUE(sheet->TempFolder()->isEnabled());
        EXPECT_TRUE(sheet->BrowseTemp()->isEnabled());
    }
    {
        Settings().SetTempFolder("/srv/scratch");
        Settings().SetFlag(CSettings::kCustomTempFolder, true);
        auto sheet = Open(SettingsSheet::kTemporary);
        EXPECT_TRUE(sheet->CustomTemp()->isChecked());
        EXPECT_TRUE(sheet->TempFolder()->isEnabled());
        EXPECT_EQ(sheet->TempFolder()->text(), QStringLiteral("/srv/scratch"));
        // The system choice stores the system folder, whatever the edit says.
        sheet->SystemTemp()->setChecked(true);
        ASSERT_TRUE(sheet->Apply());
        EXPECT_EQ(Settings().TempFolder(), system);
        EXPECT_FALSE(Settings().UseCustomTempFolder());
    }
    {
        auto sheet = Open(SettingsSheet::kTemporary);
        EXPECT_TRUE(sheet->SystemTemp()->isChecked());
        sheet->CustomTemp()->setChecked(true);
        sheet->TempFolder()->setText(QStringLiteral("/srv/other"));
        ASSERT_TRUE(sheet->Apply());
        EXPECT_EQ(Settings().TempFolder(), "/srv/other");
        EXPECT_TRUE(Settings().UseCustomTempFolder());
    }
}

TEST_F(SettingsSheetTest, PagesStoreTheirFlagsOnOk) {
    auto sheet = Open(SettingsSheet::kConfirmations);
    sheet->ShowSplash()->setChecked(false);
    sheet->ConfirmShutdown()->setChecked(false);
    sheet->ConfirmScanAbort()->setChecked(false);
    sheet->ConfirmRecoveryAbort()->setChecked(false);
    sheet->NoTryOpenWarning()->setChecked(true);
    sheet->accept();
    EXPECT_FALSE(Settings().ShowSplash());
    EXPECT_FALSE(Settings().ConfirmShutdown());
    EXPECT_FALSE(Settings().ConfirmScanAbort());
    EXPECT_FALSE(Settings().ConfirmRecoveryAbort());
    EXPECT_TRUE(Settings().NoTryOpenWarning());
}

TEST_F(SettingsSheetTest, CancelStoresNothing) {
    const std::vector<std::uint8_t> before = Settings().Bytes();
    auto& formats = machine_.Computer().Signatures();
    ASSERT_NE(formats.FindSignatureById(kJpeg), nullptr);
    ASSERT_EQ(formats.FindSignatureById(kJpeg)->SearchEnable.load(), 1u);
    auto sheet = Open(SettingsSheet::kCommon);
    sheet->ShowSplash()->setChecked(!sheet->ShowSplash()->isChecked());
    sheet->ConfirmShutdown()->setChecked(!sheet->ConfirmShutdown()->isChecked());
    sheet->RetryAttempts()->Edit()->setText(QStringLiteral("3"));
    sheet->SaveLog()->setChecked(!sheet->SaveLog()->isChecked());
    sheet->CustomTemp()->setChecked(true);
    sheet->TempFolder()->setText(QStringLiteral("/srv/elsewhere"));
    sheet->SearchTypes()->SetAllChecked(false);
    sheet->reject();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(Settings().Bytes(), before);
    EXPECT_EQ(formats.FindSignatureById(kJpeg)->SearchEnable.load(), 1u);
    formats.LoadDatabase();
    EXPECT_EQ(formats.FindSignatureById(kJpeg)->SearchEnable.load(), 1u);
}

TEST_F(SettingsSheetTest, FileTypesPageStoresTheSearchMarks) {
    auto& formats = machine_.Computer().Signatures();
    auto sheet = Open(SettingsSheet::kFileTypes);
    sheet->SearchTypes()->SetAllChecked(true);
    QTreeWidgetItem* jpeg = sheet->SearchTypes()->FormatItem(kJpeg);
    ASSERT_NE(jpeg, nullptr);
    jpeg->setCheckState(0, Qt::Unchecked);
    sheet->accept();
    formats.LoadDatabase();
    EXPECT_EQ(formats.FindSignatureById(kJpeg)->SearchEnable.load(), 0u);
    EXPECT_EQ(formats.FindSignatureById(kPng)->SearchEnable.load(), 1u);
}

TEST_F(SettingsSheetTest, LanguageListIsDisabledWithoutLanguageFiles) {
    auto sheet = Open(SettingsSheet::kLanguage);
    EXPECT_FALSE(sheet->Languages()->isEnabled());
    EXPECT_EQ(sheet->Languages()->count(), 0);
}

TEST(SettingsLanguage, ChoosingALanguageAppliesItAtOnce) {
    TempFolder dir;
    const auto folder = dir / "Languages";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "English.lng") << "[LanguageInfo]\nTranslatorName=Nobody\n";
    std::ofstream(folder / "Deutsch.lng") << "[StringsTable]\n160=Einstellungen\n";
    UiMachine machine(dir / "home", folder);
    auto& languages = machine.App().Languages();
    ASSERT_EQ(languages.CurrentName(), "English");
    const std::string builtIn = languages.GetString(160);

    SettingsSheet sheet(machine.App(), machine.Computer(), machine.Questions(),
                        SettingsSheet::kLanguage);
    QComboBox* list = sheet.Languages();
    ASSERT_TRUE(list->isEnabled());
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentText(), QStringLiteral("English"));
    const int german = list->findText(QStringLiteral("Deutsch"));
    ASSERT_GE(german, 0);
    list->setCurrentIndex(german);
    // Before OK: the language and the stored index have changed.
    EXPECT_EQ(languages.CurrentName(), "Deutsch");
    EXPECT_EQ(languages.GetString(160), "Einstellungen");
    EXPECT_EQ(machine.App().Settings().InterfaceLanguage(), german);

    list->setCurrentIndex(list->findText(QStringLiteral("English")));
    EXPECT_EQ(languages.GetString(160), builtIn);
    EXPECT_EQ(machine.App().Settings().InterfaceLanguage(), languages.GetCurrentIndex());
}

// Display filter over made objects.

FoundObject MakeObject(std::string_view name, std::uint16_t flags) {
    FoundObject object;
    object.Id = 100;
    object.Flags = flags | Flags::Named;
    object.SetName(name);
    return object;
}

TEST(FilterWildcards, MatchesAsteriskAndQuestionMarkCaseSensitively) {
    using ui::MatchesWildcard;
    EXPECT_TRUE(MatchesWildcard("a.jpg", "*.jpg"));
    EXPECT_FALSE(MatchesWildcard("a.png", "*.jpg"));
    EXPECT_FALSE(MatchesWildcard("a.JPG", "*.jpg"));
    EXPECT_TRUE(MatchesWildcard("IMG_0001.JPG", "IMG*"));
    EXPECT_TRUE(MatchesWildcard("IMG_0001.JPG", "IMG_000?.JPG"));
    EXPECT_FALSE(MatchesWildcard("IMG_00011.JPG", "IMG_000?.JPG"));
    EXPECT_TRUE(MatchesWildcard("a.b.c", "*.*"));
    EXPECT_TRUE(MatchesWildcard("x", "*"));
    EXPECT_FALSE(MatchesWildcard("", "?"));
    EXPECT_TRUE(MatchesWildcard("Fotos_é.jpg", "Fotos_?.jpg"));
    EXPECT_TRUE(MatchesWildcard("aXbXc", "a*b*c"));
    EXPECT_FALSE(MatchesWildcard("aXbXd", "a*b*c"));
}

TEST(FilterWildcards, PatternHidesOtherFilesAndKeepsFolders) {
    CFileFilter filter;
    filter.SetByWildcards(true);
    filter.SetWildcardPattern("*.jpg");
    EXPECT_TRUE(PassesDisplayFilter(MakeObject("a.jpg", Flags::IsFile), filter));
    EXPECT_FALSE(PassesDisplayFilter(MakeObject("a.png", Flags::IsFile), filter));
    EXPECT_TRUE(PassesDisplayFilter(MakeObject("photos.png", Flags::Folder), filter));
    filter.SetByWildcards(false);
    EXPECT_TRUE(PassesDisplayFilter(MakeObject("a.png", Flags::IsFile), filter));
}

TEST(FilterDeletedOnly, KeepsDeletedObjectsAndTheFoldersAboveThem) {
    CFileFilter filter;
    filter.SetDeletedOnly(true);
    EXPECT_FALSE(PassesDisplayFilter(MakeObject("live.jpg", Flags::IsFile), filter));
    EXPECT_TRUE(
        PassesDisplayFilter(MakeObject("gone.jpg", Flags::IsFile | Flags::Deleted), filter));
    EXPECT_TRUE(PassesDisplayFilter(MakeObject("DCIM", Flags::Folder | Flags::HasDeleted), filter));
    EXPECT_FALSE(PassesDisplayFilter(MakeObject("MISC", Flags::Folder), filter));
    FoundObject special = MakeObject("Lost Files", Flags::Folder);
    special.Id = filesystems::SpecialIds::LostFiles;
    EXPECT_TRUE(PassesDisplayFilter(special, filter));
    filter.SetDeletedOnly(false);
    EXPECT_TRUE(PassesDisplayFilter(MakeObject("live.jpg", Flags::IsFile), filter));
}

TEST(FilterDates, HidesTimesOutsideTheRangeAndKeepsObjectsWithoutATime) {
    CFileFilter filter;
    filter.SetByDate(true);
    filter.SetDateFrom(ui::DayStartFileTime(QDate(2021, 3, 1)));
    filter.SetDateTo(ui::DayEndFileTime(QDate(2021, 3, 31)));
    FoundObject object = MakeObject("a.jpg", Flags::IsFile);
    const auto at = [&](QDate day, std::uint64_t extra) {
        object.Modified = ui::DayStartFileTime(day) + extra;
        return PassesDisplayFilter(object, filter);
    };
    EXPECT_TRUE(at(QDate(2021, 3, 1), 0));
    EXPECT_TRUE(at(QDate(2021, 3, 31), 235959ull * 100000));
    EXPECT_FALSE(at(QDate(2021, 2, 28), 0));
    EXPECT_FALSE(at(QDate(2021, 4, 1), 0));
    object.Modified = 0;
    EXPECT_TRUE(PassesDisplayFilter(object, filter));
    filter.SetByDate(false);
    EXPECT_TRUE(at(QDate(2030, 1, 1), 0));
}

TEST(FilterDates, DayFileTimesRoundTrip) {
    const QDate day(2019, 12, 31);
    EXPECT_EQ(ui::FileTimeDay(ui::DayStartFileTime(day)), day);
    EXPECT_EQ(ui::FileTimeDay(ui::DayEndFileTime(day)), day);
    EXPECT_EQ(ui::DayEndFileTime(day) + 1, ui::DayStartFileTime(day.addDays(1)));
    // 1601-01-01 is file time 0; 1970-01-01 the Unix epoch.
    EXPECT_EQ(ui::DayStartFileTime(QDate(1970, 1, 1)), 116444736000000000ull);
}

TEST(FilterFileTypes, KnownAndCustomModesFollowTheDatabase) {
    TempFolder dir;
    UiMachine machine(dir / "home");
    auto& formats = machine.Computer().Signatures();
    ASSERT_NE(formats.FindSignatureById(kJpeg), nullptr);
    const FoundObject jpeg = MakeObject("a.jpg", Flags::IsFile);
    const FoundObject unknown = MakeObject("a.qqqzz", Flags::IsFile);
    const FoundObject folder = MakeObject("b.qqqzz", Flags::Folder);
    CFileFilter filter;
    filter.SetTypes(CFileFilter::FileTypes::KnownOnly);
    EXPECT_TRUE(PassesDisplayFilter(jpeg, filter, &formats));
    EXPECT_FALSE(PassesDisplayFilter(unknown, filter, &formats));
    EXPECT_TRUE(PassesDisplayFilter(folder, filter, &formats));

    filter.SetTypes(CFileFilter::FileTypes::Custom);
    formats.FindSignatureById(kJpeg)->View = 0;
    EXPECT_FALSE(PassesDisplayFilter(jpeg, filter, &formats));
    formats.FindSignatureById(kJpeg)->View = 1;
    EXPECT_TRUE(PassesDisplayFilter(jpeg, filter, &formats));
    EXPECT_TRUE(PassesDisplayFilter(unknown, filter, &formats));
    // The object's format number, not its name, when it has one.
    FoundObject carved = MakeObject("a.qqqzz", Flags::IsFile);
    carved.SignatureId = kJpeg;
    formats.FindSignatureById(kJpeg)->View = 0;
    EXPECT_FALSE(PassesDisplayFilter(carved, filter, &formats));
    EXPECT_EQ(carved.SignatureId, kJpeg);

    filter.SetTypes(CFileFilter::FileTypes::All);
    EXPECT_TRUE(PassesDisplayFilter(unknown, filter, &formats));
    EXPECT_TRUE(PassesDisplayFilter(jpeg, filter, &formats));
}

// Display filter over a real analysed card.

class FilterCardTest : public AnalysedCardTest {
  protected:
    bool Shown(std::string_view name) const {
        const FoundObject* object = Named(name);
        return object != nullptr && PassesDisplayFilter(*object, filter_);
    }
    CFileFilter filter_;
};

TEST_F(FilterCardTest, DeletedOnlyKeepsThePathToTheDeletedPhoto) {
    // The views mark the path when told of a deleted object; marking again changes nothing,
    // so the test does not hang on which view saw it first.
    FoundObject* deleted = Named("_MG_0003.JPG");
    ASSERT_NE(deleted, nullptr);
    ASSERT_TRUE(deleted->Is(Flags::Deleted));
    tree_->MarkDeletedPath(*deleted);
    filter_.SetDeletedOnly(true);
    EXPECT_TRUE(Shown("_MG_0003.JPG"));
    EXPECT_TRUE(Shown("DCIM"));
    EXPECT_TRUE(Shown("100CANON"));
    EXPECT_FALSE(Shown("IMG_0001.JPG"));
    EXPECT_FALSE(Shown("IMG_0002.JPG"));
    EXPECT_FALSE(Shown("IMG_0004.JPG"));
    EXPECT_FALSE(Shown("MISC"));
}

TEST_F(FilterCardTest, WildcardsKeepMatchingPhotosAndAllFolders) {
    filter_.SetByWildcards(true);
    filter_.SetWildcardPattern("IMG_000?.JPG");
    EXPECT_TRUE(Shown("IMG_0001.JPG"));
    EXPECT_TRUE(Shown("IMG_0004.JPG"));
    EXPECT_FALSE(Shown("_MG_0003.JPG"));
    EXPECT_TRUE(Shown("DCIM"));
    EXPECT_TRUE(Shown("MISC"));
    filter_.SetWildcardPattern("*.jpg");
    EXPECT_FALSE(Shown("IMG_0001.JPG"));
    EXPECT_TRUE(Shown("100CANON"));
}

// The "Filters" dialog over the machine's filter.

TEST(FiltersDialogTest, OkStoresAndSavesTheFilter) {
    TempFolder dir;
    UiMachine machine(dir / "home");
    FiltersDialog dialog(machine.Computer());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Filters"));
    ASSERT_EQ(dialog.Pages()->count(), 2);
    EXPECT_FALSE(dialog.Pattern()->isEnabled());
    EXPECT_FALSE(dialog.DateFrom()->isEnabled());
    EXPECT_FALSE(dialog.ViewTypes()->isEnabled());
    dialog.ByWildcards()->setChecked(true);
    EXPECT_TRUE(dialog.Pattern()->isEnabled());
    dialog.Pattern()->setText(QStringLiteral("*.jpg"));
    dialog.DeletedOnly()->setChecked(true);
    dialog.ByDate()->setChecked(true);
    EXPECT_TRUE(dialog.DateTo()->isEnabled());
    dialog.DateFrom()->setDate(QDate(2020, 1, 1));
    dialog.DateTo()->setDate(QDate(2020, 12, 31));
    dialog.CustomTypes()->setChecked(true);
    EXPECT_TRUE(dialog.ViewTypes()->isEnabled());
    dialog.ViewTypes()->SetAllChecked(false);
    ASSERT_NE(dialog.ViewTypes()->FormatItem(kPng), nullptr);
    dialog.ViewTypes()->FormatItem(kPng)->setCheckState(0, Qt::Checked);
    QSignalSpy changed(&dialog, &FiltersDialog::filterChanged);
    dialog.accept();
    EXPECT_EQ(changed.count(), 1);

    const CFileFilter& active = machine.Computer().Filter();
    EXPECT_TRUE(active.ByWildcards());
    EXPECT_EQ(active.WildcardPattern(), "*.jpg");
    EXPECT_TRUE(active.DeletedOnly());
    EXPECT_TRUE(active.ByDate());
    EXPECT_EQ(active.DateFrom(), ui::DayStartFileTime(QDate(2020, 1, 1)));
    EXPECT_EQ(active.DateTo(), ui::DayEndFileTime(QDate(2020, 12, 31)));
    EXPECT_EQ(active.Types(), CFileFilter::FileTypes::Custom);

    CFileFilter stored;
    ASSERT_TRUE(stored.LoadFilter(machine.App().Store(), machine.App().GetRegistryPath()));
    EXPECT_TRUE(std::ranges::equal(stored.Bytes(), active.Bytes()));
    auto& formats = machine.Computer().Signatures();
    formats.LoadDatabase();
    EXPECT_EQ(formats.FindSignatureById(kPng)->View.load(), 1u);
    EXPECT_EQ(formats.FindSignatureById(kJpeg)->View.load(), 0u);
}

TEST(FiltersDialogTest, CancelLeavesTheFilterAlone) {
    TempFolder dir;
    UiMachine machine(dir / "home");
    const auto before = std::vector<std::uint8_t>(machine.Computer().Filter().Bytes().begin(),
                                                  machine.Computer().Filter().Bytes().end());
    FiltersDialog dialog(machine.Computer());
    dialog.DeletedOnly()->setChecked(true);
    dialog.ByWildcards()->setChecked(true);
    dialog.Pattern()->setText(QStringLiteral("*.png"));
    dialog.KnownTypes()->setChecked(true);
    dialog.reject();
    EXPECT_TRUE(std::ranges::equal(machine.Computer().Filter().Bytes(), before));
}

// The stand-alone file-type dialog.

class FileTypesDialogTest : public ::testing::Test {
  protected:
    FileTypesDialogTest() : machine_(dir_ / "home") {}
    signatures::SignatureDatabase& Formats() { return machine_.Computer().Signatures(); }

    TempFolder dir_;
    UiMachine machine_;
};

TEST_F(FileTypesDialogTest, ListsGroupsWithTheirFormats) {
    FileTypesDialog dialog(Formats(), FileTypeMark::Search);
    FileTypesTree* tree = dialog.Tree();
    ASSERT_GT(tree->topLevelItemCount(), 0);
    QTreeWidgetItem* jpeg = tree->FormatItem(kJpeg);
    ASSERT_NE(jpeg, nullptr);
    ASSERT_NE(jpeg->parent(), nullptr);
    const auto* group = Formats().FindGroup(Formats().FindSignatureById(kJpeg)->GroupId);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(jpeg->parent()->text(0).toStdString(), group->Title);
    EXPECT_EQ(jpeg->text(0).toStdString(), Formats().FindSignatureById(kJpeg)->Title);
    tree->setCurrentItem(jpeg);
    EXPECT_EQ(tree->CurrentFormat(), Formats().FindSignatureById(kJpeg));
    tree->setCurrentItem(jpeg->parent());
    EXPECT_EQ(tree->CurrentFormat(), nullptr);
}

TEST_F(FileTypesDialogTest, UncheckAllThenOkClearsEveryListedFormat) {
    {
        FileTypesDialog dialog(Formats(), FileTypeMark::Search);
        dialog.Tree()->RunCommand(FileTypesTree::kUncheckAll);
        dialog.accept();
    }
    Formats().LoadDatabase();
    FileTypesDialog reopened(Formats(), FileTypeMark::Search);
    const auto items = FormatItems(*reopened.Tree(), Formats());
    ASSERT_FALSE(items.empty());
    for (const auto& [id, item] : items) {
        EXPECT_EQ(Formats().FindSignatureById(id)->SearchEnable.load(), 0u) << id;
        EXPECT_EQ(item->checkState(0), Qt::Unchecked) << id;
    }
}

TEST_F(FileTypesDialogTest, CheckAllThenOkSetsEveryListedFormat) {
    for (const auto& format : Formats().Signatures())
        format->View = 0;
    Formats().SaveAll();
    {
        FileTypesDialog dialog(Formats(), FileTypeMark::View);
        dialog.Tree()->RunCommand(FileTypesTree::kCheckAll);
        dialog.Tree()->FormatItem(kPng)->setCheckState(0, Qt::Unchecked);
        dialog.accept();
    }
    Formats().LoadDatabase();
    FileTypesDialog reopened(Formats(), FileTypeMark::View);
    const auto items = FormatItems(*reopened.Tree(), Formats());
    ASSERT_GT(items.size(), 2u);
    for (const auto& [id, item] : items) {
        const std::uint32_t expected = id == kPng ? 0 : 1;
        EXPECT_EQ(Formats().FindSignatureById(id)->View.load(), expected) << id;
    }
    // The search marks are a different flag and stay as they were.
    EXPECT_EQ(Formats().FindSignatureById(kPng)->SearchEnable.load(), 1u);
}

TEST_F(FileTypesDialogTest, CancelStoresNoMarks) {
    {
        FileTypesDialog dialog(Formats(), FileTypeMark::Search);
        dialog.Tree()->RunCommand(FileTypesTree::kUncheckAll);
        dialog.reject();
    }
    EXPECT_EQ(Formats().FindSignatureById(kJpeg)->SearchEnable.load(), 1u);
    Formats().LoadDatabase();
    EXPECT_EQ(Formats().FindSignatureById(kJpeg)->SearchEnable.load(), 1u);
}

}  // namespace
}  // namespace duzez::test
