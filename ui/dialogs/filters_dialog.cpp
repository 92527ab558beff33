#include "ui/dialogs/filters_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimeZone>
#include <QVBoxLayout>

#include "core/app.h"
#include "core/string_table.h"
#include "devices/local_computer.h"
#include "ui/dialogs/file_types_dialog.h"

namespace duzez::ui {
namespace {

constexpr std::int64_t kTicksPerMs = 10000;
constexpr std::int64_t kUnixEpochTicks = 116444736000000000;
constexpr std::int64_t kTicksPerDay = 864000000000;

}  // namespace

std::uint64_t DayStartFileTime(QDate day) {
    const qint64 ms = QDateTime(day, QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
    return static_cast<std::uint64_t>(kUnixEpochTicks + ms * kTicksPerMs);
}

std::uint64_t DayEndFileTime(QDate day) {
    return DayStartFileTime(day) + static_cast<std::uint64_t>(kTicksPerDay) - 1;
}

QDate FileTimeDay(std::uint64_t fileTime) {
    const auto ticks = static_cast<std::int64_t>(fileTime);
    if (fileTime == 0 || ticks < 0)
        return QDate::currentDate();
    const qint64 ms = (ticks - kUnixEpochTicks) / kTicksPerMs;
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).date();
}

FiltersDialog::FiltersDialog(devices::CLocalComputer& computer, QWidget* parent)
    : QDialog(parent), computer_(computer) {
    setObjectName(QStringLiteral("filtersDialog"));
    setWindowTitle(
        QString::fromStdString(computer_.App().Languages().GetString(core::StringId::Filters)));
    pages_ = new QTabWidget(this);
    pages_->addTab(MakeGeneralPage(), tr("General"));
    pages_->addTab(MakeFileTypesPage(), tr("File Types"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &FiltersDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FiltersDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages_, 1);
    layout->addWidget(buttons);
    UpdateEnabled();
    resize(480, 460);
}

QWidget* FiltersDialog::MakeGeneralPage() {
    const core::CFileFilter& filter = computer_.Filter();
    auto* page = new QWidget(this);
    auto* grid = new QGridLayout(page);
    byWildcards_ = new QCheckBox(tr("Show folders and files filtered by wildcards:"), page);
    byWildcards_->setObjectName(QStringLiteral("byWildcards"));
    byWildcards_->setChecked(filter.ByWildcards());
    pattern_ = new QLineEdit(QString::fromStdString(filter.WildcardPattern()), page);
    pattern_->setObjectName(QStringLiteral("pattern"));
    pattern_->setMaxLength(static_cast<int>(core::CFileFilter::kPatternCapacity) - 1);
    deletedOnly_ = new QCheckBox(tr("Show deleted files only"), page);
    deletedOnly_->setObjectName(QStringLiteral("deletedOnly"));
    deletedOnly_->setChecked(filter.DeletedOnly());
    byDate_ = new QCheckBox(tr("Date:"), page);
    byDate_->setObjectName(QStringLiteral("byDate"));
    byDate_->setChecked(filter.ByDate());
    dateFrom_ = new QDateEdit(FileTimeDay(filter.DateFrom()), page);
    dateFrom_->setObjectName(QStringLiteral("dateFrom"));
    dateFrom_->setCalendarPopup(true);
    dateTo_ = new QDateEdit(FileTimeDay(filter.DateTo()), page);
    dateTo_->setObjectName(QStringLiteral("dateTo"));
    dateTo_->setCalendarPopup(true);
    connect(byWildcards_, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(byDate_, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });

    grid->addWidget(byWildcards_, 0, 0, 1, 2);
    grid->addWidget(pattern_, 1, 0, 1, 2);
    grid->addWidget(deletedOnly_, 2, 0, 1, 2);
    grid->addWidget(byDate_, 3, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Between:"), page), 4, 0);
    grid->addWidget(dateFrom_, 4, 1);
    grid->addWidget(new QLabel(tr("and:"), page), 5, 0);
    grid->addWidget(dateTo_, 5, 1);
    grid->setRowStretch(6, 1);
    return page;
}

QWidget* FiltersDialog::MakeFileTypesPage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        new QLabel(tr("Specify the file types you want to appear in the list:"), page));
    allTypes_ = new QRadioButton(tr("Show all files"), page);
    allTypes_->setObjectName(QStringLiteral("allTypes"));
    knownTypes_ = new QRadioButton(tr("Show only known file types"), page);
    knownTypes_->setObjectName(QStringLiteral("knownTypes"));
    customTypes_ = new QRadioButton(tr("Custom:"), page);
    customTypes_->setObjectName(QStringLiteral("customTypes"));
    auto* choice = new QButtonGroup(page);
    for (QRadioButton* button : {allTypes_, knownTypes_, customTypes_}) {
        choice->addButton(button);
        layout->addWidget(button);
    }
    switch (computer_.Filter().Types()) {
        case core::CFileFilter::FileTypes::KnownOnly:
            knownTypes_->setChecked(true);
            break;
        case core::CFileFilter::FileTypes::Custom:
            customTypes_->setChecked(true);
            break;
        default:
            allTypes_->setChecked(true);
            break;
    }
    viewTypes_ = new FileTypesTree(computer_.Signatures(), FileTypeMark::View, page);
    layout->addWidget(viewTypes_, 1);
    connect(customTypes_, &QRadioButton::toggled, this, [this] { UpdateEnabled(); });
    return page;
}

void FiltersDialog::UpdateEnabled() {
    pattern_->setEnabled(byWildcards_->isChecked());
    dateFrom_->setEnabled(byDate_->isChecked());
    dateTo_->setEnabled(byDate_->isChecked());
    viewTypes_->setEnabled(customTypes_->isChecked());
}

void FiltersDialog::accept() {
    core::CFileFilter& filter = computer_.Filter();
    filter.SetByWildcards(byWildcards_->isChecked());
    filter.SetWildcardPattern(pattern_->text().toStdString());
    filter.SetDeletedOnly(deletedOnly_->isChecked());
    filter.SetByDate(byDate_->isChecked());
    filter.SetDateFrom(DayStartFileTime(dateFrom_->date()));
    filter.SetDateTo(DayEndFileTime(dateTo_->date()));
    using Types = core::CFileFilter::FileTypes;
    filter.SetTypes(customTypes_->isChecked()  ? Types::Custom
                    : knownTypes_->isChecked() ? Types::KnownOnly
                                               : Types::All);
    viewTypes_->StoreMarks();
    computer_.Signatures().SaveAll();
    core::CApp& app = computer_.App();
    filter.SaveFilter(app.Store(), app.GetRegistryPath());
    emit filterChanged();
    QDialog::accept();
}

}  // namespace duzez::ui
