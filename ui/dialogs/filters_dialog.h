#pragma once

// The "Filters" dialog: what the explorer's list and tree show. Both pages edit a copy of
// the machine's active filter; OK stores it, saves it and tells the views.

#include <QDateTime>
#include <QDialog>
#include <cstdint>

class QCheckBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QTabWidget;

namespace duzez::devices {
class CLocalComputer;
}

namespace duzez::ui {

class FileTypesTree;

class FiltersDialog : public QDialog {
    Q_OBJECT

  public:
    explicit FiltersDialog(devices::CLocalComputer& computer, QWidget* parent = nullptr);

    // The pages' fields into the active filter, the view marks into the formats; both are
    // saved. Then filterChanged.
    void accept() override;

    QTabWidget* Pages() const { return pages_; }
    QCheckBox* ByWildcards() const { return byWildcards_; }
    QLineEdit* Pattern() const { return pattern_; }
    QCheckBox* DeletedOnly() const { return deletedOnly_; }
    QCheckBox* ByDate() const { return byDate_; }
    QDateEdit* DateFrom() const { return dateFrom_; }
    QDateEdit* DateTo() const { return dateTo_; }
    QRadioButton* AllTypes() const { return allTypes_; }
    QRadioButton* KnownTypes() const { return knownTypes_; }
    QRadioButton* CustomTypes() const { return customTypes_; }
    FileTypesTree* ViewTypes() const { return viewTypes_; }

  signals:
    // The active filter changed: the explorer views refilter.
    void filterChanged();

  private:
    QWidget* MakeGeneralPage();
    QWidget* MakeFileTypesPage();
    void UpdateEnabled();

    devices::CLocalComputer& computer_;
    QTabWidget* pages_ = nullptr;
    QCheckBox* byWildcards_ = nullptr;
    QLineEdit* pattern_ = nullptr;
    QCheckBox* deletedOnly_ = nullptr;
    QCheckBox* byDate_ = nullptr;
    QDateEdit* dateFrom_ = nullptr;
    QDateEdit* dateTo_ = nullptr;
    QRadioButton* allTypes_ = nullptr;
    QRadioButton* knownTypes_ = nullptr;
    QRadioButton* customTypes_ = nullptr;
    FileTypesTree* viewTypes_ = nullptr;
};

// File times (100 ns steps since 1601, as the record keeps them) and calendar days; the
// day's wall-clock reading is kept as it is, whatever the time zone.
std::uint64_t DayStartFileTime(QDate day);
std::uint64_t DayEndFileTime(QDate day);  // the last tick of the day
QDate FileTimeDay(std::uint64_t fileTime);

}  // namespace duzez::ui
