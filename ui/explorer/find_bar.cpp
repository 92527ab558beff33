#include "ui/explorer/find_bar.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <limits>

namespace duzez::ui {

namespace {

std::uint64_t FileTimeOfLocal(const QDateTime& when) {
    return FileTimeOf(
        std::chrono::system_clock::time_point(std::chrono::milliseconds(when.toMSecsSinceEpoch())));
}

QLabel* Heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// Radio buttons for `choices`, identified in the group by their position.
QButtonGroup* Choices(const QStringList& choices, const QString& name, QWidget* parent,
                      QVBoxLayout* layout) {
    auto* group = new QButtonGroup(parent);
    for (int i = 0; i < choices.size(); ++i) {
        auto* button = new QRadioButton(choices[i], parent);
        button->setObjectName(name + QString::number(i));
        group->addButton(button, i);
        layout->addWidget(button);
    }
    group->button(0)->setChecked(true);
    return group;
}

}  // namespace

FindBar::FindBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("findBar"));
    auto* layout = new QVBoxLayout(this);

    layout->addWidget(Heading(tr("All or part of the filename:"), this));
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("namePattern"));
    layout->addWidget(name_);
    layout->addWidget(new QLabel(tr("Hint: Use the '*' and '?' wildcards"), this));

    layout->addWidget(Heading(tr("When was it modified?"), this));
    when_ = Choices({tr("Don't remember"), tr("In the past week"), tr("In the past month"),
                     tr("In the past year"), tr("Specify dates")},
                    QStringLiteral("when"), this, layout);
    auto* dates = new QGridLayout;
    const QDate today = QDate::currentDate();
    from_ = new QDateEdit(today.addDays(-28), this);
    from_->setObjectName(QStringLiteral("dateFrom"));
    to_ = new QDateEdit(today, this);
    to_->setObjectName(QStringLiteral("dateTo"));
    for (QDateEdit* edit : {from_, to_})
        edit->setCalendarPopup(true);
    dates->addWidget(new QLabel(tr("from"), this), 0, 0);
    dates->addWidget(from_, 0, 1);
    dates->addWidget(new QLabel(tr("to"), this), 1, 0);
    dates->addWidget(to_, 1, 1);
    layout->addLayout(dates);

    layout->addWidget(Heading(tr("What size is it?"), this));
    size_ = Choices(
        {tr("Don't remember"), tr("Small (less than 100 KB)"), tr("Medium (less than 1 MB)"),
         tr("Large (greater than 1 MB)"), tr("Specify size (in KB)")},
        QStringLiteral("size"), this, layout);
    auto* sizeRow = new QHBoxLayout;
    comparison_ = new QComboBox(this);
    comparison_->setObjectName(QStringLiteral("sizeComparison"));
    comparison_->addItems({QStringLiteral(" ="), QStringLiteral(" >"), QStringLiteral(" <")});
    sizeValue_ = new QSpinBox(this);
    sizeValue_->setObjectName(QStringLiteral("sizeValue"));
    sizeValue_->setRange(0, std::numeric_limits<int>::max());
    unit_ = new QComboBox(this);
    unit_->setObjectName(QStringLiteral("sizeUnit"));
    unit_->addItems({QStringLiteral(" B "), QStringLiteral(" KB"), QStringLiteral(" MB"),
                     QStringLiteral(" GB")});
    unit_->setCurrentIndex(1);
    sizeRow->addWidget(comparison_);
    sizeRow->addWidget(sizeValue_, 1);
    sizeRow->addWidget(unit_);
    layout->addLayout(sizeRow);

    deletedOnly_ = new QCheckBox(tr("Search for deleted files only"), this);
    deletedOnly_->setObjectName(QStringLiteral("deletedOnly"));
    layout->addWidget(deletedOnly_);
    filesOnly_ = new QCheckBox(tr("Ignore folders (search for files only)"), this);
    filesOnly_->setObjectName(QStringLiteral("filesOnly"));
    layout->addWidget(filesOnly_);

    auto* buttons = new QHBoxLayout;
    search_ = new QPushButton(tr("Search"), this);
    search_->setObjectName(QStringLiteral("search"));
    search_->setDefault(true);
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    buttons->addStretch(1);
    buttons->addWidget(search_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    layout->addStretch(1);

    connect(when_, &QButtonGroup::idToggled, this, [this] { UpdateEnabled(); });
    connect(size_, &QButtonGroup::idToggled, this, [this] { UpdateEnabled(); });
    const auto search = [this] {
        if (search_->isEnabled())
            emit SearchRequested(Criteria());
    };
    connect(search_, &QPushButton::clicked, this, search);
    connect(name_, &QLineEdit::returnPressed, this, search);
    connect(cancel_, &QPushButton::clicked, this, &FindBar::Cancelled);
    UpdateEnabled();
}

FindCriteria FindBar::Criteria() const {
    FindCriteria criteria;
    criteria.namePattern = name_->text().toStdString();
    criteria.modified = static_cast<FindCriteria::When>(when_->checkedId());
    // Whole days, from the first moment of "from" to the last of "to".
    criteria.modifiedFrom = FileTimeOfLocal(from_->date().startOfDay());
    const std::uint64_t afterTo = FileTimeOfLocal(to_->date().addDays(1).startOfDay());
    criteria.modifiedTo = afterTo > 0 ? afterTo - 1 : 0;
    criteria.size = static_cast<FindCriteria::Size>(size_->checkedId());
    criteria.comparison = static_cast<FindCriteria::Comparison>(comparison_->currentIndex());
    criteria.sizeValue = static_cast<std::uint64_t>(sizeValue_->value());
    criteria.unit = static_cast<FindCriteria::Unit>(unit_->currentIndex());
    criteria.deletedOnly = deletedOnly_->isChecked();
    criteria.filesOnly = filesOnly_->isChecked();
    return criteria;
}

void FindBar::SetSearching(bool searching) {
    search_->setEnabled(!searching);
}

void FindBar::UpdateEnabled() {
    const bool dates = when_->checkedId() == static_cast<int>(FindCriteria::When::Between);
    from_->setEnabled(dates);
    to_->setEnabled(dates);
    const bool size = size_->checkedId() == static_cast<int>(FindCriteria::Size::Specified);
    comparison_->setEnabled(size);
    sizeValue_->setEnabled(size);
    unit_->setEnabled(size);
}

}  // namespace duzez::ui
