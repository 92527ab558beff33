#pragma once

// How engine threads reach the window: Post puts a message into one locked queue that a
// short timer drains on the window's thread, so a scan that finds 100,000 files costs the
// event loop a few drains a second, not 100,000 events. Send (a status text) runs the
// handler on the window's thread and waits for it.

#include <QObject>
#include <QTimer>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/messages.h"

namespace duzez::ui {

class QueuedMessages : public QObject, public platform::MessageTarget {
    Q_OBJECT

  public:
    using Handler = std::function<std::int64_t(const platform::Message&)>;
    static constexpr int kDrainIntervalMs = 100;

    explicit QueuedMessages(Handler handler, QObject* parent = nullptr);
    ~QueuedMessages() override;

    bool Post(platform::Message message) override;
    std::int64_t Send(const platform::Message& message) override;

    // Handles what is queued now; the timer calls it, tests may too.
    void Drain();
    // Further messages are dropped (the window is closing).
    void Close();

  private:
    Handler handler_;
    QTimer timer_;
    std::mutex mutex_;
    std::vector<platform::Message> queue_;
    bool closed_ = false;
};

}  // namespace duzez::ui
