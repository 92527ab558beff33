#pragma once

// The find bar: what the user remembers of the files to find (part of the name, when they
// were modified, how big they are, deleted ones only, files only), and Search and Cancel.

#include <QWidget>

#include "ui/explorer/find_in_found.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace duzez::ui {

class FindBar : public QWidget {
    Q_OBJECT

  public:
    explicit FindBar(QWidget* parent = nullptr);

    // The criteria the controls show; "Specify dates" covers whole local days.
    FindCriteria Criteria() const;
    // While a search runs "Search" is disabled; "Cancel" always answers.
    void SetSearching(bool searching);

  signals:
    void SearchRequested(const duzez::ui::FindCriteria& criteria);
    void Cancelled();

  private:
    void UpdateEnabled();

    QLineEdit* name_ = nullptr;
    QButtonGroup* when_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QButtonGroup* size_ = nullptr;
    QComboBox* comparison_ = nullptr;
    QSpinBox* sizeValue_ = nullptr;
    QComboBox* unit_ = nullptr;
    QCheckBox* deletedOnly_ = nullptr;
    QCheckBox* filesOnly_ = nullptr;
    QPushButton* search_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace duzez::ui
