#include "ui/wizard/wizard_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "core/app.h"
#include "core/window_messages.h"
#include "devices/local_computer.h"
#include "filesystems/found_object_tree.h"
#include "platform/program_folders.h"
#include "recovery/recovery.h"
#include "ui/dialogs/file_info_dialog.h"
#include "ui/dialogs/probable_size_dialog.h"
#include "ui/dialogs/recover_dialog.h"
#include "ui/dialogs/recovery_progress_dialog.h"
#include "ui/dialogs/settings_sheet.h"
#include "ui/dialogs/try_open_warning.h"
#include "ui/explorer/explore_view.h"
#include "ui/frame/commands.h"
#include "ui/frame/interface_modes.h"
#include "ui/frame/questions.h"
#include "ui/frame/queued_messages.h"
#include "ui/frame/udisks_opener.h"
#include "ui/help/help_window.h"
#include "ui/wizard/wizard_bar.h"
#include "ui/wizard/wizard_pages.h"

namespace duzez::ui {

namespace {

using core::StringId;
using devices::CVolume;

constexpr std::uint32_t WM_ANALYSIS_ENDED = core::WM_APP + 111;
constexpr std::uint32_t WM_FOUND_VOLUME = core::WM_APP + 502;
constexpr std::uint32_t WM_MEDIA_CHANGED = core::WM_APP + 506;
constexpr int kCancel = 2;
constexpr int kWizardMenu = 32771;
constexpr int kWizardSettings = 32792;

// The step's name in the bar: the title without its "Step n of m:" or "Finish:".
QString StepName(const QString& title) {
    const qsizetype colon = title.indexOf(QLatin1Char(':'));
    return colon < 0 ? title : title.mid(colon + 1).trimmed();
}

}  // namespace

WizardWindow::WizardWindow(InterfaceModes& modes, int mode, QWidget* parent)
    : QWidget(parent),
      modes_(modes),
      computer_(modes.Computer()),
      mode_(mode),
      recovery_(std::make_unique<recovery::CRecovery>(modes.Computer())) {
    auto& app = modes_.App();
    setObjectName(mode == Command::ModeWizard9 ? QStringLiteral("wizard9")
                                               : QStringLiteral("wizard4"));
    messages_ = std::make_shared<QueuedMessages>(
        [this](const platform::Message& message) { return HandleMessage(message); });
    logMessages_ = std::make_shared<QueuedMessages>(
        [this](const platform::Message& message) { return HandleMessage(message); });
    recoveryQuestions_ = std::make_unique<DialogSizeQuestions>(app, modes_.Ask(), this);
    recovery_->SetQuestions(recoveryQuestions_.get());
    computer_.SetQuestionAnswerer([this](StringId caption, StringId text) {
        return modes_.Ask().AskYesNo(this, Text(caption), Text(text));
    });
    openFolder_ = [](const QString& folder) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(folder).absolutePath()));
    };

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    bar_ = new WizardBar(this);
    layout->addWidget(bar_);
    auto* right = new QVBoxLayout;
    right->setContentsMargins(12, 10, 12, 10);
    layout->addLayout(right, 1);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("pageTitle"));
    QFont big = title_->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    title_->setFont(big);
    right->addWidget(title_);
    stack_ = new QStackedWidget(this);
    right->addWidget(stack_, 1);

    auto* buttons = new QHBoxLayout;
    menuButton_ = new QPushButton(Text(StringId::WizardMenuButton), this);
    menuButton_->setObjectName(QStringLiteral("menuButton"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("statusText"));
    back_ = new QPushButton(tr("< &Back"), this);
    back_->setObjectName(QStringLiteral("back"));
    next_ = new QPushButton(tr("&Next >"), this);
    next_->setObjectName(QStringLiteral("next"));
    next_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    buttons->addWidget(menuButton_);
    buttons->addWidget(status_, 1);
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    buttons->addSpacing(8);
    buttons->addWidget(cancel_);
    right->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, &WizardWindow::Back);
    connect(next_, &QPushButton::clicked, this, &WizardWindow::Next);
    connect(cancel_, &QPushButton::clicked, this, [this] { RunCommand(kCancel); });

    BuildMenu();
    BuildPages();
    QStringList steps;
    for (const WizardPage* page : pages_)
        steps << StepName(page->Title());
    QList<QPair<int, QString>> links;
    if (mode_ == Command::ModeWizard9)
        links.append({Command::ModeWizard4, tr("Quick wizard (4 steps)")});
    else
        links.append({Command::ModeWizard9, tr("Detailed wizard (9 steps)")});
    links.append({Command::ModeExplorer, tr("Explorer")});
    bar_->SetSteps(steps, links);
    connect(bar_, &WizardBar::CommandRequested, this, &WizardWindow::RunCommand);

    connect(&quickTimer_, &QTimer::timeout, this, [this] {
        if (WizardPage* page = CurrentPage())
            page->Tick();
        UpdateButtons();
    });
    // While an analysis runs the views' counts grow.
    connect(&slowTimer_, &QTimer::timeout, this, [this] {
        if (!modes_.App().IsBusy())
            return;
        for (int n = 0; n < PageCount(); ++n) {
            if (auto* view = qobject_cast<ViewPage*>(PageAt(n)))
                view->Explorer().RefreshFound();
        }
    });
    quickTimer_.start(250);
    slowTimer_.start(2000);

    app.SetMainWindow(messages_);
    app.SetLogPane(logMessages_);
    computer_.Log().LogMessage(StringId::ProgramRunning);
    GoTo(0);
}

WizardWindow::~WizardWindow() {
    quickTimer_.stop();
    slowTimer_.stop();
    messages_->Close();
    logMessages_->Close();
    auto& app = modes_.App();
    // After a mode switch the next window has already put its own in place.
    if (app.MainWindow() == messages_) {
        app.SetMainWindow(nullptr);
        computer_.SetQuestionAnswerer({});
    }
    if (app.LogPane() == logMessages_)
        app.SetLogPane(nullptr);
    // The recovery thread may wait for a question this thread must show: it is stopped
    // and let finish before it is joined.
    recovery_->AbortRecovery();
    while (recoveryStarted_ && !recovery_->Finished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    recovery_->Wait();
}

core::CApp& WizardWindow::App() {
    return modes_.App();
}

Questions& WizardWindow::Ask() {
    return modes_.Ask();
}

QString WizardWindow::Text(StringId id) const {
    return QString::fromStdString(modes_.App().Languages().GetString(id));
}

void WizardWindow::AddPage(WizardPage* page) {
    pages_.push_back(page);
    stack_->addWidget(page);
}

void WizardWindow::BuildPages() {
    if (mode_ == Command::ModeWizard9) {
        AddPage(new WelcomePage(*this));
        AddPage(new DrivePage(*this, StringId::Wizard9Step1));
        AddPage(new FileTypesPage(*this));
        AddPage(new ScanModePage(*this));
        AddPage(new AutoPilotPage(*this));
        AddPage(new ScanPage(*this, StringId::Wizard9Step5, false));
        AddPage(new ViewPage(*this, StringId::Wizard9Step6, StringId::NothingRecoveredMoveOn, false,
                             true));
        AddPage(new ScanPage(*this, StringId::Wizard9Step7, true));
        AddPage(new ViewPage(*this, StringId::Wizard9Step8, StringId::NothingRecoveredContinue,
                             true, true));
        AddPage(new FinishPage(*this, StringId::Wizard9Step9));
    } else {
        AddPage(new DrivePage(*this, StringId::Wizard4Step1));
        AddPage(new ScanParamPage(*this));
        AddPage(new AnalysingPage(*this));
        AddPage(new ViewPage(*this, StringId::Wizard4Step4, StringId::NothingRecoveredMoveOn, false,
                             false));
        AddPage(new FinishPage(*this, StringId::Wizard4Finish));
    }
}

void WizardWindow::BuildMenu() {
    menu_ = new QMenu(this);
    menu_->setObjectName(QStringLiteral("WizardMenu"));
    menu_->addAction(tr("Settings..."), this, [this] { RunCommand(kWizardSettings); });
    menu_->addAction(tr("About..."), this, [this] { RunCommand(Command::About); });
    connect(menuButton_, &QPushButton::clicked, this, [this] { RunCommand(kWizardMenu); });
}

WizardPage* WizardWindow::CurrentPage() const {
    return PageAt(current_);
}

WizardPage* WizardWindow::PageAt(int index) const {
    return index >= 0 && index < PageCount() ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

int WizardWindow::IndexOf(const WizardPage* page) const {
    for (int n = 0; n < PageCount(); ++n) {
        if (PageAt(n) == page)
            return n;
    }
    return -1;
}

QString WizardWindow::Title() const {
    return title_->text();
}

QString WizardWindow::StatusText() const {
    return status_->text();
}

void WizardWindow::GoTo(int index) {
    WizardPage* page = PageAt(index);
    if (page == nullptr)
        return;
    current_ = index;
    stack_->setCurrentWidget(page);
    title_->setText(page->Title());
    bar_->SetCurrent(index);
    page->Enter();
    UpdateButtons();
}

void WizardWindow::Next() {
    WizardPage* page = CurrentPage();
    if (page == nullptr || current_ + 1 >= PageCount() || !page->NextEnabled())
        return;
    if (!page->ConfirmNext())
        return;
    GoTo(current_ + 1);
}

void WizardWindow::Back() {
    WizardPage* page = CurrentPage();
    if (page == nullptr || current_ == 0 || !page->BackEnabled())
        return;
    if (!page->ConfirmBack())
        return;
    const int target = page->BackTarget();
    GoTo(target >= 0 ? target : current_ - 1);
}

void WizardWindow::UpdateButtons() {
    const WizardPage* page = CurrentPage();
    if (page == nullptr)
        return;
    back_->setEnabled(current_ > 0 && page->BackEnabled());
    next_->setEnabled(current_ + 1 < PageCount() && page->NextEnabled());
}

void WizardWindow::RunCommand(int command) {
    switch (command) {
        case kCancel:
            close();
            break;
        case kWizardMenu:
            menu_->popup(menuButton_->mapToGlobal(QPoint(0, menuButton_->height())));
            break;
        case kWizardSettings:
        case Command::Settings: {
            const int language = modes_.App().Languages().GetCurrentIndex();
            SettingsSheet sheet(modes_.App(), computer_, modes_.Ask(), SettingsSheet::kCommon,
                                this);
            sheet.exec();
            if (modes_.App().Languages().GetCurrentIndex() != language)
                modes_.RebuildForLanguage();
            break;
        }
        case Command::About:
            HelpWindow::ShowPage(QStringLiteral("about.html"), this);
            break;
        case Command::HelpContents:
            HelpWindow::ShowPage(QStringLiteral("help/index.html"), this);
            break;
        case Command::RecoveryGuide:
            HelpWindow::ShowPage(QStringLiteral("help/basics.quickstart.html"), this);
            break;
        case Command::SearchHelp:
            HelpWindow::ShowPage(QStringLiteral("help/index.html#a-z"), this);
            break;
        // The program has no web site: the web commands open its own pages.
        case Command::VisitWebsite:
        case Command::HomePage:
            HelpWindow::ShowPage(QStringLiteral("about.html"), this);
            break;
        case Command::SendEmail:
            HelpWindow::ShowPage(QStringLiteral("help/troubleshooting.html"), this);
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
}

void WizardWindow::SetStatus(const QString& text) {
    status_->setText(text);
}

std::int64_t WizardWindow::HandleMessage(const platform::Message& message) {
    switch (message.id) {
        case core::WM_STATUS_TEXT:
            SetStatus(Text(static_cast<StringId>(message.wParam)));
            break;
        case core::WM_LOG_LINE:
            for (WizardPage* page : pages_)
                page->AddLogLine(QString::fromStdString(message.text));
            break;
        case WM_FOUND_VOLUME:
        case WM_MEDIA_CHANGED:
            if (auto* drives = FindPage<DrivePage>())
                drives->Refresh();
            break;
        case WM_ANALYSIS_ENDED:
            for (int n = 0; n < PageCount(); ++n) {
                if (auto* view = qobject_cast<ViewPage*>(PageAt(n)))
                    view->Explorer().RefreshFound();
            }
            break;
        default:
            break;
    }
    if (WizardPage* page = CurrentPage())
        page->OnMessage(message);
    UpdateButtons();
    return 0;
}

void WizardWindow::DrainMessages() {
    messages_->Drain();
    logMessages_->Drain();
}

CVolume* WizardWindow::LoadImageFile(const QString& file) {
    std::string error;
    CVolume* volume = computer_.LoadImage(file.toStdString(), error);
    if (volume == nullptr) {
        modes_.Ask().Tell(this, tr("Load Drive Image"),
                          tr("The image cannot be opened: %1").arg(QString::fromStdString(error)));
        return nullptr;
    }
    if (auto* drives = FindPage<DrivePage>()) {
        drives->Refresh();
        drives->SelectVolume(*volume);
    }
    UpdateButtons();
    return volume;
}

CVolume* WizardWindow::Volume() const {
    const auto* drives = FindPage<DrivePage>();
    return drives != nullptr ? drives->SelectedVolume() : nullptr;
}

void WizardWindow::BeginAnalysis(CVolume& volume) {
    for (int n = 0; n < PageCount(); ++n) {
        if (auto* view = qobject_cast<ViewPage*>(PageAt(n)))
            view->Explorer().BeginAnalysis(volume);
    }
    // Reading a drive is what the user asked for now: a password prompt may come.
    if (auto* udisks = dynamic_cast<UdisksDeviceOpener*>(&computer_.Opener()))
        udisks->AllowAsking();
}

std::uint32_t WizardWindow::FilesFound() const {
    const CVolume* volume = Volume();
    return volume != nullptr ? volume->FilesFound.load() + volume->SectorFilesFound.load() : 0;
}

bool WizardWindow::StopAnalysis() {
    CVolume* volume = computer_.ActiveVolume.load();
    if (volume == nullptr || !modes_.App().IsBusy())
        return true;
    if (!computer_.StopAnalysis(*volume, false))
        return false;
    SetStatus(Text(StringId::Aborting));
    modes_.App().Settings().SetContinueWithSectors(false);
    computer_.Log().LogMessage(StringId::OperationAborted);
    UpdateButtons();
    return true;
}

QWidget* WizardWindow::StartRecovery(ExploreView& explorer, const QString& destination) {
    CVolume* volume = Volume();
    if (volume == nullptr || modes_.App().IsBusy() ||
        (recoveryStarted_ && !recovery_->Finished())) {
        return nullptr;
    }
    std::vector<filesystems::FoundObject*> files = explorer.Checks().CheckedFiles(*volume);
    if (files.empty() && explorer.ListModel().Volume() == volume) {
        for (filesystems::FoundObject* object : explorer.SelectedObjects()) {
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
    if (recoveryStarted_) {
        recovery_->Wait();
        recoveredBefore_ += recovery_->RecoveredCount.load();
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

std::uint32_t WizardWindow::RecoveredTotal() const {
    return recoveredBefore_ + (recoveryStarted_ ? recovery_->RecoveredCount.load() : 0);
}

void WizardWindow::Recover(ExploreView& explorer) {
    RecoverDialog dialog(modes_.App(), this);
    while (dialog.exec() == QDialog::Accepted) {
        if (StartRecovery(explorer, dialog.Destination()) != nullptr)
            return;
        // A refused destination keeps the dialog open.
    }
}

void WizardWindow::TryToOpen(ExploreView& explorer) {
    CVolume* volume = Volume();
    filesystems::FoundObject* object = explorer.FocusedObject();
    if (volume == nullptr || object == nullptr || modes_.App().IsBusy() ||
        object->Is(filesystems::ObjectFlags::Folder) ||
        (recoveryStarted_ && !recovery_->Finished()) || !ConfirmTryOpen(modes_.App(), this)) {
        return;
    }
    const auto& settings = modes_.App().Settings();
    const std::filesystem::path temporary =
        settings.UseCustomTempFolder() && !settings.TempFolder().empty()
            ? std::filesystem::path(settings.TempFolder())
            : platform::SystemTempFolder() / "duzez-try-open";
    if (recoveryStarted_) {
        recovery_->Wait();
        recoveredBefore_ += recovery_->RecoveredCount.load();
    }
    computer_.ActiveVolume = volume;
    recovery_->RecoveryList = {object};
    recoveryStarted_ = true;
    recovery_->StartTryOpen(temporary);
    auto* progress = new RecoveryProgressDialog(*recovery_, modes_.App(), modes_.Ask(),
                                                QString::fromStdString(temporary.string()), this);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->show();
}

void WizardWindow::ShowInformation(ExploreView& explorer) {
    CVolume* volume = Volume();
    const filesystems::FoundObject* object = explorer.FocusedObject();
    if (volume == nullptr || object == nullptr)
        return;
    FileInfoDialog dialog(*volume, *object, modes_.App(), this);
    dialog.exec();
}

void WizardWindow::ShowFolder(const QString& folder) {
    if (openFolder_)
        openFolder_(folder);
}

void WizardWindow::ProcessAnotherDrive() {
    if (!modes_.App().IsBusy())
        computer_.Volumes().Rescan();
    // The views let go of volumes the rescan dropped.
    for (int n = 0; n < PageCount(); ++n) {
        if (auto* view = qobject_cast<ViewPage*>(PageAt(n)))
            view->Explorer().RebuildDrives();
    }
    if (auto* drives = FindPage<DrivePage>())
        drives->Refresh();
    GoTo(0);
}

void WizardWindow::closeEvent(QCloseEvent* event) {
    if (modes_.Switching()) {
        modes_.StorePlacement(*this);
        event->accept();
        return;
    }
    if (modes_.App().IsBusy() && !StopAnalysis()) {
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
