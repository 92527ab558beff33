#pragma once

// Thumbnails for the file list's grid view: a proxy over the list that answers the
// decoration of a photo with its thumbnail once a worker thread has made it, and with the
// usual icon until then. Thumbnails are kept while the program runs (up to a number that
// bounds the memory) and forgotten when the volume is analysed again.

#include <QIdentityProxyModel>
#include <QPixmap>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace duzez::devices {
class CVolume;
}
namespace duzez::filesystems {
struct FoundObject;
}

namespace duzez::ui {

class FileListModel;

class ThumbnailProxy : public QIdentityProxyModel {
    Q_OBJECT

  public:
    static constexpr int kEdge = 96;
    static constexpr std::size_t kKept = 2000;

    explicit ThumbnailProxy(FileListModel& list, QObject* parent = nullptr);
    ~ThumbnailProxy() override;

    QVariant data(const QModelIndex& index, int role) const override;
    // Drops waiting work and waits for the thumbnail being made: the objects are about to
    // be freed.
    void Forget();
    std::size_t Made() const;

  private:
    struct Job {
        devices::CVolume* volume = nullptr;
        const filesystems::FoundObject* object = nullptr;
    };
    void Request(devices::CVolume& volume, const filesystems::FoundObject& object) const;
    void Run();
    void Deliver(const filesystems::FoundObject* object, const QImage& image);

    FileListModel& list_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable std::deque<Job> queue_;
    mutable std::unordered_set<const filesystems::FoundObject*> asked_;
    bool busy_ = false;
    bool stop_ = false;
    std::unordered_map<const filesystems::FoundObject*, QPixmap> made_;
    std::deque<const filesystems::FoundObject*> order_;  // oldest first, for the bound
    std::thread worker_;
};

}  // namespace duzez::ui
