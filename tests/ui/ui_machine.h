#pragma once

// What a window test needs: the program's objects in a folder of their own (settings,
// state, cache), answers to the window's questions chosen by the test, and camera cards
// made with mkfs.fat and mtools.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include "core/app.h"
#include "devices/local_computer.h"
#include "tests/support/temp_folder.h"
#include "ui/frame/interface_modes.h"
#include "ui/frame/language_translator.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/questions.h"

namespace duzez::test {

// Answers Yes/No questions from a list (Yes when it runs out) and keeps what was asked.
class ScriptedQuestions : public ui::Questions {
  public:
    bool AskYesNo(QWidget*, const QString& caption, const QString& text) override {
        asked.push_back(caption + QStringLiteral(": ") + text);
        if (answers.empty())
            return true;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Tell(QWidget*, const QString& caption, const QString& text) override {
        told.push_back(caption + QStringLiteral(": ") + text);
    }
    std::deque<bool> answers;
    std::vector<QString> asked;
    std::vector<QString> told;
};

// Runs the event loop until `done` or `limitMs` passed; whether `done` came true.
inline bool WaitUntil(const std::function<bool()>& done, int limitMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class UiMachine {
  public:
    // `home` holds the settings; a second machine on the same folder is the next start.
    // `languages` is the folder of language files (none by default).
    explicit UiMachine(const std::filesystem::path& home,
                       std::optional<std::filesystem::path> languages = std::nullopt);
    ~UiMachine();

    core::CApp& App() { return *app_; }
    devices::CLocalComputer& Computer() { return *computer_; }
    ScriptedQuestions& Questions() { return questions_; }
    ui::InterfaceModes& Modes() { return *modes_; }
    // The explorer window, opened on first use.
    ui::MainFrame& Frame();

  private:
    ScopedEnv config_;
    ScopedEnv state_;
    ScopedEnv cache_;
    ScopedEnv data_;
    std::unique_ptr<core::CApp> app_;
    std::unique_ptr<devices::CLocalComputer> computer_;
    ScriptedQuestions questions_;
    std::unique_ptr<ui::InterfaceModes> modes_;
    std::unique_ptr<ui::LanguageTranslator> translator_;
};

// A FAT16 card of 20 MB: DCIM/100CANON with four photos, the third deleted, and an empty
// MISC folder. Empty path, with a failure, when the tools fail.
std::filesystem::path MakeCameraCard(const std::filesystem::path& folder);
// Whether dosfstools and mtools are here to make one.
bool HaveCardTools();

// A camera card made, loaded and analysed in the explorer window; skipped without the tools.
class AnalysedCardTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // The object of that name on the card (a failure when there is none).
    filesystems::FoundObject* Named(std::string_view name) const;

    TempFolder dir_;
    std::filesystem::path card_;
    std::unique_ptr<UiMachine> machine_;
    devices::CVolume* volume_ = nullptr;
    filesystems::FoundObjectTree* tree_ = nullptr;
};

}  // namespace duzez::test
