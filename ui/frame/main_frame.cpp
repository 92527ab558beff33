#include "ui/frame/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "core/app.h"
#include "core/window_messages.h"
#include "devices/local_computer.h"
#include "filesystems/found_object_tree.h"
#include "platform/program_folders.h"
#include "recovery/probable_size.h"
#include "recovery/recovery.h"
#include "ui/dialogs/create_image_dialog.h"
#include "ui/dialogs/file_info_dialog.h"
#include "ui/dialogs/filters_dialog.h"
#include "ui/dialogs/probable_size_dialog.h"
#include "ui/dialogs/recover_dialog.h"
#include "ui/dialogs/recovery_progress_dialog.h"
#include "ui/dialogs/settings_sheet.h"
#include "ui/dialogs/try_open_warning.h"
#include "ui/dialogs/volume_information_dialog.h"
#include "ui/explorer/explore_view.h"
#include "ui/explorer/legend_view.h"
#include "ui/frame/commands.h"
#include "ui/frame/interface_modes.h"
#include "ui/frame/menu_translation.h"
#include "ui/frame/questions.h"
#include "ui/frame/queued_messages.h"
#include "ui/frame/udisks_opener.h"
#include "ui/help/help_window.h"
#include "ui/icons.h"
#include "ui/viewer/byte_source.h"
#include "ui/viewer/hex_view.h"
#include "ui/viewer/photo_preview.h"

namespace duzez::ui {

namespace {

using core::StringId;
using devices::CVolume;

constexpr std::uint32_t WM_FILE_SYSTEM_PHASE_ENDED = core::WM_APP + 107;
constexpr std::uint32_t WM_SECTOR_PHASE_ENDED = core::WM_APP + 108;
constexpr std::uint32_t WM_ANALYSIS_ENDED = core::WM_APP + 111;
constexpr std::uint32_t WM_FOUND_VOLUME = core::WM_APP + 502;
constexpr std::uint32_t WM_MEDIA_CHANGED = core::WM_APP + 506;
constexpr std::uint32_t WM_SECTOR_PHASE_STARTED = core::WM_APP + 509;

}  // namespace

MainFrame::MainFrame(InterfaceModes& modes, int mode, QWidget* parent)
    : QMainWindow(parent),
      modes_(modes),
      computer_(modes.Computer()),
      recovery_(std::make_unique<recovery::CRecovery>(modes.Computer())),
      mode_(mode) {
    auto& app = modes_.App();
    app.Settings().SetContinueWithSectors(true);
    setObjectName(QStringLiteral("mainFrame"));
    messages_ = std::make_shared<QueuedMessages>(
        [this](const platform::Message& message) { return HandleMessage(message); });
    logMessages_ = std::make_shared<QueuedMessages>(
        [this](const platform::Message& message) { return HandleMessage(message); });
    recoveryQuestions_ = std::make_unique<DialogSizeQuestions>(app, modes_.Ask(), this);
    recovery_->SetQuestions(recoveryQuestions_.get());
    computer_.SetQuestionAnswerer([this](StringId caption, StringId text) {
        const auto& texts = modes_.App().Languages();
        return modes_.Ask().AskYesNo(this, QString::fromStdString(texts.GetString(caption)),
                                     QString::fromStdString(texts.GetString(text)));
    });

    splitter_ = new QSplitter(Qt::Vertical, this);
    explorer_ = new ExploreView(computer_, modes_.Ask(), splitter_);
    bottom_ = new QTabWidget(splitter_);
    bottom_->setObjectName(QStringLiteral("bottomPane"));
    legend_ = new LegendView(bottom_);
    preview_ = new PhotoPreviewPane(bottom_);
    viewer_ = new HexView(bottom_);
    viewer_->setObjectName(QStringLiteral("dataViewer"));
    viewer_->SetReadOnly(true);
    viewer_->SetQuestions(&modes_.Ask());
    bottom_->addTab(legend_, tr("Legend"));
    bottom_->addTab(viewer_, tr("Data viewer"));
    bottom_->addTab(preview_, tr("Preview"));
    // The explorer modes differ in what the bottom pane shows first.
    if (mode_ == Command::ModeExplorer || mode_ == Command::ModeExplorerViewer)
        bottom_->setCurrentWidget(viewer_);
    connect(bottom_, &QTabWidget::currentChanged, this, [this] { UpdateBottomPane(); });
    splitter_->addWidget(explorer_);
    splitter_->addWidget(bottom_);
    splitter_->setStretchFactor(0, 2);
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);

    BuildMenus();
    BuildToolBar();
    BuildStatusBar();
    BuildContextMenus();
    // The language manager keeps the menu and translates it again at every change.
    menuTranslation_ = std::make_shared<MenuTranslation>(*menuBar(), actions_);
    app.Languages().TranslateMenu("MainMenu", menuTranslation_);
    ShowProgress(false);
    bottom_->setVisible(app.Settings().Flag(core::CSettings::kBottomPaneVisible));
    toolBar_->setVisible(app.Settings().Flag(core::CSettings::kToolbarVisible));
    statusBar()->setVisible(app.Settings().Flag(core::CSettings::kStatusBarVisible));

    connect(&quickTimer_, &QTimer::timeout, this, [this] {
        UpdateProgress();
        UpdateCommands();
        explorer_->UpdateSearch();
        RescanIfPending();
        if (modes_.App().IsBusy())
            explorer_->ListModel().Refresh();
    });
    connect(&slowTimer_, &QTimer::timeout, this, [this] {
        if (modes_.App().IsBusy())
            explorer_->RefreshFound();
    });
    quickTimer_.start(250);
    slowTimer_.start(2000);
    connect(explorer_, &ExploreView::CurrentChanged, this, [this] {
        UpdateCommands();
        UpdateBottomPane();
    });

    app.SetMainWindow(messages_);
    app.SetLogPane(logMessages_);
    for (const std::string& line : computer_.Log().Lines())
        AddLogLine(QString::fromStdString(line));
    computer_.Log().LogMessage(StringId::ProgramRunning);
    // The first idle moment: the drives once more, and "My Computer".
    QTimer::singleShot(0, this, [this] { RescanIfPending(); });
    UpdateCommands();
}

MainFrame::~MainFrame() {
    messages_->Close();
    logMessages_->Close();
    auto& app = modes_.App();
    // A window of another mode may have taken over already: what is its is left alone.
    if (app.MainWindow() == messages_) {
        app.SetMainWindow(nullptr);
        computer_.SetQuestionAnswerer({});
    }
    if (app.LogPane() == logMessages_)
        app.SetLogPane(nullptr);
    // The recovery thread may be waiting for a question this thread must show: it is
    // stopped and let finish before it is joined.
    recovery_->AbortRecovery();
    while (recoveryStarted_ && !recovery_->Finished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    recovery_->Wait();
}

QAction* MainFrame::AddCommand(QMenu* menu, int command, const QString& text, const QString& tip,
                               const QKeySequence& key, const char* icon) {
    auto* action = new QAction(text, this);
    action->setData(command);
    if (!tip.isEmpty()) {
        action->setStatusTip(tip);
        action->setToolTip(tip);
    }
    if (!key.isEmpty())
        action->setShortcut(key);
    if (icon != nullptr)
        action->setIcon(ThemeIcon(icon));
    connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    if (menu != nullptr)
        menu->addAction(action);
    actions_[command] = action;
    return action;
}

QAction* MainFrame::Action(int command) const {
    const auto found = actions_.find(command);
    return found != actions_.end() ? found->second : nullptr;
}

void MainFrame::BuildMenus() {
    QMenu* disk = menuBar()->addMenu(tr("&Disk"));
    diskMenu_ = disk;
    AddCommand(disk, Command::StartAnalyzing, tr("Start Analyzing"), tr("Start drive analysis"), {},
               "media-playback-start");
    AddCommand(disk, Command::StopAnalyzing, tr("Stop Analyzing"), tr("Stop drive analysis"), {},
               "media-playback-stop");
    disk->addSeparator();
    AddCommand(disk, Command::CreateDriveImage, tr("Create Drive Image..."),
               tr("Save drive image to file"));
    AddCommand(disk, Command::LoadDriveImage, tr("Load Drive Image..."),
               tr("Load drive image from file"), {}, "document-open");
    disk->addSeparator();
    AddCommand(disk, Command::RescanDrives, tr("Rescan Drives"), tr("Rescan drives"),
               QKeySequence(Qt::Key_F5), "view-refresh");
    AddCommand(disk, Command::SearchLostDrives, tr("Search Lost Drives"), tr("Find Lost Disks"));
    disk->addSeparator();
    AddCommand(disk, Command::Exit, tr("Exit"), {}, QKeySequence::Quit, "application-exit");

    QMenu* file = menuBar()->addMenu(tr("&File"));
    fileMenu_ = file;
    AddCommand(file, Command::SelectAll, tr("Select all"), {}, QKeySequence::SelectAll);
    AddCommand(file, Command::Recover, tr("Recover..."), tr("Recover selected files"),
               QKeySequence(Qt::CTRL | Qt::Key_R), "document-save");
    AddCommand(file, Command::TryToOpen, tr("Try To Open..."), tr("Try to open..."));
    AddCommand(file, Command::ResetSize, tr("Reset Size"), tr("Set file size as 'unknown'"));
    AddCommand(file, Command::SetNewSize, tr("Set New Size..."), tr("Change file size"));
    AddCommand(file, Command::Information, tr("Information..."), tr("Information..."),
               QKeySequence(Qt::CTRL | Qt::Key_I));

    QMenu* view = menuBar()->addMenu(tr("&View"));
    AddCommand(view, Command::Search, tr("Search"), tr("Find files"), {}, "edit-find")
        ->setCheckable(true);
    AddCommand(view, Command::Filters, tr("Filters..."), tr("Filters"));
    AddCommand(view, Command::Legend, tr("Legend"), tr("Show or hide button."))->setCheckable(true);
    AddCommand(view, Command::Thumbnails, tr("Thumbnails"), tr("Show photos as thumbnails"), {},
               "image-x-generic")
        ->setCheckable(true);
    view->addSeparator();
    AddCommand(view, Command::ModeWizard4, tr("Recovery Wizard"),
               tr("Get photos back in four steps"));
    AddCommand(view, Command::ModeWizard9, tr("Advanced Wizard"), tr("The wizard with every step"));
    view->addSeparator();
    AddCommand(view, Command::ToolBar, tr("Tool bar"))->setCheckable(true);
    AddCommand(view, Command::StatusBar, tr("Status Bar"))->setCheckable(true);

    QMenu* options = menuBar()->addMenu(tr("&Options"));
    AddCommand(options, Command::Settings, tr("Settings..."), tr("Program settings"),
               QKeySequence(Qt::CTRL | Qt::Key_P), "preferences-system");
    AddCommand(options, Command::CommonSettings, tr("Common Settings..."), tr("General Settings"));
    AddCommand(options, Command::Confirmations, tr("Confirmations..."), tr("Confirmations"));
    AddCommand(options, Command::FileTypes, tr("File Types..."));
    AddCommand(options, Command::TemporaryFolder, tr("Temporary Folder..."));
    AddCommand(options, Command::DriveAccess, tr("Drive Access..."), tr("Drive Access"));
    AddCommand(options, Command::Logging, tr("Logging..."));
    AddCommand(options, Command::InterfaceLanguage, tr("Interface Language..."),
               tr("Interface Language"));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    AddCommand(help, Command::HelpContents, tr("Contents"), tr("Help"), QKeySequence(Qt::Key_F1),
               "help-contents");
    AddCommand(help, Command::RecoveryGuide, tr("Recovery Guide"));
    AddCommand(help, Command::SearchHelp, tr("Search for Help on..."));
    AddCommand(help, Command::VisitWebsite, tr("Visit website"), tr("Read about the program"), {},
               "go-home");
    help->addSeparator();
    AddCommand(help, Command::About, tr("About..."), tr("About"), {}, "help-about");
}

void MainFrame::BuildContextMenus() {
    volumeMenu_ = new QMenu(this);
    AddCommand(volumeMenu_, Command::Select, tr("Select"));
    volumeMenu_->addAction(Action(Command::CreateDriveImage));
    volumeMenu_->addAction(Action(Command::LoadDriveImage));
    volumeMenu_->addAction(Action(Command::RescanDrives));
    AddCommand(volumeMenu_, Command::Properties, tr("Properties"));
    for (QTreeView* view : {explorer_->TreeView(), explorer_->ListView()})
        view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(explorer_->TreeView(), &QWidget::customContextMenuRequested, this,
            &MainFrame::ShowTreeMenu);
    connect(explorer_->ListView(), &QWidget::customContextMenuRequested, this,
            &MainFrame::ShowListMenu);
}

void MainFrame::ShowTreeMenu(const QPoint& position) {
    QTreeView* tree = explorer_->TreeView();
    const QModelIndex index = tree->indexAt(position);
    if (!index.isValid())
        return;
    tree->setCurrentIndex(index);
    UpdateCommands();
    QMenu* menu = nullptr;
    if (explorer_->TreeModel().ObjectAt(index) != nullptr)
        menu = diskMenu_;
    else if (explorer_->SelectedVolume() != nullptr)  // not on the two root nodes
        menu = volumeMenu_;
    if (menu != nullptr)
        menu->popup(tree->viewport()->mapToGlobal(position));
}

void MainFrame::ShowListMenu(const QPoint& position) {
    QTreeView* list = explorer_->ListView();
    const QModelIndex index = list->indexAt(position);
    const filesystems::FoundObject* object = explorer_->ListModel().ObjectAt(index);
    if (object == nullptr)
        return;
    UpdateCommands();
    QMenu* menu = object->Is(filesystems::ObjectFlags::Folder) ? diskMenu_ : fileMenu_;
    menu->popup(list->viewport()->mapToGlobal(position));
}

void MainFrame::BuildToolBar() {
    toolBar_ = addToolBar(tr("Tool bar"));
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(24, 24));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    for (const int command :
         {Command::StartAnalyzing, Command::StopAnalyzing, Command::RescanDrives, Command::Recover,
          Command::Search, Command::Settings, Command::VisitWebsite, Command::HelpContents,
          Command::About}) {
        toolBar_->addAction(Action(command));
    }
    // Only the four main buttons carry their text.
    Action(Command::StartAnalyzing)->setIconText(tr("Analyze"));
    Action(Command::RescanDrives)->setIconText(tr("Rescan Drives"));
    Action(Command::Recover)->setIconText(tr("Recover"));
    Action(Command::Search)->setIconText(tr("Find"));
    for (const int command : {Command::StopAnalyzing, Command::Settings, Command::VisitWebsite,
                              Command::HelpContents, Command::About}) {
        if (QWidget* button = toolBar_->widgetForAction(Action(command))) {
            if (auto* tool = qobject_cast<QToolButton*>(button))
                tool->setToolButtonStyle(Qt::ToolButtonIconOnly);
        }
    }
}

void MainFrame::BuildStatusBar() {
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusPane"));
    status_->setFixedWidth(250);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 100);
    progress_->setFixedWidth(200);
    auto* logArea = new QWidget(this);
    auto* logLayout = new QHBoxLayout(logArea);
    logLayout->setContentsMargins(0, 0, 0, 0);
    log_ = new QComboBox(logArea);
    log_->setObjectName(QStringLiteral("logList"));
    log_->setMinimumWidth(200);
    log_->setMaxVisibleItems(20);
    exportLog_ = new QToolButton(logArea);
    exportLog_->setObjectName(QStringLiteral("exportLog"));
    exportLog_->setIcon(ThemeIcon("document-save"));
    exportLog_->setToolTip(tr("Save the log to a file and open it"));
    connect(exportLog_, &QToolButton::clicked, this, [this] { RunCommand(Command::LogExport); });
    logLayout->addWidget(log_, 1);
    logLayout->addWidget(exportLog_);
    statusBar()->addWidget(status_);
    statusBar()->addWidget(progress_);
    statusBar()->addWidget(logArea, 1);
    SetStatus(QString::fromStdString(modes_.App().Languages().GetString(StringId::Ready)));
}

void MainFrame::RunCommand(int command) {
    auto& settings = modes_.App().Settings();
    // The state may have changed since the last idle moment (an analysis just ended).
    UpdateCommands();
    const QAction* action = Action(command);
    if (action != nullptr && !action->isEnabled())
        return;
    // Reading a drive is what the user asked for now: a password prompt may come.
    if (command == Command::StartAnalyzing || command == Command::CreateDriveImage ||
        command == Command::SearchLostDrives) {
        if (auto* udisks = dynamic_cast<UdisksDeviceOpener*>(&computer_.Opener()))
            udisks->AllowAsking();
    }
    switch (command) {
        case Command::StartAnalyzing:
            StartAnalyzing();
            break;
        case Command::StopAnalyzing:
            StopAnalyzing();
            break;
        case Command::RescanDrives:
            RescanDrives();
            break;
        case Command::LoadDriveImage:
            LoadDriveImage();
            break;
        case Command::SearchLostDrives:
            SearchLostDrives();
            break;
        case Command::Exit:
            close();
            break;
        case Command::Select:
            computer_.SelectedVolume = explorer_->SelectedVolume();
            break;
        case Command::Properties:
            if (devices::CVolume* volume = explorer_->SelectedVolume()) {
                VolumeInformationDialog information(*volume, modes_.App().Languages(), this);
                information.exec();
            }
            break;
        case Command::SelectAll:
            explorer_->ListView()->selectAll();
            break;
        case Command::Recover:
            Recover();
            break;
        case Command::ResetSize:
            ResetSize();
            break;
        case Command::SetNewSize:
            SetNewSize();
            break;
        case Command::Information:
            ShowInformation();
            break;
        case Command::TryToOpen:
            TryToOpen();
            break;
        case Command::CreateDriveImage:
            CreateDriveImage();
            break;
        case Command::Legend:
            ToggleBottomPane();
            break;
        case Command::Search:
            if (explorer_->Mode() == ViewMode::Search) {
                explorer_->CancelSearch();
                explorer_->SetMode(ViewMode::Previous);
            } else {
                explorer_->SetMode(ViewMode::Search);
            }
            break;
        case Command::Settings:
        case Command::CommonSettings:
        case Command::Confirmations:
        case Command::FileTypes:
        case Command::TemporaryFolder:
        case Command::DriveAccess:
        case Command::Logging:
        case Command::InterfaceLanguage:
            ShowSettings(command);
            break;
        case Command::Filters: {
            FiltersDialog filters(computer_, this);
            connect(&filters, &FiltersDialog::filterChanged, explorer_,
                    &ExploreView::ApplyDisplayFilter);
            filters.exec();
            break;
        }
        case Command::Thumbnails:
            explorer_->SetThumbnails(!explorer_->ThumbnailsShown());
            break;
        case Command::ToolBar:
            settings.SetFlag(core::CSettings::kToolbarVisible,
                             !settings.Flag(core::CSettings::kToolbarVisible));
            toolBar_->setVisible(settings.Flag(core::CSettings::kToolbarVisible));
            break;
        case Command::StatusBar:
            settings.SetFlag(core::CSettings::kStatusBarVisible,
                             !settings.Flag(core::CSettings::kStatusBarVisible));
            statusBar()->setVisible(settings.Flag(core::CSettings::kStatusBarVisible));
            break;
        case Command::HelpContents:
        case Command::VisitWebsite:
            OpenHelp(QStringLiteral("index.html"));
            break;
        case Command::RecoveryGuide:
            OpenHelp(QStringLiteral("basics.quickstart.html"));
            break;
        case Command::SearchHelp:
            OpenHelp(QStringLiteral("index.html#a-z"));
            break;
        case Command::About:
            ShowAbout();
            break;
        case Command::LogExport:
            computer_.Log().ExportToFile();
            break;
        case Command::ModeExplorerLegend:
        case Command::ModeWizard9:
        case Command::ModeExplorer:
        case Command::ModeExplorerViewer:
        case Command::ModeWizard4:
            modes_.SwitchMode(command);
            break;
        default:
            break;
    }
    UpdateCommands();
}

void MainFrame::StartAnalyzing() {
    CVolume* volume = explorer_->SelectedVolume();
    if (volume == nullptr || modes_.App().IsBusy())
        return;
    modes_.App().Settings().SetContinueWithSectors(true);
    Analyse(*volume);
    explorer_->SelectVolume(*volume);
    UpdateCommands();
}

void MainFrame::Analyse(CVolume& volume) {
    // What the views and the preview hold of its last analysis goes before the analysis
    // frees it.
    preview_->Forget();
    preview_->Clear();
    explorer_->BeginAnalysis(volume);
    volume.FoundObjectTree->Clear();
    computer_.StartAnalysis(volume);
}

bool MainFrame::StopAnalyzing() {
    CVolume* volume = computer_.ActiveVolume.load();
    if (volume == nullptr || !modes_.App().IsBusy())
        return true;
    if (!computer_.StopAnalysis(*volume, false))
        return false;
    const auto& texts = modes_.App().Languages();
    SetStatus(QString::fromStdString(texts.GetString(StringId::Aborting)));
    modes_.App().Settings().SetContinueWithSectors(false);
    computer_.Log().LogMessage(StringId::OperationAborted);
    explorer_->RefreshFound();
    UpdateCommands();
    return true;
}

void MainFrame::RescanDrives() {
    if (modes_.App().IsBusy())
        return;
    computer_.Volumes().Rescan();
    explorer_->RebuildDrives();
}

void MainFrame::RescanIfPending() {
    auto& settings = modes_.App().Settings();
    if (!settings.RescanPending() || modes_.App().IsBusy())
        return;
    settings.SetRescanPending(false);
    // Whatever was opened or analysed since start-up (an image, a search, a drive picked in
    // the wizard) stays in view, and a rescan would drop the volumes found on it.
    if (explorer_->Mode() != ViewMode::MyComputer ||
        computer_.LastAnalysedVolume.load() != &computer_.ComputerRoot())
        return;
    RescanDrives();
    explorer_->SetMode(ViewMode::MyComputer, true);
}

void MainFrame::LoadDriveImage() {
    const QString file = QFileDialog::getOpenFileName(
        this, tr("Load Drive Image"), {}, tr("Drive Image Files ( *.dsk ) (*.dsk);;All files (*)"));
    if (!file.isEmpty())
        LoadImageFile(file);
}

CVolume* MainFrame::LoadImageFile(const QString& file) {
    std::string error;
    CVolume* volume = computer_.LoadImage(file.toStdString(), error);
    if (volume == nullptr) {
        modes_.Ask().Tell(this, tr("Load Drive Image"),
                          tr("The image cannot be opened: %1").arg(QString::fromStdString(error)));
        return nullptr;
    }
    explorer_->RebuildDrives();
    explorer_->SelectVolume(*volume);
    return volume;
}

void MainFrame::SearchLostDrives() {
    CVolume* volume = explorer_->SelectedVolume();
    if (volume == nullptr || modes_.App().IsBusy() || !volume->OpenDrive())
        return;
    computer_.StartSectorAnalysis(*volume, true);
}

CVolume* MainFrame::VolumeForRecovery() {
    CVolume* selected = explorer_->SelectedVolume();
    if (selected != nullptr && !explorer_->Checks().CheckedFiles(*selected).empty())
        return selected;
    for (CVolume* volume : explorer_->Checks().VolumesWithMarks()) {
        if (!explorer_->Checks().CheckedFiles(*volume).empty())
            return volume;
    }
    return explorer_->ListModel().Volume();
}

QWidget* MainFrame::StartRecovery(const QString& destination) {
    CVolume* volume = VolumeForRecovery();
    if (volume == nullptr || modes_.App().IsBusy())
        return nullptr;
    std::vector<filesystems::FoundObject*> files = explorer_->Checks().CheckedFiles(*volume);
    if (files.empty() && explorer_->ListModel().Volume() == volume) {
        for (filesystems::FoundObject* object : explorer_->SelectedObjects()) {
            if (!object->Is(filesystems::ObjectFlags::Folder))
                files.push_back(object);
        }
    }
    if (files.empty()) {
        modes_.Ask().Tell(this, tr("Recover"), tr("Tick the files or folders to recover first."));
        return nullptr;
    }
    const std::string problem = recovery_->DestinationProblem(destination.toStdString(), volume);
    if (!problem.empty()) {
        modes_.Ask().Tell(this, tr("Recover"), QString::fromStdString(problem));
        return nullptr;
    }
    computer_.ActiveVolume = volume;
    recovery_->RecoveryList = std::move(files);
    recoveryStarted_ = true;
    recovery_->StartRecovery(destination.toStdString());
    auto* progress =
        new RecoveryProgressDialog(*recovery_, modes_.App(), modes_.Ask(), destination, this);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->show();
    return progress;
}

void MainFrame::Recover() {
    RecoverDialog dialog(modes_.App(), this);
    while (dialog.exec() == QDialog::Accepted) {
        if (StartRecovery(dialog.Destination()) != nullptr)
            return;
        // A refused destination keeps the dialog open.
    }
}

void MainFrame::ResetSize() {
    for (filesystems::FoundObject* object : explorer_->SelectedObjects()) {
        if (object->Is(filesystems::ObjectFlags::FoundBySignature))
            object->Size = filesystems::kUnknownSize;
    }
    explorer_->ListView()->viewport()->update();
}

filesystems::FoundObject* MainFrame::FocusedObject() const {
    if (filesystems::FoundObject* object = explorer_->FocusedObject())
        return object;
    return explorer_->VolumeNodeSelected()
               ? nullptr
               : explorer_->TreeModel().ObjectAt(explorer_->TreeView()->currentIndex());
}

void MainFrame::ShowInformation() {
    CVolume* volume = explorer_->SelectedVolume();
    const filesystems::FoundObject* object = FocusedObject();
    if (volume == nullptr || object == nullptr)
        return;
    FileInfoDialog dialog(*volume, *object, modes_.App(), this);
    dialog.exec();
}

void MainFrame::SetNewSize() {
    CVolume* volume = explorer_->SelectedVolume();
    if (volume == nullptr || modes_.App().IsBusy())
        return;
    std::vector<filesystems::FoundObject*> objects = explorer_->SelectedObjects();
    if (objects.empty() && FocusedObject() != nullptr)
        objects.push_back(FocusedObject());
    for (filesystems::FoundObject* object : objects) {
        // Only what the scan found has a size to guess; a listed file has its own.
        if (!object->Is(filesystems::ObjectFlags::FoundBySignature) ||
            object->Is(filesystems::ObjectFlags::Folder)) {
            continue;
        }
        const recovery::ProbableSize question(*object, *volume->FoundObjectTree,
                                              &computer_.Signatures());
        const recovery::SizeAnswer answer = ProbableSizeDialog::Ask(question, modes_.App(), this);
        if (answer.result == recovery::SizeAnswer::Result::Cancel)
            break;
        if (answer.result == recovery::SizeAnswer::Result::Skip)
            continue;
        const std::uint64_t size = question.SizeFor(answer);
        recovery_->RememberSizeChoice(answer, *object, size);
        // No phase runs (the command is off while busy): nothing else writes the size now.
        object->Size = size;
        if (answer.scope != recovery::SizeScope::ThisFile)
            break;  // the choice covers the rest
    }
    explorer_->ListView()->viewport()->update();
}

void MainFrame::TryToOpen() {
    CVolume* volume = explorer_->SelectedVolume();
    filesystems::FoundObject* object = FocusedObject();
    if (volume == nullptr || object == nullptr || modes_.App().IsBusy() ||
        object->Is(filesystems::ObjectFlags::Folder) || !ConfirmTryOpen(modes_.App(), this)) {
        return;
    }
    const auto& settings = modes_.App().Settings();
    const std::filesystem::path temporary =
        settings.UseCustomTempFolder() && !settings.TempFolder().empty()
            ? std::filesystem::path(settings.TempFolder())
            : platform::SystemTempFolder() / "duzez-try-open";
    computer_.ActiveVolume = volume;
    recovery_->RecoveryList = {object};
    recoveryStarted_ = true;
    recovery_->StartTryOpen(temporary);
    auto* progress = new RecoveryProgressDialog(*recovery_, modes_.App(), modes_.Ask(),
                                                QString::fromStdString(temporary.string()), this);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->show();
}

void MainFrame::CreateDriveImage() {
    CVolume* volume = explorer_->SelectedVolume();
    if (volume == nullptr || modes_.App().IsBusy())
        return;
    auto* dialog = new CreateImageDialog(*volume, modes_.Ask(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &CreateImageDialog::ImageCreated, this,
            [this](const QString& path) { LoadImageFile(path); });
    dialog->show();
}

void MainFrame::MarkDeletedPaths() {
    CVolume* volume = computer_.ActiveVolume.load();
    if (volume == nullptr)
        return;
    // The folders on the way to a deleted object are what "deleted only" keeps and what
    // the icons mark.
    auto& tree = *volume->FoundObjectTree;
    for (filesystems::FoundObject* object : tree.ListedObjects()) {
        if (object->Is(filesystems::ObjectFlags::Deleted) && !object->IsSpecial())
            tree.MarkDeletedPath(*object);
    }
}

void MainFrame::ShowSettings(int command) {
    static const std::map<int, int> kPages = {
        {Command::Settings, SettingsSheet::kCommon},
        {Command::CommonSettings, SettingsSheet::kCommon},
        {Command::Confirmations, SettingsSheet::kConfirmations},
        {Command::FileTypes, SettingsSheet::kFileTypes},
        {Command::TemporaryFolder, SettingsSheet::kTemporary},
        {Command::DriveAccess, SettingsSheet::kDriveAccess},
        {Command::Logging, SettingsSheet::kLogging},
        {Command::InterfaceLanguage, SettingsSheet::kLanguage}};
    const auto page = kPages.find(command);
    const int language = modes_.App().Languages().GetCurrentIndex();
    SettingsSheet sheet(modes_.App(), computer_, modes_.Ask(),
                        page != kPages.end() ? page->second : 0, this);
    const int result = sheet.exec();
    if (modes_.App().Languages().GetCurrentIndex() != language)
        modes_.RebuildForLanguage();
    if (result == QDialog::Accepted) {
        // The logging page's choices take effect now, not at the next start.
        computer_.Log().ApplySettings(modes_.App().Settings());
        modes_.App().Settings().SaveIfChanged();
    }
}

void MainFrame::ShowPreviewPage() {
    bottom_->setVisible(true);
    bottom_->setCurrentWidget(preview_);
}

void MainFrame::ShowDataViewerPage() {
    bottom_->setVisible(true);
    bottom_->setCurrentWidget(viewer_);
}

void MainFrame::UpdateBottomPane() {
    if (!bottom_->isVisible())
        return;
    if (bottom_->currentWidget() == preview_) {
        preview_->Show(explorer_->ListModel().Volume(), explorer_->FocusedObject());
    } else if (bottom_->currentWidget() == viewer_) {
        // The focused object's first bytes, or the selected volume's sectors page by page.
        CVolume* volume = explorer_->SelectedVolume();
        const filesystems::FoundObject* object = FocusedObject();
        if (volume != nullptr && object != nullptr)
            viewer_->SetSource(std::make_shared<FoundObjectByteSource>(*volume, *object));
        else if (volume != nullptr)
            viewer_->SetSource(MakeVolumeByteSource(*volume));
        else
            viewer_->SetSource(nullptr);
    }
}

void MainFrame::ShowAbout() {
    HelpWindow::ShowPage(QStringLiteral("about.html"), this);
}

void MainFrame::OpenHelp(const QString& page) {
    HelpWindow::ShowPage(QStringLiteral("help/") + page, this);
}

void MainFrame::ToggleBottomPane() {
    auto& settings = modes_.App().Settings();
    const bool shown = !settings.Flag(core::CSettings::kBottomPaneVisible);
    settings.SetFlag(core::CSettings::kBottomPaneVisible, shown);
    bottom_->setVisible(shown);
}

void MainFrame::UpdateCommands() {
    auto& settings = modes_.App().Settings();
    const bool busy = modes_.App().IsBusy();
    const bool volumeSelected = explorer_->SelectedVolume() != nullptr;
    const bool volumeNode = explorer_->VolumeNodeSelected();
    const bool fileItem = explorer_->FocusedObject() != nullptr ||
                          (!volumeNode && explorer_->SelectedVolume() != nullptr);
    const auto enable = [this](int command, bool on) {
        if (QAction* action = Action(command))
            action->setEnabled(on);
    };
    for (const int command : {Command::StartAnalyzing, Command::CreateDriveImage,
                              Command::LoadDriveImage, Command::SearchLostDrives}) {
        enable(command, volumeSelected && !busy);
    }
    enable(Command::LoadDriveImage, !busy);
    enable(Command::StopAnalyzing, busy);
    enable(Command::RescanDrives, !busy);
    enable(Command::Search, !busy);
    const bool checkedSomewhere = !explorer_->Checks().VolumesWithMarks().empty();
    for (const int command :
         {Command::TryToOpen, Command::ResetSize, Command::SetNewSize, Command::Information}) {
        enable(command, fileItem && !busy);
    }
    enable(Command::Recover, (fileItem || checkedSomewhere) && !busy);
    Action(Command::Legend)->setChecked(settings.Flag(core::CSettings::kBottomPaneVisible));
    Action(Command::Search)->setChecked(explorer_->Mode() == ViewMode::Search);
    Action(Command::Thumbnails)->setChecked(explorer_->ThumbnailsShown());
    Action(Command::ToolBar)->setChecked(settings.Flag(core::CSettings::kToolbarVisible));
    Action(Command::StatusBar)->setChecked(settings.Flag(core::CSettings::kStatusBarVisible));
}

void MainFrame::ShowProgress(bool shown) {
    progress_->setVisible(shown);
    if (!shown)
        SetStatus(QString::fromStdString(modes_.App().Languages().GetString(StringId::Ready)));
}

bool MainFrame::ProgressShown() const {
    return !progress_->isHidden();
}

void MainFrame::UpdateProgress() {
    if (!modes_.App().IsBusy()) {
        if (ProgressShown())
            ShowProgress(false);
        return;
    }
    if (!ProgressShown())
        ShowProgress(true);
    const CVolume* volume = computer_.ActiveVolume.load();
    if (volume == nullptr)
        return;
    const std::uint64_t done = volume->ProgressPosition.load();
    const std::uint64_t hundredth = volume->ProgressEnd.load() / 100;
    if (done != 0 && hundredth != 0)
        progress_->setValue(static_cast<int>(std::min<std::uint64_t>(done / hundredth, 100)));
}

void MainFrame::SetStatus(const QString& text) {
    status_->setText(text);
}

QString MainFrame::StatusText() const {
    return status_->text();
}

void MainFrame::AddLogLine(const QString& line) {
    log_->addItem(line);
    log_->setCurrentIndex(log_->count() - 1);
}

void MainFrame::OnAnalysisEnded() {
    explorer_->RefreshFound();
    if (!modes_.App().Settings().StartNextQueued())
        return;
    const auto queue = computer_.AnalysisQueue();
    if (!queue.empty() && !modes_.App().IsBusy())
        Analyse(*queue.front());
}

void MainFrame::DrainMessages() {
    messages_->Drain();
    logMessages_->Drain();
}

std::int64_t MainFrame::HandleMessage(const platform::Message& message) {
    const auto& texts = modes_.App().Languages();
    switch (message.id) {
        case core::WM_STATUS_TEXT:
            SetStatus(QString::fromStdString(
                texts.GetString(static_cast<std::uint32_t>(message.wParam))));
            break;
        case core::WM_LOG_LINE:
            AddLogLine(QString::fromStdString(message.text));
            break;
        case WM_FILE_SYSTEM_PHASE_ENDED:
            MarkDeletedPaths();
            explorer_->RefreshFound();
            ShowProgress(false);
            break;
        case WM_SECTOR_PHASE_ENDED:
            MarkDeletedPaths();
            explorer_->RefreshFound();
            ShowProgress(false);
            modes_.App().AnalysisRunning = false;
            break;
        case WM_ANALYSIS_ENDED:
            OnAnalysisEnded();
            break;
        case WM_SECTOR_PHASE_STARTED:
            ShowProgress(true);
            progress_->setValue(0);
            break;
        case WM_FOUND_VOLUME:
        case WM_MEDIA_CHANGED:
            explorer_->TreeModel().Refresh();
            break;
        default:
            // Found-object notices are not handled one by one: the timers show what the
            // analysis added.
            break;
    }
    UpdateCommands();
    return 0;
}

void MainFrame::closeEvent(QCloseEvent* event) {
    if (modes_.Switching()) {
        event->accept();
        return;
    }
    if (modes_.App().IsBusy() && !StopAnalyzing()) {
        event->ignore();
        return;
    }
    recovery_->DeleteTemporaryFiles();
    if (!modes_.RequestExit(this)) {
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace duzez::ui
