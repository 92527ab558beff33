#pragma once

// The wizards' pages. Each page says what Next and Back may do from it; the window moves
// between them, owns the engine objects they share and hands them the engine messages.

#include <QWidget>
#include <cstdint>

#include "core/string_table.h"
#include "platform/messages.h"
#include "ui/explorer/files_tree_model.h"
#include "ui/explorer/volume_checks.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSortFilterProxyModel;
class QTreeView;

namespace duzez::devices {
class CVolume;
}

namespace duzez::ui {

class ExploreView;
class WizardWindow;

class WizardPage : public QWidget {
    Q_OBJECT

  public:
    WizardPage(WizardWindow& wizard, core::StringId title);

    QString Title() const;
    virtual void Enter() {}
    virtual bool NextEnabled() const { return true; }
    virtual bool BackEnabled() const { return true; }
    // Asked as Next or Back is pressed; false keeps the page.
    virtual bool ConfirmNext() { return true; }
    virtual bool ConfirmBack() { return true; }
    // Where Back goes, when not to the page before (-1).
    virtual int BackTarget() const { return -1; }
    virtual void OnMessage(const platform::Message&) {}
    // The window's 250 ms timer, while the page is shown.
    virtual void Tick() {}
    virtual void AddLogLine(const QString&) {}

  protected:
    QString Text(core::StringId id) const;
    WizardWindow& wizard_;

  private:
    core::StringId title_;
};

class WelcomePage : public WizardPage {
    Q_OBJECT

  public:
    explicit WelcomePage(WizardWindow& wizard);
};

// The drives: the files tree with its volumes only.
class DrivePage : public WizardPage {
    Q_OBJECT

  public:
    DrivePage(WizardWindow& wizard, core::StringId title);

    bool NextEnabled() const override;
    void Enter() override;
    devices::CVolume* SelectedVolume() const;
    void SelectVolume(const devices::CVolume& volume);
    // The drives again, as they are listed now.
    void Refresh();
    QTreeView* Tree() const { return tree_; }

  private:
    VolumeChecks checks_;
    FilesTreeModel model_;
    QSortFilterProxyModel* proxy_ = nullptr;
    QTreeView* tree_ = nullptr;
};

class FileTypesTree;

// The search marks go into the formats as Next leaves the page.
class FileTypesPage : public WizardPage {
    Q_OBJECT

  public:
    explicit FileTypesPage(WizardWindow& wizard);
    void Enter() override;
    bool ConfirmNext() override;
    FileTypesTree* Types() const { return types_; }

  private:
    FileTypesTree* types_ = nullptr;
};

class ScanModePage : public WizardPage {
    Q_OBJECT

  public:
    explicit ScanModePage(WizardWindow& wizard);

  private:
    QRadioButton* entire_ = nullptr;
    QRadioButton* freeOnly_ = nullptr;
};

// The folder the recovered files go to, with the warning against the source drive.
class DestinationBox : public QWidget {
    Q_OBJECT

  public:
    DestinationBox(WizardWindow& wizard, bool withKeepFolders, QWidget* parent);
    QString Destination() const;
    void SetDestination(const QString& folder);
    // Stores the choice; false (told) when the folder cannot take the files.
    bool Accept();
    void UpdateWarning();
    QLineEdit* Edit() const { return folder_; }

  private:
    WizardWindow& wizard_;
    QLineEdit* folder_ = nullptr;
    QLabel* warning_ = nullptr;
    QCheckBox* keepFolders_ = nullptr;
};

// 4-step page 2: where to and which types.
class ScanParamPage : public WizardPage {
    Q_OBJECT

  public:
    explicit ScanParamPage(WizardWindow& wizard);
    void Enter() override;
    bool ConfirmNext() override;
    DestinationBox& Destination() const { return *destination_; }
    FileTypesTree* Types() const { return types_; }

  private:
    DestinationBox* destination_ = nullptr;
    FileTypesTree* types_ = nullptr;
};

// 9-step page 4.
class AutoPilotPage : public WizardPage {
    Q_OBJECT

  public:
    explicit AutoPilotPage(WizardWindow& wizard);
    void Enter() override;
    bool ConfirmNext() override;

  private:
    QCheckBox* autoPilot_ = nullptr;
    DestinationBox* destination_ = nullptr;
};

// 9-step pages 5 (file system) and 7 (sectors).
class ScanPage : public WizardPage {
    Q_OBJECT

  public:
    ScanPage(WizardWindow& wizard, core::StringId title, bool sectors);
    void Enter() override;
    bool NextEnabled() const override;
    bool BackEnabled() const override;
    bool ConfirmBack() override;
    int BackTarget() const override;
    void OnMessage(const platform::Message& message) override;
    void Tick() override;
    void AddLogLine(const QString& line) override;
    void Start();
    void Stop();
    // The scan starts by itself the next time the page is shown.
    void MarkRestart() { restart_ = true; }

  private:
    void Update();

    bool sectors_;
    bool restart_ = false;
    int ticks_ = 0;
    int readErrors_ = 0;
    QLabel* volume_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* found_ = nullptr;
    QLabel* errors_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* current_ = nullptr;
    QLabel* total_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QCheckBox* fileNames_ = nullptr;
};

// 4-step page 3: both phases one after the other.
class AnalysingPage : public WizardPage {
    Q_OBJECT

  public:
    explicit AnalysingPage(WizardWindow& wizard);
    void Enter() override;
    bool NextEnabled() const override;
    bool BackEnabled() const override;
    void OnMessage(const platform::Message& message) override;
    void Tick() override;
    void AddLogLine(const QString& line) override;
    void Skip();
    void Stop();
    QPushButton* SkipButton() const { return skip_; }
    QPushButton* StopButton() const { return stop_; }

  private:
    void Update();
    bool Running() const;

    devices::CVolume* volume_ = nullptr;
    bool skipping_ = false;  // the sector phase waits for the file-system thread to end
    bool fileSystemDone_ = false;
    int readErrors_ = 0;
    int ticks_ = 0;
    QLabel* selected_ = nullptr;
    QLabel* found_ = nullptr;
    QProgressBar* fileSystemBar_ = nullptr;
    QPushButton* skip_ = nullptr;
    QProgressBar* sectorBar_ = nullptr;
    QPushButton* stop_ = nullptr;
    QLabel* sector_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QLabel* errors_ = nullptr;
    QLabel* status_ = nullptr;
};

// The found files with their check marks, and the recovery.
class ViewPage : public WizardPage {
    Q_OBJECT

  public:
    // `question`: what Next asks when nothing (more) was recovered; `sinceEntry`: whether
    // the count is the one since the page was entered.
    ViewPage(WizardWindow& wizard, core::StringId title, core::StringId question, bool sinceEntry,
             bool moreButtons);
    void Enter() override;
    bool NextEnabled() const override;
    bool ConfirmNext() override;
    void Tick() override;
    ExploreView& Explorer() const { return *explorer_; }
    QPushButton* RecoverButton() const { return recover_; }

  private:
    core::StringId question_;
    bool sinceEntry_;
    std::uint32_t recoveredAtEntry_ = 0;
    ExploreView* explorer_ = nullptr;
    QPushButton* recover_ = nullptr;
};

class FinishPage : public WizardPage {
    Q_OBJECT

  public:
    FinishPage(WizardWindow& wizard, core::StringId title);
    void Enter() override;
    bool NextEnabled() const override { return false; }
    QPushButton* ExploreButton() const { return explore_; }
    QPushButton* AnotherButton() const { return another_; }
    QString FoundText() const;
    QString RecoveredText() const;

  private:
    QLabel* found_ = nullptr;
    QLabel* recovered_ = nullptr;
    QPushButton* explore_ = nullptr;
    QPushButton* another_ = nullptr;
    QPushButton* feedback_ = nullptr;
};

}  // namespace duzez::ui
