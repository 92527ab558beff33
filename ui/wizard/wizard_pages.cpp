#include "ui/wizard/wizard_pages.h"

#include "ui/help/help_window.h"

#include <algorithm>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSortFilterProxyModel>
#include <QTextBrowser>
#include <QTreeView>
#include <QVBoxLayout>

#include "core/app.h"
#include "core/window_messages.h"
#include "devices/local_computer.h"
#include "filesystems/found_object_tree.h"
#include "recovery/recovery.h"
#include "ui/dialogs/file_types_dialog.h"
#include "ui/explorer/explore_view.h"
#include "ui/frame/commands.h"
#include "ui/frame/questions.h"
#include "ui/wizard/wizard_window.h"

namespace duzez::ui {

namespace {

using core::StringId;
using devices::CVolume;
namespace VolumeStatus = devices::VolumeStatus;

constexpr std::uint32_t WM_FILE_SYSTEM_PHASE_ENDED = core::WM_APP + 107;
constexpr std::uint32_t WM_SECTOR_PHASE_ENDED = core::WM_APP + 108;
constexpr std::uint32_t WM_ANALYSIS_ENDED = core::WM_APP + 111;
constexpr std::uint32_t WM_SECTOR_PHASE_STARTED = core::WM_APP + 509;

// done × 100 / total, as done ÷ (total ÷ 100), nothing when either is 0.
int Percent(const CVolume& volume) {
    const std::uint64_t done = volume.ProgressPosition.load();
    const std::uint64_t hundredth = volume.ProgressEnd.load() / 100;
    if (done == 0 || hundredth == 0)
        return 0;
    return static_cast<int>(std::min<std::uint64_t>(done / hundredth, 100));
}

QLabel* Value(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QPlainTextEdit* LogBox(QWidget* parent) {
    auto* log = new QPlainTextEdit(parent);
    log->setObjectName(QStringLiteral("progressLog"));
    log->setReadOnly(true);
    log->setMaximumBlockCount(2000);
    return log;
}

bool IsErrorLine(const QString& line) {
    return line.contains(QStringLiteral("ERR: "));
}

// Hides the Trash: the wizards read drives only.
class DrivesOnly : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* model = static_cast<const FilesTreeModel*>(sourceModel());
        return !model->IsTrash(model->index(row, 0, parent));
    }
};

}  // namespace

WizardPage::WizardPage(WizardWindow& wizard, StringId title)
    : QWidget(nullptr), wizard_(wizard), title_(title) {}

QString WizardPage::Title() const {
    return Text(title_);
}

QString WizardPage::Text(StringId id) const {
    return wizard_.Text(id);
}

// ---------------------------------------------------------------------------------------

WelcomePage::WelcomePage(WizardWindow& wizard) : WizardPage(wizard, StringId::WizardWelcome) {
    setObjectName(QStringLiteral("welcomePage"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QTextBrowser(this);
    text->setObjectName(QStringLiteral("welcomeText"));
    text->setOpenLinks(false);
    connect(text, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& link) { HelpWindow::ShowPage(link.toString(), this); });
    // The link targets stay out of the translated texts: a translator words, not links.
    const QString version = QCoreApplication::applicationVersion().isEmpty()
                                ? QStringLiteral("1.0")
                                : QCoreApplication::applicationVersion();
    text->setHtml(
        QStringLiteral("<p>%1</p><p>%2</p><p><a href=\"help/basics.quickstart.html\">%3</a> "
                       "&nbsp; <a href=\"help/troubleshooting.html\">%4</a></p><p>%5</p>")
            .arg(tr("This wizard leads you step by step from choosing a drive to your recovered "
                    "files: the camera card, USB stick or hard drive is read without writing to "
                    "it, what was deleted is searched for in its file system and then sector by "
                    "sector, and the files you choose are copied to a folder on another drive."),
                 tr("Press <b>Next</b> to begin."), tr("Recovery Guide"),
                 tr("When something goes wrong"), tr("Version %1").arg(version)));
    layout->addWidget(text);
}

// ---------------------------------------------------------------------------------------

DrivePage::DrivePage(WizardWindow& wizard, StringId title)
    : WizardPage(wizard, title), model_(wizard.Computer(), checks_) {
    setObjectName(QStringLiteral("drivePage"));
    auto* layout = new QVBoxLayout(this);
    auto* prompt = new QLabel(tr("Select the drive letter of your card reader, digital device or "
                                 "hard drive:"),
                              this);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    proxy_ = new DrivesOnly(this);
    proxy_->setSourceModel(&model_);
    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("driveTree"));
    tree_->setHeaderHidden(true);
    tree_->setModel(proxy_);
    tree_->expandAll();
    layout->addWidget(tree_, 1);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { wizard_.UpdateButtons(); });
}

CVolume* DrivePage::SelectedVolume() const {
    CVolume* volume = model_.VolumeAt(proxy_->mapToSource(tree_->currentIndex()));
    // The two root nodes stand for groups of drives, not for something to read.
    if (volume != nullptr && (volume->VolumeType == devices::VolumeKind::ComputerRoot ||
                              volume->VolumeType == devices::VolumeKind::ImagesRoot)) {
        return nullptr;
    }
    return volume;
}

bool DrivePage::NextEnabled() const {
    const CVolume* volume = SelectedVolume();
    return volume != nullptr && volume->VolumeState.load() != VolumeStatus::NotReady &&
           !wizard_.App().IsBusy();
}

void DrivePage::Enter() {
    tree_->setFocus();
}

void DrivePage::SelectVolume(const CVolume& volume) {
    const QModelIndex index = proxy_->mapFromSource(model_.IndexOf(volume));
    if (!index.isValid())
        return;
    tree_->expand(index.parent());
    tree_->setCurrentIndex(index);
}

void DrivePage::Refresh() {
    const CVolume* selected = SelectedVolume();
    const std::uint64_t id = selected != nullptr ? selected->Id : 0;
    model_.RebuildDrives();
    tree_->expandAll();
    if (id != 0) {
        for (const auto& volume : wizard_.Computer().Volumes().Snapshot()) {
            if (volume->Id == id)
                SelectVolume(*volume);
        }
    }
    wizard_.UpdateButtons();
}

// ---------------------------------------------------------------------------------------

FileTypesPage::FileTypesPage(WizardWindow& wizard) : WizardPage(wizard, StringId::Wizard9Step2) {
    setObjectName(QStringLiteral("fileTypesPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(tr("File types that should be searched for and recovered:"), this));
    types_ = new FileTypesTree(wizard.Computer().Signatures(), FileTypeMark::Search, this);
    layout->addWidget(types_, 1);
}

void FileTypesPage::Enter() {
    types_->Reload();
}

bool FileTypesPage::ConfirmNext() {
    types_->StoreMarks();
    wizard_.Computer().Signatures().SaveAll();
    return true;
}

// ---------------------------------------------------------------------------------------

ScanModePage::ScanModePage(WizardWindow& wizard) : WizardPage(wizard, StringId::Wizard9Step3) {
    setObjectName(QStringLiteral("scanModePage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Select what program should do:"), this));
    entire_ = new QRadioButton(tr("Scan entire drive"), this);
    auto* entireText = new QLabel(tr("Every sector of the drive is read. This finds the most, "
                                     "also files whose folders are gone, and takes longest."),
                                  this);
    freeOnly_ = new QRadioButton(tr("Scan free drive space only"), this);
    auto* freeText = new QLabel(tr("Only the space no live file uses is searched: quicker, "
                                   "and deleted files are found where they were."),
                                this);
    for (QLabel* text : {entireText, freeText}) {
        text->setWordWrap(true);
        text->setIndent(24);
    }
    layout->addWidget(entire_);
    layout->addWidget(entireText);
    layout->addWidget(freeOnly_);
    layout->addWidget(freeText);
    layout->addStretch(1);
    auto& settings = wizard.App().Settings();
    (settings.Flag(core::CSettings::kScanFreeSpaceOnly) ? freeOnly_ : entire_)->setChecked(true);
    connect(freeOnly_, &QRadioButton::toggled, this, [this](bool on) {
        wizard_.App().Settings().SetFlag(core::CSettings::kScanFreeSpaceOnly, on);
    });
}

// ---------------------------------------------------------------------------------------

DestinationBox::DestinationBox(WizardWindow& wizard, bool withKeepFolders, QWidget* parent)
    : QWidget(parent), wizard_(wizard) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        new QLabel(tr("The target folder where the recovered files will be saved:"), this));
    auto* row = new QHBoxLayout;
    folder_ = new QLineEdit(this);
    folder_->setObjectName(QStringLiteral("destination"));
    auto* browse = new QPushButton(tr("Browse..."), this);
    browse->setObjectName(QStringLiteral("browse"));
    row->addWidget(folder_, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    warning_ = new QLabel(tr("Do not save the recovered files to the drive you recover them "
                             "from: they could overwrite the very files you are looking for."),
                          this);
    warning_->setObjectName(QStringLiteral("sameDiskWarning"));
    warning_->setWordWrap(true);
    layout->addWidget(warning_);
    if (withKeepFolders) {
        keepFolders_ = new QCheckBox(tr("Keep the folder structure"), this);
        keepFolders_->setChecked(
            wizard.App().Settings().Flag(core::CSettings::kKeepFolderStructure));
        layout->addWidget(keepFolders_);
    }
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString folder =
            QFileDialog::getExistingDirectory(this, tr("Select a folder"), folder_->text());
        if (!folder.isEmpty())
            folder_->setText(folder);
    });
    connect(folder_, &QLineEdit::textChanged, this, [this] { UpdateWarning(); });
}

QString DestinationBox::Destination() const {
    return folder_->text().trimmed();
}

void DestinationBox::SetDestination(const QString& folder) {
    folder_->setText(folder);
}

void DestinationBox::UpdateWarning() {
    const QString folder = Destination();
    CVolume* volume = wizard_.Volume();
    const bool onSource = !folder.isEmpty() && volume != nullptr &&
                          wizard_.Computer().DestinationOnSource(folder.toStdString(), volume);
    // Bold when the folder chosen is on the drive itself.
    QFont font = warning_->font();
    font.setBold(onSource);
    warning_->setFont(font);
    warning_->setStyleSheet(onSource ? QStringLiteral("color: #b00000") : QString());
}

bool DestinationBox::Accept() {
    const QString folder = Destination();
    if (folder.isEmpty()) {
        wizard_.Ask().Tell(&wizard_, tr("Recover"),
                           tr("Choose the folder where the recovered files will be saved."));
        return false;
    }
    const std::string problem =
        wizard_.Recovery().DestinationProblem(folder.toStdString(), wizard_.Volume());
    if (!problem.empty()) {
        wizard_.Ask().Tell(&wizard_, tr("Recover"), QString::fromStdString(problem));
        return false;
    }
    auto& settings = wizard_.App().Settings();
    settings.SetDestinationFolder(folder.toStdString());
    if (keepFolders_ != nullptr)
        settings.SetFlag(core::CSettings::kKeepFolderStructure, keepFolders_->isChecked());
    return true;
}

// ---------------------------------------------------------------------------------------

ScanParamPage::ScanParamPage(WizardWindow& wizard) : WizardPage(wizard, StringId::Wizard4Step2) {
    setObjectName(QStringLiteral("scanParamPage"));
    auto* layout = new QVBoxLayout(this);
    destination_ = new DestinationBox(wizard, false, this);
    layout->addWidget(destination_);
    layout->addSpacing(8);
    layout->addWidget(
        new QLabel(tr("File types that should be searched for and recovered:"), this));
    types_ = new FileTypesTree(wizard.Computer().Signatures(), FileTypeMark::Search, this);
    layout->addWidget(types_, 1);
}

void ScanParamPage::Enter() {
    destination_->SetDestination(
        QString::fromStdString(wizard_.App().Settings().DestinationFolder()));
    destination_->UpdateWarning();
    types_->Reload();
}

bool ScanParamPage::ConfirmNext() {
    if (!destination_->Accept())
        return false;
    types_->StoreMarks();
    wizard_.Computer().Signatures().SaveAll();
    return true;
}

// ---------------------------------------------------------------------------------------

AutoPilotPage::AutoPilotPage(WizardWindow& wizard) : WizardPage(wizard, StringId::Wizard9Step4) {
    setObjectName(QStringLiteral("autoPilotPage"));
    auto* layout = new QVBoxLayout(this);
    autoPilot_ = new QCheckBox(tr("Auto pilot:"), this);
    auto* explained = new QLabel(tr("The computer does all the work for you: the scans run one "
                                    "after the other and every file found is recovered."),
                                 this);
    explained->setWordWrap(true);
    layout->addWidget(autoPilot_);
    layout->addWidget(explained);
    layout->addSpacing(8);
    destination_ = new DestinationBox(wizard, true, this);
    layout->addWidget(destination_);
    layout->addStretch(1);
}

void AutoPilotPage::Enter() {
    auto& settings = wizard_.App().Settings();
    autoPilot_->setChecked(settings.Flag(core::CSettings::kAutoPilot));
    destination_->SetDestination(QString::fromStdString(settings.DestinationFolder()));
    destination_->UpdateWarning();
}

bool AutoPilotPage::ConfirmNext() {
    if (!destination_->Accept())
        return false;
    wizard_.App().Settings().SetFlag(core::CSettings::kAutoPilot, autoPilot_->isChecked());
    return true;
}

// ---------------------------------------------------------------------------------------

ScanPage::ScanPage(WizardWindow& wizard, StringId title, bool sectors)
    : WizardPage(wizard, title), sectors_(sectors) {
    setObjectName(sectors ? QStringLiteral("sectorScanPage") : QStringLiteral("fileSystemPage"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    volume_ = Value(this, "selectedVolume");
    form->addRow(tr("Selected volume:"), volume_);
    auto* barRow = new QHBoxLayout;
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("totalProgress"));
    bar_->setRange(0, 100);
    start_ = new QPushButton(tr("Start"), this);
    start_->setObjectName(QStringLiteral("start"));
    stop_ = new QPushButton(tr("Stop"), this);
    stop_->setObjectName(QStringLiteral("stop"));
    barRow->addWidget(bar_, 1);
    barRow->addWidget(start_);
    barRow->addWidget(stop_);
    form->addRow(tr("Total progress:"), barRow);
    found_ = Value(this, "filesFound");
    form->addRow(tr("Files found:"), found_);
    errors_ = Value(this, "readErrors");
    form->addRow(tr("Read errors:"), errors_);
    status_ = Value(this, "scanStatus");
    form->addRow(tr("Status:"), status_);
    current_ = Value(this, "current");
    total_ = Value(this, "total");
    form->addRow(sectors ? tr("Current sector:") : tr("Current record:"), current_);
    form->addRow(sectors ? tr("Total sectors:") : tr("Total records:"), total_);
    layout->addLayout(form);
    layout->addWidget(new QLabel(tr("Progress Log:"), this));
    log_ = LogBox(this);
    layout->addWidget(log_, 1);
    fileNames_ = new QCheckBox(tr("Show filenames (this will decrease scanning speed)"), this);
    fileNames_->setChecked(wizard.App().Settings().LogFoundFileNames());
    layout->addWidget(fileNames_);
    connect(fileNames_, &QCheckBox::toggled, this, [this](bool on) {
        wizard_.App().Settings().SetFlag(core::CSettings::kLogFoundFileNames, on);
    });
    connect(start_, &QPushButton::clicked, this, &ScanPage::Start);
    connect(stop_, &QPushButton::clicked, this, &ScanPage::Stop);
}

void ScanPage::Enter() {
    Update();
    if (restart_) {
        restart_ = false;
        Start();
    }
}

void ScanPage::Start() {
    CVolume* volume = wizard_.Volume();
    if (volume == nullptr || wizard_.App().IsBusy() || volume->AnalysisThreadAlive())
        return;
    auto& settings = wizard_.App().Settings();
    settings.SetContinueWithSectors(false);
    settings.SetFlag(core::CSettings::kStartNextQueued, false);
    readErrors_ = 0;
    log_->clear();
    if (sectors_) {
        wizard_.Computer().StartSectorAnalysis(*volume, false);
    } else {
        wizard_.BeginAnalysis(*volume);
        volume->FoundObjectTree->Clear();
        // Without the sector phase: the drive is opened and its boot area read first.
        wizard_.Computer().StartAnalysis(*volume);
    }
    Update();
    wizard_.UpdateButtons();
}

void ScanPage::Stop() {
    wizard_.StopAnalysis();
    Update();
}

bool ScanPage::NextEnabled() const {
    return !wizard_.App().IsBusy();
}

bool ScanPage::BackEnabled() const {
    return !wizard_.App().IsBusy();
}

bool ScanPage::ConfirmBack() {
    if (sectors_)
        return true;
    if (!wizard_.Ask().AskYesNo(&wizard_, Text(StringId::Confirmation),
                                Text(StringId::RestartRecoveryQuestion))) {
        return false;
    }
    restart_ = true;
    return true;
}

int ScanPage::BackTarget() const {
    // Back to the file types, as the question said.
    return sectors_ ? -1 : wizard_.IndexOf(wizard_.FindPage<FileTypesPage>());
}

void ScanPage::OnMessage(const platform::Message& message) {
    CVolume* volume = wizard_.Volume();
    const bool ended = (!sectors_ && message.id == WM_FILE_SYSTEM_PHASE_ENDED) ||
                       (sectors_ && message.id == WM_SECTOR_PHASE_ENDED);
    if (!ended || volume == nullptr)
        return;
    wizard_.Computer().StopAnalysis(*volume, true);
    bar_->setValue(100);
    Update();
    wizard_.Next();
}

void ScanPage::Tick() {
    Update();
}

void ScanPage::AddLogLine(const QString& line) {
    log_->appendPlainText(line);
    if (IsErrorLine(line))
        ++readErrors_;
}

void ScanPage::Update() {
    CVolume* volume = wizard_.Volume();
    const bool busy = wizard_.App().IsBusy();
    volume_->setText(volume != nullptr ? QString::fromStdString(volume->DisplayNameText())
                                       : QString());
    start_->setEnabled(volume != nullptr && !busy && !volume->AnalysisThreadAlive());
    stop_->setEnabled(busy);
    status_->setText(Text(busy ? StringId::Busy : StringId::Idle));
    errors_->setText(QString::number(readErrors_));
    if (volume == nullptr)
        return;
    found_->setText(
        QString::number(sectors_ ? volume->SectorFilesFound.load() : volume->FilesFound.load()));
    const bool mine = volume->VolumeState.load() ==
                      (sectors_ ? VolumeStatus::SectorPhase : VolumeStatus::FileSystemPhase);
    if (busy && mine) {
        current_->setText(QString::number(volume->ProgressPosition.load()));
        total_->setText(QString::number(volume->ProgressEnd.load()));
        bar_->setValue(Percent(*volume));
    }
}

// ---------------------------------------------------------------------------------------

AnalysingPage::AnalysingPage(WizardWindow& wizard) : WizardPage(wizard, StringId::Wizard4Step3) {
    setObjectName(QStringLiteral("analysingPage"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    selected_ = Value(this, "selectedVolume");
    form->addRow(tr("Selected volume:"), selected_);
    found_ = Value(this, "filesFound");
    form->addRow(tr("Files found:"), found_);
    layout->addLayout(form);
    layout->addWidget(new QLabel(tr("Analysing file system progress:"), this));
    auto* fileSystemRow = new QHBoxLayout;
    fileSystemBar_ = new QProgressBar(this);
    fileSystemBar_->setObjectName(QStringLiteral("fileSystemProgress"));
    fileSystemBar_->setRange(0, 100);
    skip_ = new QPushButton(tr("Skip"), this);
    skip_->setObjectName(QStringLiteral("skip"));
    fileSystemRow->addWidget(fileSystemBar_, 1);
    fileSystemRow->addWidget(skip_);
    layout->addLayout(fileSystemRow);
    layout->addWidget(new QLabel(tr("Analysing drive sectors progress:"), this));
    auto* sectorRow = new QHBoxLayout;
    sectorBar_ = new QProgressBar(this);
    sectorBar_->setObjectName(QStringLiteral("sectorProgress"));
    sectorBar_->setRange(0, 100);
    stop_ = new QPushButton(tr("Stop"), this);
    stop_->setObjectName(QStringLiteral("stop"));
    sectorRow->addWidget(sectorBar_, 1);
    sectorRow->addWidget(stop_);
    layout->addLayout(sectorRow);
    auto* lower = new QFormLayout;
    sector_ = Value(this, "sector");
    lower->addRow(tr("Sector:"), sector_);
    layout->addLayout(lower);
    layout->addWidget(new QLabel(tr("Progress Log:"), this));
    log_ = LogBox(this);
    layout->addWidget(log_, 1);
    auto* bottom = new QFormLayout;
    errors_ = Value(this, "readErrors");
    bottom->addRow(tr("Read errors:"), errors_);
    status_ = Value(this, "scanStatus");
    bottom->addRow(tr("Status:"), status_);
    layout->addLayout(bottom);
    connect(skip_, &QPushButton::clicked, this, &AnalysingPage::Skip);
    connect(stop_, &QPushButton::clicked, this, &AnalysingPage::Stop);
}

void AnalysingPage::Enter() {
    volume_ = wizard_.Volume();
    skipping_ = false;
    fileSystemDone_ = false;
    readErrors_ = 0;
    log_->clear();
    fileSystemBar_->setValue(0);
    sectorBar_->setValue(0);
    if (volume_ == nullptr || wizard_.App().IsBusy()) {
        Update();
        return;
    }
    // Both phases in one run, the way the explorer starts them.
    auto& settings = wizard_.App().Settings();
    settings.SetFlag(core::CSettings::kStartNextQueued, false);
    settings.SetContinueWithSectors(true);
    wizard_.BeginAnalysis(*volume_);
    volume_->FoundObjectTree->Clear();
    wizard_.Computer().StartAnalysis(*volume_);
    Update();
}

bool AnalysingPage::Running() const {
    return wizard_.App().IsBusy() || skipping_ ||
           (volume_ != nullptr && volume_->AnalysisThreadAlive());
}

bool AnalysingPage::NextEnabled() const {
    return !Running();
}

bool AnalysingPage::BackEnabled() const {
    return !Running();
}

void AnalysingPage::Skip() {
    if (volume_ == nullptr || volume_->VolumeState.load() != VolumeStatus::FileSystemPhase)
        return;
    // The run must not go on to its own sector phase once the file-system phase stops.
    wizard_.App().Settings().SetContinueWithSectors(false);
    wizard_.Computer().StopAnalysis(*volume_, true);
    wizard_.Computer().Log().LogMessage(StringId::OperationAborted);
    skipping_ = true;
    Tick();
}

void AnalysingPage::Stop() {
    skipping_ = false;
    wizard_.StopAnalysis();
    Update();
}

void AnalysingPage::OnMessage(const platform::Message& message) {
    if (volume_ == nullptr)
        return;
    if (message.id == WM_FILE_SYSTEM_PHASE_ENDED) {
        fileSystemDone_ = true;
        fileSystemBar_->setValue(100);
    } else if (message.id == WM_SECTOR_PHASE_STARTED) {
        sectorBar_->setValue(0);
    } else if (message.id == WM_SECTOR_PHASE_ENDED) {
        wizard_.Computer().StopAnalysis(*volume_, true);
        sectorBar_->setValue(100);
        Update();
        if (wizard_.CurrentPage() == this)
            wizard_.Next();
        return;
    } else if (message.id == WM_ANALYSIS_ENDED) {
        Update();
    }
}

void AnalysingPage::Tick() {
    // After Skip the sector phase starts once the file-system thread has let go.
    if (skipping_ && volume_ != nullptr && !volume_->AnalysisThreadAlive() &&
        !wizard_.App().IsBusy()) {
        skipping_ = false;
        fileSystemDone_ = true;
        fileSystemBar_->setValue(100);
        wizard_.Computer().StartSectorAnalysis(*volume_, false);
    }
    Update();
}

void AnalysingPage::AddLogLine(const QString& line) {
    log_->appendPlainText(line);
    if (IsErrorLine(line))
        ++readErrors_;
}

void AnalysingPage::Update() {
    const bool busy = wizard_.App().IsBusy();
    selected_->setText(volume_ != nullptr ? QString::fromStdString(volume_->DisplayNameText())
                                          : QString());
    errors_->setText(QString::number(readErrors_));
    status_->setText(Text(Running() ? StringId::Busy : StringId::Idle));
    const std::uint32_t state = volume_ != nullptr ? volume_->VolumeState.load() : 0;
    skip_->setEnabled(busy && !skipping_ && state == VolumeStatus::FileSystemPhase);
    stop_->setEnabled(busy || skipping_);
    if (volume_ == nullptr)
        return;
    found_->setText(QString::number(volume_->FilesFound.load() + volume_->SectorFilesFound.load()));
    if (!busy)
        return;
    if (state == VolumeStatus::FileSystemPhase) {
        fileSystemBar_->setValue(Percent(*volume_));
    } else if (state == VolumeStatus::SectorPhase) {
        if (!fileSystemDone_) {
            fileSystemDone_ = true;
            fileSystemBar_->setValue(100);
        }
        sectorBar_->setValue(Percent(*volume_));
        sector_->setText(
            tr("%1 of %2").arg(volume_->ProgressPosition.load()).arg(volume_->ProgressEnd.load()));
    }
}

// ---------------------------------------------------------------------------------------

ViewPage::ViewPage(WizardWindow& wizard, StringId title, StringId question, bool sinceEntry,
                   bool moreButtons)
    : WizardPage(wizard, title), question_(question), sinceEntry_(sinceEntry) {
    setObjectName(QStringLiteral("viewPage"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Found files:"), this));
    explorer_ = new ExploreView(wizard.Computer(), wizard.Ask(), this);
    layout->addWidget(explorer_, 1);
    auto* buttons = new QHBoxLayout;
    recover_ = new QPushButton(tr("&Recover..."), this);
    recover_->setObjectName(QStringLiteral("recover"));
    buttons->addWidget(recover_);
    connect(recover_, &QPushButton::clicked, this, [this] { wizard_.Recover(*explorer_); });
    if (moreButtons) {
        auto* tryOpen = new QPushButton(tr("&Try to Open..."), this);
        tryOpen->setObjectName(QStringLiteral("tryOpen"));
        auto* information = new QPushButton(tr("&Information..."), this);
        information->setObjectName(QStringLiteral("information"));
        buttons->addWidget(tryOpen);
        buttons->addWidget(information);
        connect(tryOpen, &QPushButton::clicked, this, [this] { wizard_.TryToOpen(*explorer_); });
        connect(information, &QPushButton::clicked, this,
                [this] { wizard_.ShowInformation(*explorer_); });
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);
    if (question == StringId::NothingRecoveredMoveOn && moreButtons) {
        auto* hint = new QLabel(tr("Press Next to search the drive sector by sector for the "
                                   "files the file system no longer lists."),
                                this);
        hint->setWordWrap(true);
        layout->addWidget(hint);
    }
}

void ViewPage::Enter() {
    recoveredAtEntry_ = wizard_.RecoveredTotal();
    CVolume* volume = wizard_.Volume();
    explorer_->RebuildDrives();
    if (volume != nullptr) {
        explorer_->SelectVolume(*volume);
        explorer_->TreeView()->expand(explorer_->TreeView()->currentIndex());
    }
    explorer_->RefreshFound();
}

bool ViewPage::NextEnabled() const {
    return !wizard_.App().IsBusy();
}

bool ViewPage::ConfirmNext() {
    const std::uint32_t recovered = wizard_.RecoveredTotal();
    const bool nothingRecovered = sinceEntry_ ? recovered == recoveredAtEntry_ : recovered == 0;
    if (wizard_.FilesFound() == 0 || !nothingRecovered)
        return true;
    return wizard_.Ask().AskYesNo(&wizard_, Text(StringId::Confirmation), Text(question_));
}

void ViewPage::Tick() {
    recover_->setEnabled(!wizard_.App().IsBusy());
}

// ---------------------------------------------------------------------------------------

FinishPage::FinishPage(WizardWindow& wizard, StringId title) : WizardPage(wizard, title) {
    setObjectName(QStringLiteral("finishPage"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    found_ = Value(this, "filesFound");
    recovered_ = Value(this, "filesRecovered");
    form->addRow(tr("Files found:"), found_);
    form->addRow(tr("Files Recovered:"), recovered_);
    layout->addLayout(form);
    explore_ = new QPushButton(tr("Explore Recovered Files"), this);
    explore_->setObjectName(QStringLiteral("exploreRecovered"));
    another_ = new QPushButton(tr("Process Another Drive"), this);
    another_->setObjectName(QStringLiteral("processAnother"));
    feedback_ = new QPushButton(tr("Send your feedback to us!"), this);
    feedback_->setObjectName(QStringLiteral("feedback"));
    feedback_->setFlat(true);
    for (QPushButton* button : {explore_, another_, feedback_}) {
        auto* row = new QHBoxLayout;
        row->addWidget(button);
        row->addStretch(1);
        layout->addLayout(row);
    }
    layout->addStretch(1);
    connect(explore_, &QPushButton::clicked, this, [this] {
        wizard_.ShowFolder(QString::fromStdString(wizard_.App().Settings().DestinationFolder()));
    });
    connect(another_, &QPushButton::clicked, this, [this] { wizard_.ProcessAnotherDrive(); });
    connect(feedback_, &QPushButton::clicked, this,
            [this] { wizard_.RunCommand(Command::HomePage); });
}

void FinishPage::Enter() {
    found_->setText(QString::number(wizard_.FilesFound()));
    recovered_->setText(QString::number(wizard_.RecoveredTotal()));
    explore_->setEnabled(!wizard_.App().Settings().DestinationFolder().empty());
}

QString FinishPage::FoundText() const {
    return found_->text();
}

QString FinishPage::RecoveredText() const {
    return recovered_->text();
}

}  // namespace duzez::ui
