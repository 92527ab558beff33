// The shipped German language file against what the windows ask for: every menu entry,
// every string-table text with the same conversions, and every window text the sources
// mark for translation (found by lupdate, so a new text without its translation fails
// here). Then the switch itself: choosing Deutsch turns the windows German.

#include <gtest/gtest.h>

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTabWidget>
#include <QXmlStreamReader>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "core/ini_file.h"
#include "core/string_table.h"
#include "tests/support/source_dir.h"
#include "tests/ui/ui_machine.h"
#include "ui/explorer/legend_view.h"
#include "ui/frame/commands.h"
#include "ui/frame/language_translator.h"
#include "ui/frame/menu_translation.h"

namespace duzez::test {
namespace {

std::filesystem::path LanguagesDir() {
    return SourceDir() / "data" / "Languages";
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the windows ask a language file for, with the English text, by section.
using Wanted = std::map<std::string, std::map<std::string, std::string>>;

// The messages lupdate finds in the window sources, by the translator's section and key.
Wanted WindowTexts(const std::filesystem::path& folder, std::string& problem) {
    QString lupdate = QLibraryInfo::path(QLibraryInfo::BinariesPath) + QStringLiteral("/lupdate");
    if (!QFileInfo::exists(lupdate))
        lupdate = QStandardPaths::findExecutable(QStringLiteral("lupdate"));
    if (lupdate.isEmpty()) {
        problem = "lupdate is missing (Debian package qt6-l10n-tools)";
        return {};
    }
    const QString ts = QString::fromStdString((folder / "texts.ts").string());
    QProcess run;
    run.start(lupdate,
              {QStringLiteral("-silent"), QStringLiteral("-no-obsolete"),
               QString::fromStdString((SourceDir() / "ui").string()), QStringLiteral("-ts"), ts});
    if (!run.waitForFinished(120000) || run.exitCode() != 0) {
        problem = "lupdate failed: " + run.readAllStandardError().toStdString();
        return {};
    }
    QFile file(ts);
    if (!file.open(QIODevice::ReadOnly)) {
        problem = "lupdate wrote nothing";
        return {};
    }
    Wanted wanted;
    QXmlStreamReader xml(&file);
    std::string section;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QStringLiteral("name")) {
            section = ui::LanguageTranslator::Section(xml.readElementText().toUtf8().constData())
                          .toStdString();
        } else if (xml.name() == QStringLiteral("source")) {
            const QString source = xml.readElementText();
            wanted[section][ui::LanguageTranslator::Key(source).toStdString()] =
                source.toStdString();
        }
    }
    if (xml.hasError())
        problem = "the lupdate output does not parse: " + xml.errorString().toStdString();
    return wanted;
}

// The main menu's popups by position and its commands by identifier.
Wanted MenuTexts(ui::MainFrame& frame) {
    ui::MenuTranslation menu(*frame.menuBar(), frame.Commands());
    Wanted wanted;
    auto& section = wanted["MainMenu"];
    for (std::size_t position = 0; position < menu.PopupCount(); ++position)
        section[std::to_string(position)] = menu.PopupText(position);
    for (const std::uint32_t command : menu.CommandIds())
        section[std::to_string(command)] = menu.CommandText(command);
    return wanted;
}

Wanted StringTableTexts() {
    Wanted wanted;
    auto& section = wanted["StringsTable"];
    for (const auto& entry : core::BuiltinStrings())
        section[std::to_string(static_cast<std::uint32_t>(entry.id))] = std::string(entry.text);
    return wanted;
}

// The printf conversions of a text in order; a translation must keep them all.
std::vector<std::string> Conversions(const std::string& text) {
    static const std::regex kConversion("%(%|I64[dux]|[sducxC])");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), kConversion);
         it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

// Qt's numbered place markers, in any order a sentence needs.
std::multiset<QString> Markers(const QString& text) {
    static const QRegularExpression kMarker(QStringLiteral("%[1-9]"));
    std::multiset<QString> found;
    for (auto it = kMarker.globalMatch(text); it.hasNext();)
        found.insert(it.next().captured());
    return found;
}

// A keyboard accelerator ("&File"); "&&" and HTML entities ("&nbsp;") are not.
bool HasAccelerator(const QString& text) {
    static const QRegularExpression kAccelerator(
        QStringLiteral("(^|[^&])&(?!&)(?![a-zA-Z]+;)[^\\s]"));
    return kAccelerator.match(text).hasMatch();
}

// Checks `file` against `wanted`: what is missing, in the file's own syntax so it can be
// pasted and translated, and what does not fit its English text.
void ExpectCovered(const core::IniFile& file, const Wanted& wanted, bool printf) {
    std::ostringstream missing;
    for (const auto& [section, keys] : wanted) {
        bool header = false;
        for (const auto& [key, english] : keys) {
            // A language file line ends its key at the first '='.
            EXPECT_EQ(key.find('='), std::string::npos)
                << "[" << section << "] a text holding '=' cannot be looked up: " << key;
            const auto value = file.Value(section, key);
            if (!value || value->empty()) {
                if (!header)
                    missing << "[" << section << "]\n";
                header = true;
                std::string shown = english;
                for (std::size_t at = 0; (at = shown.find_first_of("\r\n", at)) != shown.npos;)
                    shown.replace(at, 1, shown[at] == '\n' ? "\\n" : "\\r");
                missing << key << "=" << shown << "\n";
                continue;
            }
            const std::string translated(*value);
            if (printf) {
                EXPECT_EQ(Conversions(translated), Conversions(english))
                    << "[" << section << "] " << key << "=" << translated;
            } else {
                const QString source = QString::fromStdString(english);
                const QString target = QString::fromStdString(translated);
                EXPECT_EQ(Markers(target), Markers(source))
                    << "[" << section << "] " << key << "=" << translated;
                EXPECT_EQ(HasAccelerator(target), HasAccelerator(source))
                    << "[" << section << "] " << key << "=" << translated;
            }
        }
    }
    EXPECT_TRUE(missing.str().empty()) << "Missing from Deutsch.lng:\n" << missing.str();
}

class GermanLanguageFile : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto path = LanguagesDir() / "Deutsch.lng";
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        file_ = core::IniFile::Parse(ReadText(path));
    }
    TempFolder dir_;
    core::IniFile file_ = core::IniFile::Parse("");
};

TEST_F(GermanLanguageFile, HoldsEveryMenuEntryAndStringTableText) {
    UiMachine machine(dir_.path() / "home");
    ExpectCovered(file_, MenuTexts(machine.Frame()), false);
    ExpectCovered(file_, StringTableTexts(), true);
}

TEST_F(GermanLanguageFile, HoldsEveryWindowTextAndNoneThatIsNoLongerAsked) {
    std::string problem;
    const Wanted wanted = WindowTexts(dir_.path(), problem);
    ASSERT_TRUE(problem.empty()) << problem;
    ASSERT_GT(wanted.size(), 20u);
    ExpectCovered(file_, wanted, false);

    // A window text that changed leaves its old translation behind: stale keys are faults.
    std::istringstream lines(ReadText(LanguagesDir() / "Deutsch.lng"));
    std::string line;
    std::string section;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with('[') && line.ends_with(']')) {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        if (!section.starts_with("Qt:") || line.empty() || line.starts_with(';'))
            continue;
        const std::string key = line.substr(0, line.find('='));
        const auto asked = wanted.find(section);
        bool found = false;
        if (asked != wanted.end()) {
            for (const auto& [wantedKey, english] : asked->second)
                found = found || QString::fromStdString(wantedKey).compare(
                                     QString::fromStdString(key), Qt::CaseInsensitive) == 0;
        }
        EXPECT_TRUE(found) << "[" << section << "] " << key << " is no longer asked for";
    }
}

// The switch as a person makes it: the window comes back in German, menus, window texts
// and string-table texts alike.
TEST(GermanInterface, ChoosingDeutschTurnsTheWindowsGerman) {
    TempFolder dir;
    UiMachine machine(dir.path() / "home", LanguagesDir());
    auto& english = machine.Frame();
    EXPECT_EQ(english.menuBar()->actions().front()->text(), QStringLiteral("&Disk"));
    const int before = machine.App().Languages().GetCurrentIndex();
    machine.App().Languages().SelectLanguageByName("Deutsch");
    ASSERT_NE(machine.App().Languages().GetCurrentIndex(), before);
    machine.Modes().RebuildForLanguage();
    ASSERT_TRUE(WaitUntil([&] { return machine.Modes().Current() != &english; }, 5000));
    auto& german = machine.Frame();
    EXPECT_EQ(german.menuBar()->actions().front()->text(), QStringLiteral("&Laufwerk"));
    EXPECT_EQ(german.Action(ui::Command::StartAnalyzing)->text(),
              QStringLiteral("Analyse starten"));
    auto* tabs = german.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("Legende"));
    auto* legend = german.findChild<ui::LegendView*>();
    ASSERT_NE(legend, nullptr);
    EXPECT_TRUE(legend->Meanings().contains(QStringLiteral("Gelöschte Datei")));
    EXPECT_TRUE(legend->toPlainText().contains(QStringLiteral("Gelöschte Datei")));
    EXPECT_EQ(machine.App().Languages().GetString(core::StringId::Ready), "Bereit");
    EXPECT_EQ(german.StatusText(), QStringLiteral("Bereit"));
}

}  // namespace
}  // namespace duzez::test
