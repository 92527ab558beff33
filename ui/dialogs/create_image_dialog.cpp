#include "ui/dialogs/create_image_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>
#include <chrono>
#include <filesystem>

#include "core/app.h"
#include "devices/local_computer.h"
#include "devices/volume.h"
#include "ui/frame/questions.h"

namespace duzez::ui {
namespace {

constexpr int kPollMs = 250;

// The folder of the last image written in this program run.
QString& LastFolder() {
    static QString folder;
    return folder;
}

QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

std::filesystem::path PathOf(const QString& text) {
    return std::filesystem::path(text.toStdString());
}

QString ErrorCaption(const devices::CVolume& volume) {
    return Utf8(volume.Computer().App().Languages().GetString(core::StringId::Error));
}

}  // namespace

CreateImageDialog::CreateImageDialog(devices::CVolume& volume, Questions& questions,
                                     QWidget* parent)
    : QDialog(parent), volume_(volume.weak_from_this()), questions_(questions) {
    setObjectName(QStringLiteral("createImageDialog"));
    setWindowTitle(tr("Creating Drive Image"));
    auto* layout = new QVBoxLayout(this);
    auto* source = new QLabel(Utf8(volume.DisplayNameText()), this);
    source->setTextFormat(Qt::PlainText);  // labels come from the disk
    layout->addWidget(source);

    auto* row = new QHBoxLayout;
    path_ = new QLineEdit(ProposedPath(volume), this);
    path_->setObjectName(QStringLiteral("imagePath"));
    path_->setMinimumWidth(380);
    browse_ = new QPushButton(tr("Browse..."), this);
    connect(browse_, &QPushButton::clicked, this, &CreateImageDialog::Browse);
    row->addWidget(path_, 1);
    row->addWidget(browse_);
    layout->addLayout(row);

    skipUnreadable_ = new QCheckBox(tr("Skip unreadable sectors"), this);
    skipUnreadable_->setObjectName(QStringLiteral("skipUnreadable"));
    layout->addWidget(skipUnreadable_);

    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    layout->addWidget(bar_);
    auto* figures = new QGridLayout;
    figures->addWidget(new QLabel(tr("Elapsed time:"), this), 0, 0);
    elapsed_ = new QLabel(this);
    figures->addWidget(elapsed_, 0, 1);
    figures->addWidget(new QLabel(tr("Transfer speed:"), this), 1, 0);
    speed_ = new QLabel(this);
    figures->addWidget(speed_, 1, 1);
    figures->setColumnStretch(1, 1);
    layout->addLayout(figures);

    auto* buttons = new QDialogButtonBox(this);
    start_ = buttons->addButton(tr("Start"), QDialogButtonBox::AcceptRole);
    cancel_ = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    start_->setDefault(true);
    connect(start_, &QPushButton::clicked, this, [this] { Start(); });
    connect(cancel_, &QPushButton::clicked, this, &CreateImageDialog::reject);
    layout->addWidget(buttons);

    timer_.setInterval(kPollMs);
    connect(&timer_, &QTimer::timeout, this, &CreateImageDialog::Poll);
}

// The copy stops and its thread is joined before the dialog's widgets go.
CreateImageDialog::~CreateImageDialog() {
    timer_.stop();
    if (copy_) {
        copy_->Stop();
        copy_->Wait();
    }
}

QString CreateImageDialog::ProposedPath(const devices::CVolume& volume) {
    QString folder = LastFolder();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    const QString name = Utf8(devices::ProposedImageName(volume)) + QLatin1Char('.') +
                         QString::fromUtf8(devices::kImageExtension.data(),
                                           static_cast<qsizetype>(devices::kImageExtension.size()));
    return QDir(folder).filePath(name);
}

QString CreateImageDialog::ImagePath() const {
    return path_->text().trimmed();
}

void CreateImageDialog::SetImagePath(const QString& path) {
    path_->setText(path);
}

void CreateImageDialog::Browse() {
    QFileDialog dialog(this, tr("Create Drive Image"), ImagePath());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters({tr("Drive Image Files ( *.dsk ) (*.dsk)"), tr("All Files ( *.* ) (*)")});
    dialog.setDefaultSuffix(QStringLiteral("dsk"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString chosen = dialog.selectedFiles().constFirst();
    path_->setText(chosen);
    // The save dialog asked before naming an existing file.
    if (QFileInfo::exists(chosen))
        confirmedReplace_ = chosen;
}

bool CreateImageDialog::Start() {
    if (copy_)
        return false;
    const std::shared_ptr<devices::CVolume> volume = volume_.lock();
    const QString path = ImagePath();
    if (!volume || path.isEmpty())
        return false;
    const std::filesystem::path target = PathOf(QFileInfo(path).absoluteFilePath());
    devices::CLocalComputer& computer = volume->Computer();
    // The folder decides: on the drive itself, or holding the image file being copied.
    if (computer.DestinationOnSource(target.parent_path(), volume.get())) {
        questions_.Tell(this, ErrorCaption(*volume),
                        tr("The image cannot be written to the drive it is made of. Choose a "
                           "folder on another drive."));
        return false;
    }
    std::error_code ec;
    if (std::filesystem::exists(target, ec)) {
        if (path != confirmedReplace_ &&
            !questions_.AskYesNo(this, tr("Create Drive Image"),
                                 tr("'%1' exists already. Replace it?").arg(path))) {
            return false;
        }
        // The engine writes new files only.
        if (!std::filesystem::remove(target, ec) || ec) {
            questions_.Tell(
                this, ErrorCaption(*volume),
                tr("'%1' cannot be replaced: %2").arg(path, QString::fromStdString(ec.message())));
            return false;
        }
    }
    std::string error;
    copy_ = devices::CreateImage(*volume, target, nullptr, skipUnreadable_->isChecked(), error);
    if (!copy_) {
        questions_.Tell(this, ErrorCaption(*volume), Utf8(error));
        return false;
    }
    path_->setEnabled(false);
    browse_->setEnabled(false);
    skipUnreadable_->setEnabled(false);
    start_->setEnabled(false);
    bar_->setValue(0);
    timer_.start();
    return true;
}

bool CreateImageDialog::Running() const {
    return copy_ && !copy_->Job.Finished.load();
}

int CreateImageDialog::Percent() const {
    return bar_->value();
}

void CreateImageDialog::Poll() {
    if (!copy_)
        return;
    const devices::ImageJob& job = copy_->Job;
    if (job.Finished.load()) {
        Finish();
        return;
    }
    const std::uint64_t total = job.TotalSectors.load();
    const std::uint64_t current = job.CurrentSector.load();
    if (total != 0)
        bar_->setValue(static_cast<int>(current * 100 / total));
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now() - job.StartTime)
                             .count();
    elapsed_->setText(
        QTime(0, 0).addSecs(static_cast<int>(elapsed)).toString(QStringLiteral("hh:mm:ss")));
    if (elapsed > 0) {
        const auto kbPerSecond = static_cast<qlonglong>(current * 512 / 1024) / elapsed;
        speed_->setText(QLocale().toString(kbPerSecond) + QStringLiteral(" KB\\s"));
    }
}

void CreateImageDialog::Finish() {
    timer_.stop();
    copy_->Wait();
    const devices::ImageJob& job = copy_->Job;
    const QString path = ImagePath();
    std::error_code ec;
    if (!job.Error.empty() && !std::filesystem::exists(job.ImagePath, ec)) {
        // Nothing was created: the dialog has nothing more to show.
        if (auto volume = volume_.lock())
            questions_.Tell(this, ErrorCaption(*volume), Utf8(job.Error));
        copy_.reset();
        QDialog::reject();
        return;
    }
    cancel_->setText(tr("OK"));
    if (!job.Error.empty()) {
        // A partial image stays for the user; it is not loaded as a complete one.
        if (auto volume = volume_.lock())
            questions_.Tell(this, ErrorCaption(*volume), Utf8(job.Error));
        return;
    }
    bar_->setValue(100);
    created_ = path;
    LastFolder() = QFileInfo(path).absolutePath();
    emit ImageCreated(path);
}

void CreateImageDialog::reject() {
    timer_.stop();
    if (copy_) {
        copy_->Stop();
        copy_->Wait();
    }
    if (!created_.isEmpty()) {
        QDialog::accept();
        return;
    }
    QDialog::reject();
}

}  // namespace duzez::ui
