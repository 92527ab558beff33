#include "ui/dialogs/format_properties_dialog.h"
#include "ui/dialogs/plain_label.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "signatures/signature_database.h"
#include "ui/viewer/hex_view.h"

namespace duzez::ui {
namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

HexView* PatternView(const QString& name, QWidget* parent) {
    auto* view = new HexView(parent);
    view->setObjectName(name);
    view->SetReadOnly(true);
    view->setMinimumHeight(120);
    return view;
}

}  // namespace

FormatPropertiesDialog::FormatPropertiesDialog(const signatures::Signature& format,
                                               const signatures::SignatureDatabase& database,
                                               QWidget* parent)
    : QDialog(parent), format_(format), database_(database) {
    setObjectName(QStringLiteral("formatProperties"));
    setWindowTitle(tr("File Format Properties"));
    auto* layout = new QVBoxLayout(this);
    auto* pages = new QTabWidget(this);
    pages->setObjectName(QStringLiteral("pages"));

    auto* description = new QWidget(pages);
    auto* descriptionForm = new QFormLayout(description);
    const signatures::Signature* group = database.FindGroup(format.GroupId);
    const QString groupTitle = group != nullptr ? Text(group->Title) : Text(format.Group);
    descriptionForm->addRow(tr("Title:"), PlainLabel(Text(format.Title), description, true));
    descriptionForm->addRow(tr("Category:"), PlainLabel(groupTitle, description, true));
    descriptionForm->addRow(tr("Description:"),
                            PlainLabel(Text(format.Description), description, true));
    pages->addTab(description, tr("Description"));

    auto* technical = new QWidget(pages);
    auto* technicalForm = new QFormLayout(technical);
    const auto add = [technical, technicalForm](const QString& label, const QString& value) {
        technicalForm->addRow(label, PlainLabel(value, technical, true));
    };
    add(tr("Typical file size:"), tr("%1 KB").arg(format.DefaultSize));
    add(tr("Search order:"), QString::number(format.SearchOrder));
    add(tr("Prefix:"), Text(format.Prefix));
    add(tr("Extensions:"), Text(format.FileExtensions));
    add(tr("Format identifier:"), QString::number(format.FormatId));
    add(tr("Coincidence:"), tr("%1 %").arg(format.Coincidence));
    add(tr("Group:"), groupTitle);
    pages->addTab(technical, tr("Technical Info"));

    pages->addTab(SignaturePage(), tr("Signature"));
    layout->addWidget(pages);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(620, 560);
    ShowPattern(0);
}

QWidget* FormatPropertiesDialog::SignaturePage() {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    auto* stepper = new QHBoxLayout();
    previous_ = new QPushButton(tr("< Previous"), page);
    next_ = new QPushButton(tr("Next >"), page);
    position_ = new QLabel(page);
    stepper->addWidget(previous_);
    stepper->addWidget(position_, 1, Qt::AlignCenter);
    stepper->addWidget(next_);
    layout->addLayout(stepper);
    options_ = new QLabel(page);
    layout->addWidget(options_);
    auto* dataBox = new QGroupBox(tr("Signature Data"), page);
    data_ = PatternView(QStringLiteral("signatureData"), dataBox);
    (new QVBoxLayout(dataBox))->addWidget(data_);
    auto* maskBox = new QGroupBox(tr("Signature Mask"), page);
    mask_ = PatternView(QStringLiteral("signatureMask"), maskBox);
    (new QVBoxLayout(maskBox))->addWidget(mask_);
    layout->addWidget(dataBox, 1);
    layout->addWidget(maskBox, 1);
    connect(previous_, &QPushButton::clicked, this, [this] {
        if (pattern_ > 0)
            ShowPattern(pattern_ - 1);
    });
    connect(next_, &QPushButton::clicked, this, [this] { ShowPattern(pattern_ + 1); });
    return page;
}

void FormatPropertiesDialog::ShowPattern(std::size_t index) {
    const std::size_t count = format_.Patterns.size();
    if (count == 0) {
        pattern_ = 0;
        position_->setText(tr("No patterns"));
        options_->clear();
        data_->SetMemory({});
        mask_->SetMemory({});
        previous_->setEnabled(false);
        next_->setEnabled(false);
        return;
    }
    pattern_ = std::min(index, count - 1);
    // A copy taken under the database's lock: the scanner may be reading the patterns.
    const auto pattern = database_.GetPattern(format_, pattern_);
    if (!pattern)
        return;
    position_->setText(tr("Pattern %1 of %2").arg(pattern_ + 1).arg(count));
    options_->setText(tr("Compared bytes: %1%2")
                          .arg(pattern->CompareLength)
                          .arg(pattern->CheckByBits ? tr(", compared by bits") : QString()));
    data_->SetMemory(std::vector<std::uint8_t>(pattern->Value.begin(), pattern->Value.end()));
    mask_->SetMemory(std::vector<std::uint8_t>(pattern->Mask.begin(), pattern->Mask.end()));
    previous_->setEnabled(pattern_ > 0);
    next_->setEnabled(pattern_ + 1 < count);
}

void FormatPropertiesDialog::ShowPage(int page) {
    if (auto* pages = findChild<QTabWidget*>(QStringLiteral("pages")))
        pages->setCurrentIndex(page);
}

}  // namespace duzez::ui
