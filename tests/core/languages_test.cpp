#include "core/languages.h"

#include <gtest/gtest.h>

#include <map>

#include "core/app.h"
#include "tests/support/temp_folder.h"

namespace duzez::core {
namespace {

using test::WriteFile;

class FakeMenu : public TranslatableMenu {
  public:
    std::vector<std::string> popups{"&File", "&View"};
    std::map<std::uint32_t, std::string> commands{{32781, "Rescan Drives\tF5"}, {32774, "Analyze"}};

    std::size_t PopupCount() const override { return popups.size(); }
    std::string PopupText(std::size_t p) const override { return popups[p]; }
    void SetPopupText(std::size_t p, const std::string& t) override { popups[p] = t; }
    std::vector<std::uint32_t> CommandIds() const override {
        std::vector<std::uint32_t> ids;
        for (const auto& [id, text] : commands)
            ids.push_back(id);
        return ids;
    }
    std::string CommandText(std::uint32_t id) const override { return commands.at(id); }
    void SetCommandText(std::uint32_t id, const std::string& t) override { commands[id] = t; }
};

class FakeDialog : public TranslatableWindow {
  public:
    std::string caption = "Settings";
    std::map<std::uint32_t, std::string> controls{{1001, "Retry attempts:"}, {1002, "OK"}};
    FakeMenu menu;
    bool hasMenu = false;
    int applied = 0;

    TranslatableMenu* OwnMenu() override { return hasMenu ? &menu : nullptr; }
    void SetCaption(const std::string& c) override { caption = c; }
    bool IsDialog() const override { return true; }
    std::vector<std::uint32_t> ControlIds() const override { return {1001, 1002}; }
    std::string ControlText(std::uint32_t id) const override { return controls.at(id); }
    void SetControlText(std::uint32_t id, const std::string& t) override { controls[id] = t; }
    void OnLanguageApplied() override { ++applied; }
};

class LanguagesTest : public ::testing::Test {
  protected:
    std::filesystem::path Folder() const { return dir_ / "Languages"; }
    test::TempFolder dir_;
};

TEST_F(LanguagesTest, WithoutFilesTheBuiltInTextsAreUsed) {
    CLanguages languages(Folder());
    EXPECT_TRUE(languages.LanguageNames().empty());
    EXPECT_EQ(languages.GetCurrentIndex(), -1);
    EXPECT_EQ(languages.CurrentName(), "English");
    EXPECT_EQ(languages.GetString(StringId::CantCreateTemporaryFile),
              "Can't create temporary file");
    EXPECT_EQ(languages.GetString(999999), "");
    EXPECT_EQ(languages.Format(StringId::InitializingDrive, {"C:"}), "Initializing drive C:");
}

TEST_F(LanguagesTest, FilesAreListedInNameOrderAndEnglishIsSelectedFirst) {
    WriteFile(Folder() / "german.lng", "[StringsTable]\n186=Kann keine Datei anlegen\n");
    WriteFile(Folder() / "English.LNG", "[StringsTable]\n186=Cannot create a temporary file\n");
    WriteFile(Folder() / "Czech.lng", "");
    WriteFile(Folder() / "readme.txt", "");
    CLanguages languages(Folder());
    EXPECT_EQ(languages.LanguageNames(), (std::vector<std::string>{"Czech", "English", "german"}));
    EXPECT_EQ(languages.GetCurrentIndex(), 1);
    EXPECT_EQ(languages.GetString(186), "Cannot create a temporary file");
    languages.SelectLanguageByName("GERMAN");
    EXPECT_EQ(languages.GetCurrentIndex(), 2);
    EXPECT_EQ(languages.GetString(186), "Kann keine Datei anlegen");
    languages.SelectLanguageByName("Klingon");  // not there: nothing changes
    EXPECT_EQ(languages.GetCurrentIndex(), 2);
    languages.SelectLanguage(-1);  // keeps the current one
    EXPECT_EQ(languages.CurrentName(), "german");
}

TEST_F(LanguagesTest, EscapesBecomeTheirCharacters) {
    WriteFile(Folder() / "English.lng",
              "[StringsTable]\n"
              "183=first\\nsecond\n"
              "184=  \"col\\tumn\\r\\\\n\"  \n"
              "185=C:\\photos\\2024\n");
    CLanguages languages(Folder());
    EXPECT_EQ(languages.GetString(183), "first\nsecond");
    EXPECT_EQ(languages.GetString(184), "col\tumn\r\\\n");
    EXPECT_EQ(languages.GetString(185), "C:\\photos\\2024");  // other backslashes stay
}

TEST_F(LanguagesTest, FileWithOnlyMainMenuTranslatesMenusAndKeepsMessages) {
    WriteFile(Folder() / "English.lng",
              "[MainMenu]\n0=&Datei\n32781=Laufwerke neu einlesen\\tF5\n");
    CLanguages languages(Folder());
    auto menu = std::make_shared<FakeMenu>();
    languages.TranslateMenu("MainMenu", menu);
    EXPECT_EQ(menu->popups[0], "&Datei");
    EXPECT_EQ(menu->popups[1], "&View");  // no key: current text kept
    EXPECT_EQ(menu->commands[32781], "Laufwerke neu einlesen\tF5");
    EXPECT_EQ(menu->commands[32774], "Analyze");
    EXPECT_EQ(languages.GetString(StringId::RecoveryCompleted), "Recovery completed.");
}

TEST_F(LanguagesTest, StoredIndexBeyondTheListKeepsBuiltInTexts) {
    WriteFile(Folder() / "Dutch.lng", "[StringsTable]\n214=Herstel voltooid.\n");
    CLanguages languages(Folder());
    languages.SelectLanguage(0);
    EXPECT_EQ(languages.GetString(214), "Herstel voltooid.");
    languages.SelectLanguage(7);
    EXPECT_EQ(languages.GetCurrentIndex(), -1);
    EXPECT_EQ(languages.GetString(214), "Recovery completed.");
}

TEST_F(LanguagesTest, HostileFormatInATranslationFallsBackToTheBuiltInText) {
    WriteFile(Folder() / "English.lng",
              "[StringsTable]\n"
              "57111=Laufwerk %d %s %n %s\n"
              "172=%s%s%s%s%s%s%s%s\n"
              "179=Volume %I64d auf %s\n"
              "201=%\n");
    CLanguages languages(Folder());
    EXPECT_EQ(languages.Format(StringId::InitializingDrive, {"sdb"}), "Initializing drive sdb");
    EXPECT_EQ(languages.Format(StringId::VolumeReadRetry, {"sdb", 4096ull, 3}),
              "Volume sdb at position 4096 not read, retry 3");
    EXPECT_EQ(languages.Format(StringId::FoundVolumeAt, {"FAT32", 32256ull}),
              "Found FAT32 volume at: 32256");
    EXPECT_EQ(languages.Format(StringId::RecoveringFile, {"a", "b", "c"}),
              "FileRecovery: Recovering file: a [from 'b' to 'c']");
}

TEST_F(LanguagesTest, TranslationWithFewerConversionsIsAccepted) {
    WriteFile(Folder() / "English.lng", "[StringsTable]\n135=Dauer: %d Minuten\n");
    CLanguages languages(Folder());
    EXPECT_EQ(languages.Format(StringId::AnalysisDuration, {2, 5}), "Dauer: 2 Minuten");
}

TEST_F(LanguagesTest, Utf16FileAndSectionNamesIgnoringCase) {
    const auto bytes = test::ToUtf16LeWithBom("[stringstable]\r\nKBYTES=x\r\n175=Ko\r\n");
    WriteFile(Folder() / "French.lng", std::string(bytes.begin(), bytes.end()));
    CLanguages languages(Folder());
    languages.SelectLanguageByName("french");
    EXPECT_EQ(languages.GetString(StringId::KBytes), "Ko");
}

TEST_F(LanguagesTest, WindowsAreTranslatedAgainWhenTheLanguageChanges) {
    WriteFile(Folder() / "English.lng", "");
    WriteFile(Folder() / "Spanish.lng",
              "[ProgrammSettings.DriveAccess]\n0=Acceso\n1001=Reintentos:\n"
              "[ProgrammSettings.DriveAccess.menu]\n1=&Ver\n");
    CLanguages languages(Folder());
    auto dialog = std::make_shared<FakeDialog>();
    dialog->hasMenu = true;
    auto gone = std::make_shared<FakeDialog>();
    languages.TranslateWindow("ProgrammSettings.DriveAccess", dialog);
    languages.TranslateWindow("ProgrammSettings.DriveAccess", gone);
    EXPECT_EQ(dialog->caption, "Settings");  // English has no caption: kept
    EXPECT_EQ(dialog->applied, 1);
    EXPECT_EQ(languages.RegisteredWindowCount(), 2u);

    gone.reset();
    languages.SelectLanguageByName("Spanish");
    EXPECT_EQ(dialog->caption, "Acceso");
    EXPECT_EQ(dialog->controls[1001], "Reintentos:");
    EXPECT_EQ(dialog->controls[1002], "OK");
    EXPECT_EQ(dialog->menu.popups[1], "&Ver");
    EXPECT_EQ(dialog->applied, 2);
    EXPECT_EQ(languages.RegisteredWindowCount(), 1u) << "closed windows leave the registry";
}

TEST_F(LanguagesTest, OverlongValuesAreCut) {
    WriteFile(Folder() / "English.lng", "[StringsTable]\n140=" + std::string(6000, 'b') + "\n");
    CLanguages languages(Folder());
    EXPECT_EQ(languages.GetString(140).size(), CLanguages::kMaxValueLength);
}

TEST(IniFile, FirstSectionAndKeyWinAndJunkLinesAreIgnored) {
    const IniFile ini = IniFile::Parse(
        "orphan=1\n[A]\nk=first\nk=second\n; comment\nno equals sign\n[a]\nk=third\n[B\nx = ' q ' "
        "\n");
    EXPECT_EQ(ini.Value("a", "K"), "first");
    EXPECT_EQ(ini.Value("B", "x"), " q ");
    EXPECT_FALSE(ini.Value("", "orphan"));
}

}  // namespace
}  // namespace duzez::core

namespace duzez::core {
namespace {

TEST(AppLanguage, StoredIndexIsAppliedAndTheSelectedOneStoredBack) {
    test::TempFolder dir;
    WriteFile(dir / "Languages" / "Deutsch.lng", "[StringsTable]\n162=Bereit\n");
    WriteFile(dir / "Languages" / "English.lng", "");
    CAppOptions options;
    options.storePath = dir / "registry.reg";
    options.languageFolder = dir / "Languages";
    CApp app(std::move(options));
    app.LoadSettings();
    EXPECT_EQ(app.Settings().InterfaceLanguage(), -1);
    app.ApplyInterfaceLanguage();
    EXPECT_EQ(app.Settings().InterfaceLanguage(), 1) << "-1 selects English and stores its index";

    app.Settings().SetInterfaceLanguage(0);
    app.ApplyInterfaceLanguage();
    EXPECT_EQ(app.Languages().GetString(StringId::Idle), "Bereit");

    app.Settings().SetInterfaceLanguage(5);
    app.ApplyInterfaceLanguage();
    EXPECT_EQ(app.Settings().InterfaceLanguage(), -1);
    EXPECT_EQ(app.Languages().GetString(StringId::Idle), "Idle");
}

}  // namespace
}  // namespace duzez::core
