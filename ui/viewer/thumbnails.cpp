#include "ui/viewer/thumbnails.h"

#include <vector>

#include "devices/volume.h"
#include "filesystems/found_object_stream.h"
#include "platform/thread_priority.h"
#include "ui/explorer/file_list_model.h"
#include "ui/viewer/photo_preview.h"

namespace duzez::ui {

using filesystems::FoundObject;

ThumbnailProxy::ThumbnailProxy(FileListModel& list, QObject* parent)
    : QIdentityProxyModel(parent), list_(list) {
    setSourceModel(&list);
    worker_ = std::thread([this] { Run(); });
}

ThumbnailProxy::~ThumbnailProxy() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    worker_.join();
}

QVariant ThumbnailProxy::data(const QModelIndex& index, int role) const {
    if (role != Qt::DecorationRole || index.column() != 0)
        return QIdentityProxyModel::data(index, role);
    const FoundObject* object = list_.ObjectAt(mapToSource(index));
    devices::CVolume* volume = list_.Volume();
    if (object == nullptr || volume == nullptr)
        return QIdentityProxyModel::data(index, role);
    if (const auto found = made_.find(object); found != made_.end())
        return found->second;
    // Asked for only when the view draws the row: what is never seen is never decoded.
    if (LooksLikeImage(*volume, *object))
        Request(*volume, *object);
    return QIdentityProxyModel::data(index, role);
}

void ThumbnailProxy::Request(devices::CVolume& volume, const FoundObject& object) const {
    {
        std::lock_guard lock(mutex_);
        if (!asked_.insert(&object).second)
            return;
        // The newest first: the rows on screen now matter more than those scrolled past.
        queue_.push_front({&volume, &object});
    }
    changed_.notify_all();
}

void ThumbnailProxy::Forget() {
    std::unique_lock lock(mutex_);
    queue_.clear();
    changed_.wait(lock, [this] { return !busy_; });
    asked_.clear();
    made_.clear();
    order_.clear();
}

std::size_t ThumbnailProxy::Made() const {
    return made_.size();
}

void ThumbnailProxy::Run() {
    platform::LowerCurrentThreadPriority();
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_)
                return;
            job = queue_.front();
            queue_.pop_front();
            busy_ = true;
        }
        Preview preview;
        try {
            filesystems::FoundObjectStream stream(*job.volume, job.object);
            const std::uint64_t size = job.object->Size;
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(
                size == filesystems::kUnknownSize ? kPreviewReadLimit : size, kPreviewReadLimit));
            std::vector<std::uint8_t> bytes(want);
            const std::uint32_t got =
                want == 0 || stream.CheckBounds() != 0 ? 0 : stream.Read(bytes);
            bytes.resize(got);
            preview = DecodePreview(bytes, QSize(kEdge, kEdge));
        } catch (const std::exception&) {
            // No thumbnail: the row keeps its icon.
        }
        if (!preview.image.isNull()) {
            QMetaObject::invokeMethod(
                this,
                [this, object = job.object, image = preview.image] { Deliver(object, image); },
                Qt::QueuedConnection);
        }
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
        changed_.notify_all();
    }
}

void ThumbnailProxy::Deliver(const FoundObject* object, const QImage& image) {
    {
        std::lock_guard lock(mutex_);
        if (!asked_.count(object))
            return;  // forgotten since: the object may be gone
    }
    made_[object] = QPixmap::fromImage(image);
    order_.push_back(object);
    while (order_.size() > kKept) {
        made_.erase(order_.front());
        std::lock_guard lock(mutex_);
        asked_.erase(order_.front());
        order_.pop_front();
    }
    const int row = list_.RowOf(object);
    if (row >= 0) {
        const QModelIndex at = index(row, 0);
        emit dataChanged(at, at, {Qt::DecorationRole});
    }
}

}  // namespace duzez::ui
