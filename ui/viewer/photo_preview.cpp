#include "ui/viewer/photo_preview.h"

#include <QBuffer>
#include <QImageReader>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

#include "devices/volume.h"
#include "filesystems/found_object_stream.h"
#include "platform/thread_priority.h"

namespace duzez::ui {

using filesystems::FoundObject;

Preview DecodePreview(std::span<const std::uint8_t> bytes, QSize box) {
    Preview preview;
    if (bytes.empty()) {
        preview.problem = QObject::tr("The file holds no data.");
        return preview;
    }
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    // A header may claim any size: what would not fit the decoder's memory limit (Qt's
    // allocation limit stays in force) is refused before anything is allocated.
    if (size.isValid() && static_cast<qint64>(size.width()) * size.height() > kPreviewMaxPixels) {
        preview.problem = QObject::tr("The picture claims to be %1 x %2 pixels; it is not shown.")
                              .arg(size.width())
                              .arg(size.height());
        return preview;
    }
    if (!reader.canRead() || !size.isValid() || size.isEmpty()) {
        preview.problem = QObject::tr("This is no picture the preview can read, or it is damaged.");
        return preview;
    }
    // A picture larger than the box is decoded small (JPEG does this in the decoder).
    if (box.isValid() && (size.width() > box.width() || size.height() > box.height()))
        reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio));
    preview.image = reader.read();
    if (preview.image.isNull()) {
        preview.problem = QObject::tr("The picture is damaged: %1").arg(reader.errorString());
    }
    return preview;
}

bool LooksLikeImage(const devices::CVolume& volume, const FoundObject& object) {
    if (object.Is(filesystems::ObjectFlags::Folder))
        return false;
    const QString name = QString::fromStdString(std::string(object.GetName())).toLower();
    static const char* const kExtensions[] = {".jpg", ".jpeg", ".png",  ".gif", ".bmp",
                                              ".tif", ".tiff", ".webp", ".ico"};
    for (const char* extension : kExtensions) {
        if (name.endsWith(QLatin1String(extension)))
            return true;
    }
    const std::string type = volume.FoundObjectTree->GetTypeName(object);
    return type.find("image") != std::string::npos || type.find("JPEG") != std::string::npos;
}

PreviewLoader::PreviewLoader(QObject* parent) : QObject(parent) {
    worker_ = std::thread([this] { Run(); });
}

PreviewLoader::~PreviewLoader() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        pending_.reset();
    }
    changed_.notify_all();
    worker_.join();
}

void PreviewLoader::Request(devices::CVolume& volume, const FoundObject& object, QSize box,
                            std::uint64_t ticket) {
    {
        std::lock_guard lock(mutex_);
        pending_ = Job{&volume, &object, box, ticket};
    }
    changed_.notify_all();
}

void PreviewLoader::CancelAndWait() {
    std::unique_lock lock(mutex_);
    pending_.reset();
    changed_.wait(lock, [this] { return !busy_; });
}

void PreviewLoader::Run() {
    platform::LowerCurrentThreadPriority();
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || pending_.has_value(); });
            if (stop_)
                return;
            job = *pending_;
            pending_.reset();
            busy_ = true;
        }
        Preview preview;
        try {
            filesystems::FoundObjectStream stream(*job.volume, job.object);
            const std::uint64_t size = job.object->Size;
            const std::size_t want =
                size == filesystems::kUnknownSize
                    ? kPreviewReadLimit
                    : static_cast<std::size_t>(std::min<std::uint64_t>(size, kPreviewReadLimit));
            std::vector<std::uint8_t> bytes(want);
            const std::uint32_t got =
                want == 0 || stream.CheckBounds() != 0 ? 0 : stream.Read(bytes);
            bytes.resize(got);
            preview = DecodePreview(bytes, job.box);
            if (got == 0 && want != 0)
                preview.problem = tr("The file's data could not be read.");
        } catch (const std::exception&) {
            preview.problem = tr("The preview could not be made.");
        }
        QMetaObject::invokeMethod(
            this,
            [this, ticket = job.ticket, preview] {
                emit Ready(ticket, preview.image, preview.problem);
            },
            Qt::QueuedConnection);
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
        changed_.notify_all();
    }
}

PhotoPreviewPane::PhotoPreviewPane(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("photoPreview"));
    auto* layout = new QVBoxLayout(this);
    image_ = new QLabel(this);
    image_->setAlignment(Qt::AlignCenter);
    image_->setMinimumSize(64, 64);
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    layout->addWidget(image_, 1);
    layout->addWidget(status_);
    giveUp_ = new QTimer(this);
    giveUp_->setSingleShot(true);
    connect(giveUp_, &QTimer::timeout, this, [this] {
        ++ticket_;  // what comes later is not shown
        status_->setText(tr("The picture takes too long to show; it may be damaged."));
    });
    connect(
        &loader_, &PreviewLoader::Ready, this,
        [this](quint64 ticket, const QImage& image, const QString& problem) {
            if (ticket != ticket_)
                return;
            giveUp_->stop();
            image_->setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
            status_->setText(problem.isEmpty()
                                 ? tr("%1 x %2 pixels shown").arg(image.width()).arg(image.height())
                                 : problem);
        });
}

void PhotoPreviewPane::Show(devices::CVolume* volume, const FoundObject* object) {
    ++ticket_;
    image_->clear();
    if (volume == nullptr || object == nullptr || !LooksLikeImage(*volume, *object)) {
        status_->setText(tr("Select a photo to see it here."));
        return;
    }
    status_->setText(
        tr("Reading %1...").arg(QString::fromStdString(std::string(object->GetName()))));
    const QSize box = image_->size().expandedTo(QSize(320, 240));
    loader_.Request(*volume, *object, box, ticket_);
    giveUp_->start(kGiveUpMs);
}

void PhotoPreviewPane::Clear() {
    Show(nullptr, nullptr);
}

QString PhotoPreviewPane::Status() const {
    return status_->text();
}

bool PhotoPreviewPane::HasImage() const {
    return !image_->pixmap().isNull();
}

}  // namespace duzez::ui
