#include "ui/dialogs/settings_sheet.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/app.h"
#include "devices/local_computer.h"
#include "platform/program_folders.h"
#include "ui/dialogs/file_types_dialog.h"
#include "ui/frame/menu_translation.h"
#include "ui/frame/questions.h"
#include "ui/icons.h"

namespace duzez::ui {
namespace {

constexpr std::int64_t kMinLogSizeKb = 1;
constexpr std::int64_t kMaxLogSizeKb = 102400;

QLabel* Note(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QCheckBox* Check(const QString& text, const char* name, bool checked, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    return box;
}

}  // namespace

NumberBox::NumberBox(std::int64_t minimum, std::int64_t maximum, QWidget* parent)
    : QAbstractSpinBox(parent), minimum_(minimum), maximum_(maximum) {
    SetValue(minimum);
}

std::optional<std::int64_t> NumberBox::Value() const {
    bool ok = false;
    const qlonglong value = text().trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

void NumberBox::SetValue(std::int64_t value) {
    lineEdit()->setText(QString::number(static_cast<qlonglong>(value)));
}

bool NumberBox::InRange() const {
    const auto value = Value();
    return value && *value >= minimum_ && *value <= maximum_;
}

void NumberBox::stepBy(int steps) {
    const std::int64_t from = Value().value_or(minimum_);
    SetValue(std::clamp<std::int64_t>(from + steps, minimum_, maximum_));
}

QValidator::State NumberBox::validate(QString& input, int& /*position*/) const {
    // Out-of-range numbers are typed as the user likes; the sheet refuses them on storing.
    for (const QChar c : input) {
        if (!c.isDigit() && c != QLatin1Char('-'))
            return QValidator::Invalid;
    }
    bool ok = false;
    input.toLongLong(&ok);
    return ok ? QValidator::Acceptable : QValidator::Intermediate;
}

QAbstractSpinBox::StepEnabled NumberBox::stepEnabled() const {
    const std::int64_t value = Value().value_or(minimum_);
    StepEnabled enabled = StepNone;
    if (value < maximum_)
        enabled |= StepUpEnabled;
    if (value > minimum_)
        enabled |= StepDownEnabled;
    return enabled;
}

SettingsSheet::SettingsSheet(core::CApp& app, devices::CLocalComputer& computer,
                             Questions& questions, int page, QWidget* parent)
    : QDialog(parent), app_(app), computer_(computer), questions_(questions) {
    setObjectName(QStringLiteral("settingsSheet"));
    setWindowTitle(Translated("ProgramSettings", QString::fromStdString(app_.Languages().GetString(
                                                     core::StringId::Settings))));

    pageList_ = new QListWidget(this);
    pageList_->setObjectName(QStringLiteral("settingsPages"));
    pageList_->setIconSize(QSize(48, 48));
    pageList_->setMaximumWidth(200);
    pages_ = new QStackedWidget(this);

    AddPage(MakeCommonPage(), "ProgrammSettings.Common", tr("Common Settings"),
            "preferences-system");
    AddPage(MakeConfirmationsPage(), "ProgrammSettings.Confirms", tr("Confirmations"),
            "dialog-question");
    AddPage(MakeFileTypesPage(), "ProgrammSettings.SearchFileTypes", tr("File Types"),
            "image-x-generic");
    AddPage(MakeTemporaryPage(), "ProgrammSettings.Temporary", tr("Temporary Folder"), "folder");
    AddPage(MakeDriveAccessPage(), "ProgrammSettings.DriveAccess", tr("Drive Access"),
            "drive-harddisk");
    AddPage(MakeLoggingPage(), "ProgrammSettings.Logging", tr("Logging"), "text-x-generic");
    AddPage(MakeLanguagePage(), "ProgrammSettings.Languages", tr("Interface Language"),
            "preferences-desktop-locale");
    connect(pageList_, &QListWidget::currentRowChanged, pages_, &QStackedWidget::setCurrentIndex);

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    applyButton_ = buttons->button(QDialogButtonBox::Apply);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsSheet::reject);
    connect(applyButton_, &QPushButton::clicked, this, [this] { Apply(); });

    auto* body = new QHBoxLayout();
    body->addWidget(pageList_);
    body->addWidget(pages_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(buttons);

    UpdateEnabled();
    SetCurrentPage(page);
    resize(700, 480);
}

QString SettingsSheet::Translated(const char* section, const QString& fallback) const {
    return QString::fromStdString(app_.Languages().ReadValue(section, "0", fallback.toStdString()));
}

void SettingsSheet::AddPage(QWidget* page, const char* section, const QString& title,
                            const char* icon) {
    const QString shown = Translated(section, title);
    page->setObjectName(QString::fromLatin1(section));
    page->setWindowTitle(shown);
    pages_->addWidget(page);
    new QListWidgetItem(ThemeIcon(icon), shown, pageList_);
}

int SettingsSheet::CurrentPage() const {
    return pages_->currentIndex();
}

void SettingsSheet::SetCurrentPage(int page) {
    pageList_->setCurrentRow(std::clamp(page, 0, kPageCount - 1));
}

QString SettingsSheet::PageTitle(int page) const {
    const QListWidgetItem* item = pageList_->item(page);
    return item != nullptr ? item->text() : QString();
}

QWidget* SettingsSheet::MakeCommonPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    showSplash_ = Check(tr("Show Splash screen at startup"), "showSplash",
                        app_.Settings().ShowSplash(), page);
    layout->addWidget(showSplash_);
    layout->addStretch();
    return page;
}

QWidget* SettingsSheet::MakeConfirmationsPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    const core::CSettings& settings = app_.Settings();
    confirmShutdown_ = Check(tr("Confirm application shutdown"), "confirmShutdown",
                             settings.ConfirmShutdown(), page);
    confirmScanAbort_ =
        Check(tr("Confirm scan abort"), "confirmScanAbort", settings.ConfirmScanAbort(), page);
    confirmRecoveryAbort_ = Check(tr("Confirm recovery abort"), "confirmRecoveryAbort",
                                  settings.ConfirmRecoveryAbort(), page);
    noTryOpenWarning_ = Check(tr("Do not show warning message in \"Try to open\" "),
                              "noTryOpenWarning", settings.NoTryOpenWarning(), page);
    for (QCheckBox* box :
         {confirmShutdown_, confirmScanAbort_, confirmRecoveryAbort_, noTryOpenWarning_})
        layout->addWidget(box);
    layout->addStretch();
    return page;
}

QWidget* SettingsSheet::MakeFileTypesPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(Note(tr("Check the file types to search for when the drive is scanned "
                              "sector by sector."),
                           page));
    layout->addWidget(Note(tr("Right-click the list to check or uncheck all types, or to see "
                              "the properties of a type."),
                           page));
    searchTypes_ = new FileTypesTree(computer_.Signatures(), FileTypeMark::Search, page);
    layout->addWidget(searchTypes_, 1);
    return page;
}

QWidget* SettingsSheet::MakeTemporaryPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    systemTemp_ = new QRadioButton(tr("System default temporary folder"), page);
    systemTemp_->setObjectName(QStringLiteral("systemTemp"));
    customTemp_ = new QRadioButton(tr("Custom temporary folder:"), page);
    customTemp_->setObjectName(QStringLiteral("customTemp"));
    auto* choice = new QButtonGroup(page);
    choice->addButton(systemTemp_);
    choice->addButton(customTemp_);
    tempFolder_ = new QLineEdit(page);
    tempFolder_->setObjectName(QStringLiteral("tempFolder"));
    tempFolder_->setMaxLength(static_cast<int>(core::CSettings::kFolderCapacity));
    browseTemp_ = new QPushButton(tr("Browse..."), page);
    browseTemp_->setObjectName(QStringLiteral("browseTemp"));

    const std::string stored = app_.Settings().TempFolder();
    const QString system = QString::fromStdString(platform::SystemTempFolder().string());
    // The stored folder decides, not the stored choice: a folder equal to the system's is
    // the system choice whatever was picked before.
    const bool custom = QString::fromStdString(stored).compare(system, Qt::CaseInsensitive) != 0;
    (custom ? customTemp_ : systemTemp_)->setChecked(true);
    tempFolder_->setText(QString::fromStdString(stored));

    connect(customTemp_, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
    connect(browseTemp_, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, tr("Select New Temporary Folder"), tempFolder_->text());
        if (!folder.isEmpty())
            tempFolder_->setText(folder);
    });

    auto* row = new QHBoxLayout();
    row->addWidget(tempFolder_, 1);
    row->addWidget(browseTemp_);
    layout->addWidget(systemTemp_);
    layout->addWidget(customTemp_);
    layout->addLayout(row);
    layout->addStretch();
    return page;
}

QWidget* SettingsSheet::MakeDriveAccessPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    const core::CSettings& settings = app_.Settings();
    retryAttempts_ = new NumberBox(0, core::CSettings::kMaxRetryAttempts, page);
    retryAttempts_->setObjectName(QStringLiteral("retryAttempts"));
    retryAttempts_->SetValue(settings.ReadRetryAttempts());
    retryPause_ = new NumberBox(0, core::CSettings::kMaxRetryPauseMs, page);
    retryPause_->setObjectName(QStringLiteral("retryPause"));
    retryPause_->SetValue(settings.RetryPauseMs());
    grid->addWidget(new QLabel(tr("Retry attempts:"), page), 0, 0);
    grid->addWidget(retryAttempts_, 0, 1);
    grid->addWidget(Note(tr("Increase if your medium is physically damaged."), page), 1, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Pause between retry attempts:"), page), 2, 0);
    grid->addWidget(retryPause_, 2, 1);
    grid->addWidget(new QLabel(tr("ms"), page), 2, 2);
    grid->addWidget(Note(tr("Use a pause between retries for old/unstable reading devices."), page),
                    3, 0, 1, 3);
    grid->setRowStretch(4, 1);
    return page;
}

QWidget* SettingsSheet::MakeLoggingPage() {
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    const core::CSettings& settings = app_.Settings();
    saveLog_ = Check(tr("Save log in file"), "saveLog", settings.SaveLogInFile(), page);
    logFileNameLabel_ = new QLabel(tr("Log file name:"), page);
    logFileName_ = new QLineEdit(QString::fromStdString(settings.LogFileName()), page);
    logFileName_->setObjectName(QStringLiteral("logFileName"));
    logFileName_->setMaxLength(static_cast<int>(core::CSettings::kLogFileNameCapacity) - 1);
    logFileSizeLabel_ = new QLabel(tr("Maximum log file size:"), page);
    logFileSize_ = new NumberBox(kMinLogSizeKb, kMaxLogSizeKb, page);
    logFileSize_->setObjectName(QStringLiteral("logFileSize"));
    logFileSize_->SetValue(settings.MaxLogFileSizeKb());
    logFileSizeUnit_ = new QLabel(tr("KB"), page);
    clearLog_ =
        Check(tr("Clear log file on startup"), "clearLog", settings.ClearLogOnStartup(), page);
    debugLog_ = Check(tr("Write log in system debug window"), "debugLog",
                      settings.LogToDebugOutput(), page);
    connect(saveLog_, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });

    grid->addWidget(saveLog_, 0, 0, 1, 3);
    grid->addWidget(logFileNameLabel_, 1, 0);
    grid->addWidget(logFileName_, 1, 1, 1, 2);
    grid->addWidget(logFileSizeLabel_, 2, 0);
    grid->addWidget(logFileSize_, 2, 1);
    grid->addWidget(logFileSizeUnit_, 2, 2);
    grid->addWidget(clearLog_, 3, 0, 1, 3);
    grid->addWidget(debugLog_, 4, 0, 1, 3);
    grid->setRowStretch(5, 1);
    return page;
}

QWidget* SettingsSheet::MakeLanguagePage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    languages_ = new QComboBox(page);
    languages_->setObjectName(QStringLiteral("languages"));
    FillLanguageList(app_.Languages(), *languages_);
    // Connected after filling: only the user's choice changes the language.
    connect(languages_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index < 0)
            return;
        app_.Settings().SetInterfaceLanguage(index);
        app_.Languages().SelectLanguage(index);
    });
    auto* row = new QHBoxLayout();
    row->addWidget(new QLabel(tr("Language:"), page));
    row->addWidget(languages_, 1);
    layout->addLayout(row);
    layout->addWidget(Note(tr("NOTE: After you change the interface language, the program must be "
                              "restarted for the change to take effect."),
                           page));
    layout->addWidget(Note(tr("Press F1 to get more information about localization of your copy "
                              "of the program."),
                           page));
    layout->addStretch();
    return page;
}

void SettingsSheet::UpdateEnabled() {
    const bool custom = customTemp_->isChecked();
    tempFolder_->setEnabled(custom);
    browseTemp_->setEnabled(custom);
    const bool toFile = saveLog_->isChecked();
    for (QWidget* control :
         std::initializer_list<QWidget*>{logFileNameLabel_, logFileName_, logFileSizeLabel_,
                                         logFileSize_, logFileSizeUnit_, clearLog_})
        control->setEnabled(toFile);
}

bool SettingsSheet::CheckNumbers() {
    const std::pair<NumberBox*, int> boxes[] = {
        {retryAttempts_, kDriveAccess}, {retryPause_, kDriveAccess}, {logFileSize_, kLogging}};
    for (const auto& [box, page] : boxes) {
        if (box->InRange())
            continue;
        SetCurrentPage(page);
        box->setFocus();
        box->selectAll();
        questions_.Tell(this, windowTitle(),
                        tr("Enter an integer between %1 and %2.")
                            .arg(static_cast<qlonglong>(box->Minimum()))
                            .arg(static_cast<qlonglong>(box->Maximum())));
        return false;
    }
    return true;
}

bool SettingsSheet::Apply() {
    if (!CheckNumbers())
        return false;
    core::CSettings& settings = app_.Settings();
    settings.SetFlag(core::CSettings::kShowSplash, showSplash_->isChecked());

    settings.SetFlag(core::CSettings::kConfirmShutdown, confirmShutdown_->isChecked());
    settings.SetFlag(core::CSettings::kConfirmScanAbort, confirmScanAbort_->isChecked());
    settings.SetFlag(core::CSettings::kConfirmRecoveryAbort, confirmRecoveryAbort_->isChecked());
    settings.SetFlag(core::CSettings::kNoTryOpenWarning, noTryOpenWarning_->isChecked());

    const bool custom = customTemp_->isChecked();
    settings.SetFlag(core::CSettings::kCustomTempFolder, custom);
    settings.SetTempFolder(custom ? tempFolder_->text().toStdString()
                                  : platform::SystemTempFolder().string());

    settings.SetWord(core::CSettings::kReadRetryAttempts,
                     static_cast<std::uint32_t>(*retryAttempts_->Value()));
    settings.SetWord(core::CSettings::kRetryPauseMs,
                     static_cast<std::uint32_t>(*retryPause_->Value()));

    settings.SetFlag(core::CSettings::kSaveLogInFile, saveLog_->isChecked());
    settings.SetLogFileName(logFileName_->text().toStdString());
    settings.SetWord(core::CSettings::kMaxLogFileSizeKb,
                     static_cast<std::uint32_t>(*logFileSize_->Value()));
    settings.SetFlag(core::CSettings::kClearLogOnStartup, clearLog_->isChecked());
    settings.SetFlag(core::CSettings::kLogToDebugOutput, debugLog_->isChecked());

    // The search marks would otherwise live only until the program ends.
    searchTypes_->StoreMarks();
    computer_.Signatures().SaveAll();
    settings.SaveIfChanged();
    return true;
}

void SettingsSheet::accept() {
    if (Apply())
        QDialog::accept();
}

}  // namespace duzez::ui
