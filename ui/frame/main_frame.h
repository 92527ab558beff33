#pragma once

// The explorer window: menus, toolbar, the explorer view above the legend, and the status
// bar with its status pane, progress bar and log drop-down. It turns commands into calls
// on the machine, the analysis and the recovery, and hears the engine through one queue.

#include <QMainWindow>
#include <QTimer>
#include <map>
#include <memory>

#include "platform/messages.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QToolBar;
class QToolButton;

namespace duzez::devices {
class CLocalComputer;
class CVolume;
}  // namespace duzez::devices
namespace duzez::recovery {
class CRecovery;
}
namespace duzez::filesystems {
struct FoundObject;
}

namespace duzez::ui {

class DialogSizeQuestions;
class HexView;
class PhotoPreviewPane;
class ExploreView;
class InterfaceModes;
class LegendView;
class MenuTranslation;
class QueuedMessages;

class MainFrame : public QMainWindow {
    Q_OBJECT

  public:
    MainFrame(InterfaceModes& modes, int mode, QWidget* parent = nullptr);
    ~MainFrame() override;

    PhotoPreviewPane& Preview() const { return *preview_; }
    HexView& DataViewer() const { return *viewer_; }
    // Shows the bottom pane's data viewer page.
    void ShowDataViewerPage();
    // Shows the bottom pane's preview page (tests, screenshots).
    void ShowPreviewPage();
    // Runs a command as its menu item, toolbar button or accelerator would.
    void RunCommand(int command);
    QAction* Action(int command) const;
    const std::map<int, QAction*>& Commands() const { return actions_; }
    ExploreView& Explorer() const { return *explorer_; }
    recovery::CRecovery& Recovery() { return *recovery_; }
    // Handles one engine message on the window's thread (the queue's drain calls it).
    std::int64_t HandleMessage(const platform::Message& message);
    // Handles what the engine queued so far (tests, and the drain timer).
    void DrainMessages();
    // Enables and checks the commands for the current state (idle processing).
    void UpdateCommands();
    QString StatusText() const;
    bool ProgressShown() const;
    // Recovers the checked files (or, with none checked, those selected in the list) into
    // `destination` without the dialog; the progress window shows and is returned.
    QWidget* StartRecovery(const QString& destination);
    // Adds a drive image file to the tree and selects it; null (told) when unreadable.
    devices::CVolume* LoadImageFile(const QString& file);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildMenus();
    void BuildToolBar();
    void BuildStatusBar();
    void BuildContextMenus();
    void ShowTreeMenu(const QPoint& position);
    void ShowListMenu(const QPoint& position);
    QAction* AddCommand(QMenu* menu, int command, const QString& text, const QString& tip = {},
                        const QKeySequence& key = {}, const char* icon = nullptr);
    void StartAnalyzing();
    void Analyse(devices::CVolume& volume);
    bool StopAnalyzing();
    void RescanDrives();
    // The start-up's rescan, at the first idle moment that is not busy.
    void RescanIfPending();
    void LoadDriveImage();
    void SearchLostDrives();
    void Recover();
    void ResetSize();
    void SetNewSize();
    void ShowInformation();
    void TryToOpen();
    void CreateDriveImage();
    // The object the per-file commands act on: the list's focused item, else the folder
    // selected in the tree.
    filesystems::FoundObject* FocusedObject() const;
    void ShowAbout();
    void OpenHelp(const QString& page);
    void ToggleBottomPane();
    void ShowProgress(bool shown);
    void UpdateProgress();
    void SetStatus(const QString& text);
    void AddLogLine(const QString& line);
    void OnAnalysisEnded();
    // The bottom pane follows the focus: the preview shows the focused photo.
    void UpdateBottomPane();
    void ShowSettings(int command);
    void MarkDeletedPaths();
    devices::CVolume* VolumeForRecovery();

    InterfaceModes& modes_;
    devices::CLocalComputer& computer_;
    std::unique_ptr<recovery::CRecovery> recovery_;
    std::unique_ptr<DialogSizeQuestions> recoveryQuestions_;
    bool recoveryStarted_ = false;
    std::shared_ptr<QueuedMessages> messages_;
    std::shared_ptr<QueuedMessages> logMessages_;
    ExploreView* explorer_ = nullptr;
    QSplitter* splitter_ = nullptr;
    LegendView* legend_ = nullptr;
    QTabWidget* bottom_ = nullptr;
    PhotoPreviewPane* preview_ = nullptr;
    HexView* viewer_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QComboBox* log_ = nullptr;
    QToolButton* exportLog_ = nullptr;
    std::map<int, QAction*> actions_;
    std::shared_ptr<MenuTranslation> menuTranslation_;
    QMenu* diskMenu_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* volumeMenu_ = nullptr;
    QTimer quickTimer_;
    QTimer slowTimer_;
    int mode_;
};

}  // namespace duzez::ui
