#include "ui/dialogs/try_open_warning.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/app.h"

namespace duzez::ui {

TryOpenWarning::TryOpenWarning(core::CApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setObjectName(QStringLiteral("tryOpenWarning"));
    setWindowTitle(QString::fromStdString(app_.Languages().GetString(core::StringId::Warning)));
    auto* layout = new QVBoxLayout(this);
    const QString paragraphs[] = {
        tr("The file will be recovered into the temporary folder and opened in the program "
           "associated with its type."),
        tr("A damaged file may show \"garbage\", or may make that program stop responding."),
        tr("If the program stops responding, close its window; if it does not close, end it "
           "from the system monitor, or with the kill command in a terminal."),
    };
    for (const QString& text : paragraphs) {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        layout->addWidget(label);
    }
    dontShow_ = new QCheckBox(tr("Don't show this warning again."), this);
    dontShow_->setObjectName(QStringLiteral("dontShowAgain"));
    dontShow_->setChecked(app_.Settings().NoTryOpenWarning());
    layout->addWidget(dontShow_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TryOpenWarning::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TryOpenWarning::reject);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

void TryOpenWarning::accept() {
    app_.Settings().SetFlag(core::CSettings::kNoTryOpenWarning, dontShow_->isChecked());
    app_.Settings().SaveIfChanged();
    QDialog::accept();
}

bool ConfirmTryOpen(core::CApp& app, QWidget* parent) {
    if (app.Settings().NoTryOpenWarning())
        return true;
    TryOpenWarning warning(app, parent);
    return warning.exec() == QDialog::Accepted;
}

}  // namespace duzez::ui
