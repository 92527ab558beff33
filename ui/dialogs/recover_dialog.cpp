#include "ui/dialogs/recover_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/app.h"
#include "ui/help/help_window.h"

namespace duzez::ui {

RecoverDialog::RecoverDialog(core::CApp& app, QWidget* parent) : QDialog(parent), app_(app) {
    setObjectName(QStringLiteral("recoverDialog"));
    setWindowTitle(tr("Recover"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("The target folder where the recovered files will be saved:")));
    auto* row = new QHBoxLayout;
    folder_ = new QLineEdit(QString::fromStdString(app_.Settings().DestinationFolder()), this);
    folder_->setObjectName(QStringLiteral("destination"));
    folder_->setMinimumWidth(360);
    auto* browse = new QPushButton(tr("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, tr("Select a folder"), folder_->text());
        if (!chosen.isEmpty())
            folder_->setText(chosen.endsWith(QLatin1Char('/')) ? chosen
                                                               : chosen + QLatin1Char('/'));
    });
    row->addWidget(folder_, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    auto* warning = new QLabel(
        tr("Warning: Never try to save recovered files to the same logical disk where they are "
           "located, or you may obtain unpredictable results and lose all your data!"),
        this);
    warning->setWordWrap(true);
    warning->setStyleSheet(QStringLiteral("color: #a00000;"));
    layout->addWidget(warning);
    keepFolders_ = new QCheckBox(tr("Keep folder structure"), this);
    keepFolders_->setChecked(app_.Settings().Flag(core::CSettings::kKeepFolderStructure));
    layout->addWidget(keepFolders_);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &RecoverDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RecoverDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this,
            [this] { HelpWindow::ShowPage(QStringLiteral("help/recovering.html"), this); });
    layout->addWidget(buttons);
}

QString RecoverDialog::Destination() const {
    return folder_->text().trimmed();
}

void RecoverDialog::SetDestination(const QString& folder) {
    folder_->setText(folder);
}

void RecoverDialog::accept() {
    if (Destination().isEmpty())
        return;
    app_.Settings().SetDestinationFolder(Destination().toStdString());
    app_.Settings().SetFlag(core::CSettings::kKeepFolderStructure, keepFolders_->isChecked());
    QDialog::accept();
}

}  // namespace duzez::ui
