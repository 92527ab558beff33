#pragma once

// Previews of found photos. The bytes come from the engine's stream of the object and are
// decoded on a worker thread, never on the window's: recovered data is hostile, so the
// decoder gets an allocation limit and a scaled-down target, and a decode that takes too
// long is given up by the window (its late result is dropped).

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>

class QLabel;
class QTimer;

namespace duzez::devices {
class CVolume;
}
namespace duzez::filesystems {
struct FoundObject;
}

namespace duzez::ui {

struct Preview {
    QImage image;     // null when nothing could be shown
    QString problem;  // why not, in words for the user
};

// The largest file read for a preview, and the largest picture decoded (a 100-megapixel
// camera's; anything claiming more is a damaged or hostile header).
constexpr std::size_t kPreviewReadLimit = 64u << 20;
constexpr qint64 kPreviewMaxPixels = 120'000'000;

// Decodes `bytes` into an image that fits `box`.
Preview DecodePreview(std::span<const std::uint8_t> bytes, QSize box);

// Whether the object looks like something an image decoder can show (by name or type).
bool LooksLikeImage(const devices::CVolume& volume, const filesystems::FoundObject& object);

// One worker thread; the newest request replaces any older one not yet started.
class PreviewLoader : public QObject {
    Q_OBJECT

  public:
    explicit PreviewLoader(QObject* parent = nullptr);
    ~PreviewLoader() override;

    // Reads and decodes the object; Ready comes with the same ticket.
    void Request(devices::CVolume& volume, const filesystems::FoundObject& object, QSize box,
                 std::uint64_t ticket);
    // Forgets what is waiting and waits for a decode under way: the objects are about to be
    // freed (the volume is analysed again).
    void CancelAndWait();

  signals:
    void Ready(quint64 ticket, const QImage& image, const QString& problem);

  private:
    struct Job {
        devices::CVolume* volume = nullptr;
        const filesystems::FoundObject* object = nullptr;
        QSize box;
        std::uint64_t ticket = 0;
    };
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Job> pending_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread worker_;
};

// The bottom pane's preview: the focused photo scaled to the pane, or why there is none.
class PhotoPreviewPane : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kGiveUpMs = 5000;
    explicit PhotoPreviewPane(QWidget* parent = nullptr);

    void Show(devices::CVolume* volume, const filesystems::FoundObject* object);
    void Clear();
    // Before the volume is analysed again.
    void Forget() { loader_.CancelAndWait(); }
    QString Status() const;
    bool HasImage() const;

  private:
    PreviewLoader loader_;
    QLabel* image_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* giveUp_ = nullptr;
    std::uint64_t ticket_ = 0;
};

}  // namespace duzez::ui
