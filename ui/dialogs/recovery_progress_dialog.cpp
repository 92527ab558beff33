#include "ui/dialogs/recovery_progress_dialog.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "core/app.h"
#include "recovery/recovery.h"
#include "ui/frame/questions.h"

namespace duzez::ui {

namespace {

// Shows the folder in the file manager (the desktop's FileManager1 service), or opens it.
void ShowFolder(const QString& folder) {
    const QString uri = QUrl::fromLocalFile(QDir(folder).absolutePath()).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowFolders"));
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(folder).absolutePath()));
}

}  // namespace

RecoveryProgressDialog::RecoveryProgressDialog(recovery::CRecovery& engine, core::CApp& app,
                                               Questions& questions, QString destination,
                                               QWidget* parent)
    : QDialog(parent),
      engine_(engine),
      app_(app),
      questions_(questions),
      destination_(std::move(destination)) {
    setObjectName(QStringLiteral("recoveryProgress"));
    setWindowTitle(tr("Recovering files..."));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(tr("Total progress:")), 0, 0);
    total_ = new QLabel(this);
    grid->addWidget(total_, 0, 1);
    totalBar_ = new QProgressBar(this);
    grid->addWidget(totalBar_, 1, 0, 1, 2);
    grid->addWidget(new QLabel(tr("Current file:")), 2, 0);
    current_ = new QLabel(this);
    current_->setMinimumWidth(320);
    grid->addWidget(current_, 2, 1);
    fileBar_ = new QProgressBar(this);
    fileBar_->setRange(0, 100);
    grid->addWidget(fileBar_, 3, 0, 1, 2);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    grid->addWidget(summary_, 4, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    abort_ = new QPushButton(tr("Abort"), this);
    ok_ = new QPushButton(tr("OK"), this);
    show_ = new QPushButton(tr("Go to Recovered..."), this);
    ok_->hide();
    show_->hide();
    buttons->addStretch();
    buttons->addWidget(show_);
    buttons->addWidget(ok_);
    buttons->addWidget(abort_);
    grid->addLayout(buttons, 5, 0, 1, 2);
    connect(abort_, &QPushButton::clicked, this, &RecoveryProgressDialog::Abort);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(show_, &QPushButton::clicked, this, [this] { ShowFolder(destination_); });
    connect(&timer_, &QTimer::timeout, this, &RecoveryProgressDialog::Update);
    timer_.start(250);
    Update();
}

void RecoveryProgressDialog::Update() {
    const std::size_t total = engine_.RecoveryList.size();
    const bool done = engine_.Finished();
    const std::size_t index = std::min<std::size_t>(engine_.CurrentIndex.load(), total);
    const std::size_t shown = done ? total : index;
    total_->setText(tr("%1 of %2").arg(shown).arg(total));
    totalBar_->setRange(0, static_cast<int>(std::max<std::size_t>(total, 1)));
    totalBar_->setValue(static_cast<int>(shown));
    if (total != 0) {
        const auto* object = engine_.RecoveryList[done ? total - 1 : std::min(index, total - 1)];
        current_->setText(QStringLiteral("%1 [size: %2]")
                              .arg(QString::fromStdString(std::string(object->GetName())))
                              .arg(object->Size == filesystems::kUnknownSize
                                       ? QStringLiteral("?")
                                       : QString::number(object->Size)));
    }
    fileBar_->setValue(static_cast<int>(std::min<std::uint32_t>(engine_.FilePercent.load(), 100)));
    if (!done || finished_)
        return;
    finished_ = true;
    timer_.stop();
    fileBar_->setValue(100);
    std::size_t whole = 0;
    std::size_t failed = 0;
    for (const auto& result : engine_.Results) {
        if (result.outcome == recovery::FileOutcome::Recovered ||
            result.outcome == recovery::FileOutcome::AlreadyRecovered) {
            ++whole;
        } else {
            ++failed;
        }
    }
    summary_->setText(tr("%1 files recovered whole, %2 not (see the log).").arg(whole).arg(failed));
    abort_->hide();
    ok_->show();
    show_->show();
    ok_->setDefault(true);
    emit RecoveryFinished();
}

void RecoveryProgressDialog::Abort() {
    if (finished_)
        return;
    if (app_.Settings().ConfirmRecoveryAbort() &&
        !questions_.AskYesNo(this, tr("Confirmation"),
                             QString::fromStdString(app_.Languages().GetString(
                                 core::StringId::ConfirmStopRecovery)))) {
        return;
    }
    engine_.AbortRecovery();
}

void RecoveryProgressDialog::reject() {
    if (finished_)
        QDialog::reject();
    else
        Abort();
}

}  // namespace duzez::ui
