#pragma once

// The guided modes: the 4-step wizard the program starts in and the 9-step wizard. A left
// bar with the steps, one page at a time with Back, Next and Cancel, and a small menu.
// The pages drive the same engine as the explorer window: the window owns the recovery,
// hears the engine through one queue and hands its messages to the pages.

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "core/string_table.h"
#include "platform/messages.h"

class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;

namespace duzez::core {
class CApp;
}
namespace duzez::devices {
class CLocalComputer;
class CVolume;
}  // namespace duzez::devices
namespace duzez::recovery {
class CRecovery;
}

namespace duzez::ui {

class DialogSizeQuestions;
class ExploreView;
class InterfaceModes;
class Questions;
class QueuedMessages;
class WizardBar;
class WizardPage;

class WizardWindow : public QWidget {
    Q_OBJECT

  public:
    // `mode`: 32874 for the 4-step wizard, 32840 for the 9-step one.
    WizardWindow(InterfaceModes& modes, int mode, QWidget* parent = nullptr);
    ~WizardWindow() override;

    int Mode() const { return mode_; }
    int PageCount() const { return static_cast<int>(pages_.size()); }
    int CurrentIndex() const { return current_; }
    WizardPage* CurrentPage() const;
    WizardPage* PageAt(int index) const;
    template <typename Page>
    Page* FindPage(int from = 0) const {
        for (int n = from; n < PageCount(); ++n) {
            if (auto* page = qobject_cast<Page*>(PageAt(n)))
                return page;
        }
        return nullptr;
    }
    int IndexOf(const WizardPage* page) const;

    void Next();
    void Back();
    // Shows page `index` (Enter runs) without asking anything.
    void GoTo(int index);
    void RunCommand(int command);
    void UpdateButtons();

    QPushButton* BackButton() const { return back_; }
    QPushButton* NextButton() const { return next_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* MenuButton() const { return menuButton_; }
    QMenu* Menu() const { return menu_; }
    WizardBar& Bar() const { return *bar_; }
    QString Title() const;
    QString StatusText() const;

    // Handles one engine message on this thread; the queue's drain calls it.
    std::int64_t HandleMessage(const platform::Message& message);
    // Handles what the engine queued so far (tests, and the drain timer).
    void DrainMessages();

    // Adds a drive image file to the drive list and selects it on the drive page; null
    // (told) when unreadable.
    devices::CVolume* LoadImageFile(const QString& file);
    // The volume chosen on the drive page.
    devices::CVolume* Volume() const;
    // Before `volume` is analysed: the views let go of what its last analysis found.
    void BeginAnalysis(devices::CVolume& volume);
    // The found-file count of the volume chosen.
    std::uint32_t FilesFound() const;

    // The recovery of the checked files (else those selected in the list) of `explorer`
    // into `destination`; the progress window is returned, null when nothing started.
    QWidget* StartRecovery(ExploreView& explorer, const QString& destination);
    // "Recover...": the recovery dialog, then the recovery.
    void Recover(ExploreView& explorer);
    void TryToOpen(ExploreView& explorer);
    void ShowInformation(ExploreView& explorer);
    recovery::CRecovery& Recovery() { return *recovery_; }
    // Files written by every recovery of this window.
    std::uint32_t RecoveredTotal() const;
    // The destination shown in the file manager; tests replace it.
    void SetFolderOpener(std::function<void(const QString&)> opener) {
        openFolder_ = std::move(opener);
    }
    void ShowFolder(const QString& folder);
    // "Process Another Drive": the first page again with the drives read anew.
    void ProcessAnotherDrive();

    InterfaceModes& Modes() { return modes_; }
    devices::CLocalComputer& Computer() { return computer_; }
    core::CApp& App();
    Questions& Ask();
    QString Text(core::StringId id) const;
    // Stops the running analysis as the explorer's Stop does; false when declined.
    bool StopAnalysis();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildPages();
    void BuildMenu();
    void AddPage(WizardPage* page);
    void SetStatus(const QString& text);

    InterfaceModes& modes_;
    devices::CLocalComputer& computer_;
    int mode_;
    std::unique_ptr<recovery::CRecovery> recovery_;
    std::unique_ptr<DialogSizeQuestions> recoveryQuestions_;
    bool recoveryStarted_ = false;
    std::uint32_t recoveredBefore_ = 0;  // by the runs before the current one
    std::shared_ptr<QueuedMessages> messages_;
    std::shared_ptr<QueuedMessages> logMessages_;
    std::function<void(const QString&)> openFolder_;
    WizardBar* bar_ = nullptr;
    QLabel* title_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* menuButton_ = nullptr;
    QMenu* menu_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* cancel_ = nullptr;
    std::vector<WizardPage*> pages_;
    int current_ = -1;
    QTimer quickTimer_;
    QTimer slowTimer_;
};

}  // namespace duzez::ui
